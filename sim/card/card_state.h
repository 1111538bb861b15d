// SPDX-License-Identifier: MIT
// One virtual card: its card file, sectors, firmware, transcript, faults and
// transfer counters. The transport front ends (transport/) and the host-file
// hooks call in here with the registry's lock held.
#pragma once

#include "card/card_config.h"
#include "card/card_storage.h"
#include "card/faults.h"
#include "card/firmware.h"
#include "card/replay.h"
#include "card/smart_pages.h"
#include "sdsim/sdsim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sdsim {

// How a transfer ends, decided by the faults before it runs.
// ErrorWithData: all the data moved, then an error status (sector commands only).
enum class Outcome { Normal, Fail, ErrorStatus, Short, ErrorWithData, Vanished };

class CardState {
public:
  CardState(CardConfig config, const std::string &transcriptPath);
  ~CardState();
  CardState(const CardState &) = delete;
  CardState &operator=(const CardState &) = delete;

  const CardConfig &Config() const { return Settings; }
  bool IsNative() const { return Settings.IsNative(); }

  // A new descriptor on the card's data, as open(2) of the node hands out.
  int OpenDescriptor(int flags);
  bool Vanished() const { return IsGone; }

  // Start of one transfer: takes its index, applies Kill/Vanish and decides
  // the outcome for FailTransfer/ErrorStatus/ShortTransfer and, for commands
  // that move sectors (`sectors`), ErrorStatusWithData.
  Outcome BeginTransfer(bool sectors);
  void Record(const std::string &op, std::uint32_t lba, std::uint32_t count,
              const std::string &what);
  // A host event that is no transfer (a lock change, a close, a partition
  // re-read request): in the events and the transcript file, never counted
  // as a transfer or a host-file step.
  void RecordEvent(const std::string &op, const std::string &what);
  // Sector 0 holds an enter or leave pattern for the card's entry string.
  bool PatternInSectorZero() const;

  // Sector I/O as the card's firmware performs it (special mode included);
  // each returns the transcript text.
  std::string FirmwareRead(std::uint32_t lba, std::uint32_t count, std::uint8_t *out);
  std::string FirmwareWrite(std::uint32_t lba, std::uint32_t count, const std::uint8_t *in);

  // Plain stored sectors.
  void RawRead(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const;
  void RawWrite(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in);

  // The recording the card answers from, or null.
  Replay *Replayer() { return Player.get(); }
  // A host-file step of a replaying card, after the file served it.
  long ReplayFileStep(bool write, std::uint64_t offset, void *data, std::size_t length, long done);

  // SMART data in card form.
  const SmartPages &Pages() const { return SmartData; }

  // Host-file watch: data just written at file offset `offset` through `fd`.
  // Returns the transcript text of the write.
  std::string FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data, std::size_t len);
  // Step counter and faults of host-file I/O (FileKill kills the process
  // before the step); true when this step must fail.
  bool BeginFileStep();

  // Mount point (after auto placement) and the host file path.
  std::string MountPoint() const { return MountDir; }
  void SetMountPoint(const std::string &path, bool owned);
  std::string HostFilePath() const;

  // API state.
  std::vector<Transfer> Transcript() const { return Log; }
  void ClearTranscript() { Log.clear(); }
  std::vector<Transfer> Events() const { return EventLog; }
  std::uint64_t TransferCount() const { return Transfers; }
  std::uint64_t FileStepCount() const { return FileSteps; }
  bool InSpecialMode() const { return Controller.SpecialVersion() != 0; }
  int SpecialVersion() const { return Controller.SpecialVersion(); }
  unsigned PmtCleanCount() const { return Controller.PmtCleanCount(); }
  void AddFault(const Fault &fault) { Faults.Add(fault); }
  void SetLatency(std::uint32_t transferUs, std::uint32_t fileStepUs) {
    Settings.TransferLatencyUs = transferUs;
    Settings.FileStepLatencyUs = fileStepUs;
  }
  void ClearFaults() { Faults.Clear(); }

private:
  [[noreturn]] void Die(); // SIGKILL, the transcript file flushed first

  CardConfig Settings;
  CardStorage Storage;
  SmartPages SmartData;
  FaultTable Faults;
  Firmware Controller;
  std::unique_ptr<Replay> Player;

  std::string MountDir;
  bool OwnsMountDir = false;
  int OwnerPid = 0;      // only the process that made the mount point removes it
  int TranscriptFd = -1; // JSON lines, or -1

  std::vector<Transfer> Log;
  std::vector<Transfer> EventLog;
  std::uint64_t Transfers = 0;
  std::uint64_t FileSteps = 0;
  bool IsGone = false;
  std::uint64_t CurrentTransfer = 0; // index of the transfer being served
  std::uint64_t CurrentFileStep = 0; // index of the host-file step being served
};

} // namespace sdsim
