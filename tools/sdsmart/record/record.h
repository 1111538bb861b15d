// SPDX-License-Identifier: MIT
// --record FILE: a recording of one reading, for a card to be replayed by
// the virtual card (sdsim --recording) and listed in docs/cards.md. The
// library reports every request it sends (SetTransferObserver); the tool
// keeps them in memory and writes them, redacted unless --record-raw, once
// the run is over. Recording adds no request to the run. A reading without
// the vendor path (an eMMC, a card read by its registers) sends the library
// nothing: its recording is the card's description alone, with what sysfs
// showed and, for an eMMC, the life estimate read.
#pragma once

#include "card/emmc_life.h"
#include "device/guard.h"
#include "output/output.h"
#include "run/run_status.h"
#include "util/files.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct Options;
struct RunPlan;

// One request as it was sent and answered. Which fields matter depends on
// Kind (SdsmartTransferKind): SG_IO, MMC_IOC_CMD or a host-file step.
struct RecordedRequest {
  int Kind = 0;
  // SG_IO
  std::vector<uint8_t> Cdb;
  int Direction = 0;
  unsigned SenseMax = 0;
  // MMC_IOC_CMD
  uint32_t Opcode = 0, Arg = 0, Flags = 0, BlockSize = 0, Blocks = 0;
  int WriteFlag = 0, AppCommand = 0;
  // host-file step
  uint64_t Offset = 0;
  uint32_t Length = 0;      // data bytes of the request, whatever its kind
  std::vector<uint8_t> Out; // sent to the card
  // the answer
  int Result = 0, Error = 0;
  unsigned Status = 0, MaskedStatus = 0, MsgStatus = 0, HostStatus = 0, DriverStatus = 0;
  int Resid = 0;
  unsigned Info = 0;
  std::vector<uint8_t> Sense;
  std::array<uint32_t, 4> Response{};
  std::vector<uint8_t> In; // received from the card
};

// What the run's card is, as the virtual card needs it to stand in for it.
struct RecordedCard {
  std::string Node;
  CardTransport Transport = CardTransport::UsbReader;
  uint64_t CapacitySectors = 0;
  bool ByteAddressed = false;
  std::array<uint8_t, 512> Sector0{}; // as the run found it (its first read)
  bool Sector0Known = false;
  bool Mounted = false;
  std::string MountFsType, MountOptions;
  unsigned Rca = 0, MmcHost = 0;           // native hosts
  std::vector<uint8_t> Cid, Csd, Scr, Ssr; // sysfs registers (native hosts)
  std::string Ocr;                         // device/ocr, as the kernel shows it
  // The model as sysfs names it: device/type ("SD", "MMC"), name, manfid,
  // oemid, date.
  std::string Type, Name, ManfId, OemId, Date;
  std::string ReaderUsbId, ReaderVendor, ReaderModel, ReaderSerial; // USB readers
  // A reading without the vendor path: no request, no sector 0; what the
  // tool read is the card's description, and an eMMC's life estimate.
  HealthSource Source = HealthSource::VendorSmart;
  std::optional<EmmcLife> Emmc;
};

struct Recording {
  RecordedCard Card;
  std::vector<RecordedRequest> Requests;
  bool Raw = false;
};

// Before the card is touched: the temporary file of --record FILE beside it,
// and, for a redacted recording, the key of its hashes in the state
// directory. False (said, exit bit of the output) when either cannot be had.
bool PrepareRecording(RunPlan &plan, RunStatus &status);

// Installs the observer for the length of one acquisition when the options
// ask for a recording; Finish writes the file the plan prepared.
class Recorder {
public:
  Recorder(RunPlan &plan, RunStatus &status);
  ~Recorder();
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;
  // After the run: the card's facts, the redaction and the file. A recording
  // that cannot be written fails the run.
  void Finish(const RunRecord &run);

private:
  const Options &Opts;
  std::unique_ptr<PendingFile> File;
  std::array<uint8_t, 16> Key; // of the hashed serial numbers
  RunStatus &Status;
  Recording Data;
  bool Active = false;
};

// The card's facts from the node, sysfs and the mount table (record/card.cpp).
RecordedCard DescribeCard(const std::string &node, CardTransport transport);

// Sector 0 of the card: the run's first read of it (record/redact.cpp).
void NoteSector0(Recording &recording);
// Redaction (record/redact.cpp): sector 0, the CID's and the reader's serial
// numbers and the entry string leave the recording. `key` makes the hashes.
constexpr char kEntryMarker[] = "REDACTED"; // the entry string's 8 bytes
void Redact(Recording &recording, const std::vector<uint8_t> &cid,
            const std::array<uint8_t, 16> &key);
// The hashed serial of a CID: the same for the same card and key.
uint32_t HashedSerial(const std::vector<uint8_t> &cid, const std::array<uint8_t, 16> &key);
std::array<uint8_t, 512> SyntheticSector0(const std::array<uint8_t, 512> &original);

// The recording as JSON lines (record/write.cpp).
std::string RecordingText(const Recording &recording, const RunRecord &run);

} // namespace sdsmart_tool
