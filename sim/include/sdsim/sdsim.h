// SPDX-License-Identifier: MIT
// sdsim: the virtual SD card.
//
// A virtual card is reached exactly like hardware: the unmodified library (or
// any program) opens the card's node path, sends SG_IO / MMC_IOC_CMD /
// BLKGETSIZE64 / BLKGETSIZE ioctls, reads sysfs and the mount table, and does
// direct I/O on the extension-mode host file. libsdsim.so interposes those C
// library calls for the node paths of the attached cards and passes every
// other call through untouched.
//
// Two ways in:
//   - Launcher: build/bin/sdsim --card sim/cards/usb.json -- program args...
//     (LD_PRELOAD of libsdsim.so; see sim/README.md for options and env vars).
//   - In-process: link the CMake target `sdsim` (build/lib/libsdsim.so) into a
//     test executable and attach cards through this header.
//
// Usage in a test:
//
//   #include "sdsim/sdsim.h"
//
//   sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
//   // ... run the library against card.Node() ("/dev/sdx") ...
//   std::vector<sdsim::Transfer> seen = card.Transcript();
//   EXPECT_EQ(seen[0], (sdsim::Transfer{"write", 0, 1, "enter v2"}));
//   EXPECT_FALSE(card.InSpecialMode());
//   card.SetFault(sdsim::FaultKind::FailTransfer, 3); // transfer 3 fails (EIO)
//   sdsim::DetachAll();
//
// CMake: target_link_libraries(my_tests PRIVATE sdsim). The target carries the
// include directory and the compile definition SDSIM_CARDS_DIR (absolute path
// of sim/cards, as a string literal).
//
// Transfer indices count the ioctl transfers of one card (SG_IO and
// MMC_IOC_CMD requests that pass validation) from 0. Host-file steps (every
// read/write/pread/pwrite on the card's extension-mode host file) are counted
// separately from 0 (FileStepCount()). All functions are thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sdsim {

// One entry of a card's transcript.
//   op:    "read" or "write" for sector transfers and host-file I/O;
//          "cmd" for transfers without sector data (SCSI TEST UNIT READY,
//          INQUIRY, READ CAPACITY; MMC CMD13, CMD12, CMD23, an eMMC's CMD8).
//   lba:   first sector (for host-file events: file offset / 512).
//   count: sectors (for host-file events: bytes / 512, rounded up).
//   what:  "enter v2", "enter v3", "leave", "header T", "detail T k",
//          "pmt poll", "data" (ordinary block I/O), "capacity",
//          "test unit ready", "inquiry", "status", "stop", "set block count",
//          "ext csd";
//          host-file events: "file command 0x101", "file write",
//          "file readback"; faulty or refused transfers: "failed",
//          "error status", "phase error", "illegal request", ..., or the
//          normal text followed by " (short)" or, for ErrorStatusWithData,
//          " (error status)".
struct Transfer {
  std::string op;
  std::uint32_t lba = 0;
  std::uint32_t count = 0;
  std::string what;
};
bool operator==(const Transfer &a, const Transfer &b);
bool operator!=(const Transfer &a, const Transfer &b);
// "write 0 1 enter v2" (for test messages).
std::string ToString(const Transfer &t);

enum class FaultKind {
  FailTransfer,    // ioctl returns -1, errno EIO; nothing transferred
  ErrorStatus,     // completes with an error: SCSI CHECK CONDITION MEDIUM ERROR
                   // (resid = dxfer_len), MMC R1 status with ERROR (data commands
                   // also CARD_ECC_FAILED); nothing transferred
  ShortTransfer,   // cut short: SCSI half the data moved, resid = the rest;
                   // MMC data commands: half the blocks moved, then ioctl -1 EIO
                   // (MMC commands without data answer as usual)
  Vanish,          // the card is gone from this transfer on: every ioctl on its
                   // descriptors fails (ENODEV), open of its node fails (ENOENT)
  Kill,            // the process is killed with SIGKILL before this transfer
  BusyForever,     // headers, first detail sectors and PMT polls stay busy
  BadSignature,    // served headers carry a damaged signature ("SI1")
  WrongDetailType, // served headers announce another detail type
  NoFileAnswer,    // host-file commands are not answered
  FileIoFail,      // host-file read/write step fails with EIO
  // Sector transfers only (SCSI READ(10)/WRITE(10), MMC CMD17/18/24/25): all
  // the data moves (resid 0), yet the command ends with an error status: SCSI
  // CHECK CONDITION MEDIUM ERROR, MMC R1 status with ERROR|CARD_ECC_FAILED.
  ErrorStatusWithData,
  FileKill, // the process is killed with SIGKILL before this host-file step
};

// Fault names as used by the launcher and SDSIM_FAULTS: "fail", "error",
// "short", "vanish", "kill", "busy-forever", "bad-signature", "wrong-type",
// "no-file-answer", "file-fail", "error-with-data", "file-kill".
const char *FaultName(FaultKind kind);
bool ParseFaultName(const std::string &name, FaultKind &kind);

// A fault takes effect at the first event it applies to whose index is at
// least `at`, and then on the following ones, `times` events in all (0: for
// ever). The index is the transfer index, except for NoFileAnswer, FileIoFail
// and FileKill (host-file step index) and for BusyForever, BadSignature and
// WrongDetailType answers placed in the host file (host-file step index).
// FailTransfer, ErrorStatus, ShortTransfer and Kill apply to any transfer;
// ErrorStatusWithData to sector transfers only; Vanish is permanent from `at`
// on; the header faults apply to header reads (BusyForever also to
// first-detail and PMT-poll reads).
struct Fault {
  FaultKind kind = FaultKind::FailTransfer;
  std::uint64_t at = 0;
  std::uint64_t times = 1;
};

class CardState; // implementation

class Card {
public:
  explicit Card(CardState &state) : State(&state) {}

  // Node path the card answers on, e.g. "/dev/sdx" or "/dev/mmcblk7".
  std::string Node() const;
  bool IsNative() const;        // node begins with "/dev/mmcblk"
  bool IsByteAddressed() const; // standard capacity, byte-addressed arguments
  std::uint64_t CapacitySectors() const;
  std::string EntryString() const;
  // Mount point of the card's file system ("" when the card is not mounted)
  // and the extension-mode host file in it.
  std::string MountPoint() const;
  std::string HostFilePath() const;

  // Transcript of this card, in order.
  std::vector<Transfer> Transcript() const;
  void ClearTranscript();
  // Host events on the card's descriptors, in order, kept apart from the
  // transfers (they take no transfer index): op "lock" ("lock exclusive",
  // "lock shared", "unlock"), op "close" ("close " + "writable" or
  // "read-only" + " locked" or " unlocked" (this process holds the card's
  // flock through another descriptor) + " pattern" or " data" (what sector
  // 0 holds at that moment)), op "ioctl" ("reread partitions", BLKRRPART).
  // `lba` is the index of the next transfer: the event came before it.
  std::vector<Transfer> Events() const;
  std::uint64_t TransferCount() const; // next transfer index
  std::uint64_t FileStepCount() const; // next host-file step index

  // Sector access behind the library's back (no transcript, no faults, no
  // firmware): the card's user data as stored.
  std::array<std::uint8_t, 512> ReadSector(std::uint32_t lba) const;
  void WriteSector(std::uint32_t lba, const std::uint8_t *data512);

  // Firmware state.
  bool InSpecialMode() const;
  int SpecialModeVersion() const; // 2 or 3 while in special mode, else 0
  // The 512-byte header the card would serve now for detail type T (card
  // byte order, not busy), and the concatenated detail sectors of type T.
  std::vector<std::uint8_t> HeaderSector(unsigned type) const;
  std::vector<std::uint8_t> DetailData(unsigned type) const;
  // The per-VB tables as configured (card values).
  std::vector<std::uint16_t> EraseCounts() const;
  std::vector<std::uint32_t> ReadCounts() const; // in reads; 0xFFFFFFFF: none
  std::vector<std::uint16_t> RuntimeStatus() const;
  unsigned PmtCleanCount() const; // PMT clean requests confirmed so far

  // Latency model: every transfer and every host-file step takes this long
  // (a real sleep after the step, with no lock held); 0 answers at once.
  // Set by the card file's "latency" and the launcher's --latency-us and
  // --file-latency-us.
  std::uint32_t TransferLatencyUs() const;
  std::uint32_t FileStepLatencyUs() const;
  void SetLatency(std::uint32_t transferUs, std::uint32_t fileStepUs);

  // Faults.
  void SetFault(FaultKind kind, std::uint64_t at, std::uint64_t times = 1);
  void AddFault(const Fault &fault);
  void ClearFaults();

private:
  CardState *State;
};

// Attach a card described by a card file (JSON) or by JSON text; relative
// paths in JSON text resolve against baseDir. Throws std::runtime_error on a
// bad description or a node already attached. The returned reference stays
// valid until DetachAll().
Card &AttachFile(const std::string &path);
Card &AttachJson(const std::string &jsonText, const std::string &baseDir = ".");
// Detach every card: descriptors handed out stop answering as cards (ioctl
// fails with ENOTTY), temporary mount points are removed.
void DetachAll();
// The card answering on node, or nullptr.
Card *Find(const std::string &node);
std::vector<Card *> Cards();

} // namespace sdsim
