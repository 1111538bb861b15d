// SPDX-License-Identifier: MIT
#include "card/card_state.h"

#include "card/sector_formats.h"
#include "hooks/real_calls.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sdsim {

CardState::CardState(CardConfig config, const std::string &transcriptPath)
    : Settings(std::move(config)), Storage(Settings), SmartData(Settings),
      Controller(Settings, Storage, SmartData, Faults) {
  if (Settings.Script)
    Player = std::make_unique<Replay>(Settings.Script, Settings.ByteAddressed);
  if (!transcriptPath.empty())
    TranscriptFd =
        Real().open(transcriptPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (Settings.Mounted && !Settings.AutoMount)
    MountDir = Settings.MountPoint;
}

CardState::~CardState() {
  if (OwnsMountDir && !MountDir.empty() && OwnerPid == ::getpid()) {
    ::unlink(HostFilePath().c_str());
    ::rmdir(MountDir.c_str());
  }
  if (TranscriptFd >= 0)
    Real().close(TranscriptFd);
}

void CardState::SetMountPoint(const std::string &path, bool owned) {
  MountDir = path;
  OwnsMountDir = owned;
  OwnerPid = ::getpid();
}

std::string CardState::HostFilePath() const {
  return MountDir.empty() ? std::string() : MountDir + "/SmartFile6459.txt";
}

int CardState::OpenDescriptor(int flags) {
  if (IsGone) {
    errno = ENOENT;
    return -1;
  }
  return Storage.OpenDescriptor(flags);
}

void CardState::Die() {
  if (TranscriptFd >= 0)
    fsync(TranscriptFd);
  ::kill(::getpid(), SIGKILL);
  for (;;) // nothing of the step runs while the signal is on its way
    ::pause();
}

Outcome CardState::BeginTransfer(bool sectors) {
  if (IsGone)
    return Outcome::Vanished;
  const std::uint64_t index = Transfers;
  if (Faults.Active(FaultKind::Kill, index, true))
    Die();
  if (Faults.Active(FaultKind::Vanish, index, false)) {
    IsGone = true;
    return Outcome::Vanished;
  }
  CurrentTransfer = index;
  ++Transfers;
  if (Faults.Active(FaultKind::FailTransfer, index, true))
    return Outcome::Fail;
  if (Faults.Active(FaultKind::ErrorStatus, index, true))
    return Outcome::ErrorStatus;
  if (Faults.Active(FaultKind::ShortTransfer, index, true))
    return Outcome::Short;
  if (sectors && Faults.Active(FaultKind::ErrorStatusWithData, index, true))
    return Outcome::ErrorWithData;
  return Outcome::Normal;
}

bool CardState::BeginFileStep() {
  if (Faults.Active(FaultKind::FileKill, FileSteps, true))
    Die();
  CurrentFileStep = FileSteps++;
  return Faults.Active(FaultKind::FileIoFail, CurrentFileStep, true);
}

void CardState::Record(const std::string &op, std::uint32_t lba, std::uint32_t count,
                       const std::string &what) {
  Log.push_back({op, lba, count, what});
  if (TranscriptFd < 0)
    return;
  const nlohmann::json line = {{"card", Settings.Node}, {"op", op},     {"lba", lba},
                               {"count", count},        {"what", what}, {"pid", ::getpid()}};
  const std::string text = line.dump() + "\n";
  (void)!Real().write(TranscriptFd, text.data(), text.size());
}

void CardState::RecordEvent(const std::string &op, const std::string &what) {
  EventLog.push_back({op, static_cast<std::uint32_t>(Transfers), 0, what});
  if (TranscriptFd < 0)
    return;
  const nlohmann::json line = {
      {"card", Settings.Node}, {"op", op}, {"what", what}, {"pid", ::getpid()}};
  const std::string text = line.dump() + "\n";
  (void)!Real().write(TranscriptFd, text.data(), text.size());
}

bool CardState::PatternInSectorZero() const {
  std::uint8_t sector[512];
  Storage.Read(0, 1, sector);
  return ClassifySector0(sector, Settings.Entry) != Pattern::None;
}

std::string CardState::FirmwareRead(std::uint32_t lba, std::uint32_t count, std::uint8_t *out) {
  return Controller.Read(lba, count, out, CurrentTransfer);
}

std::string CardState::FirmwareWrite(std::uint32_t lba, std::uint32_t count,
                                     const std::uint8_t *in) {
  return Controller.Write(lba, count, in);
}

void CardState::RawRead(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const {
  Storage.Read(lba, count, out);
}

void CardState::RawWrite(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in) {
  Storage.Write(lba, count, in);
}

std::string CardState::FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data,
                                   std::size_t len) {
  return Controller.FileWritten(fd, offset, data, len, CurrentFileStep);
}

long CardState::ReplayFileStep(bool write, std::uint64_t offset, void *data, std::size_t length,
                               long done) {
  ReplayNote note;
  const long result =
      Player->File(write, offset, static_cast<std::uint8_t *>(data), length, done, note);
  const int error = errno;
  Record(note.Op, note.Lba, note.Count, note.What);
  errno = error;
  return result;
}

} // namespace sdsim
