// SPDX-License-Identifier: MIT
// The test-facing API of sdsim/sdsim.h: attaching cards and looking at them
// behind the library's back, under the registry's lock.
#include "registry/registry.h"

namespace sdsim {
namespace {

std::lock_guard<std::recursive_mutex> Locked() {
  return std::lock_guard<std::recursive_mutex>(Registry::Get().Mutex());
}

} // namespace

bool operator==(const Transfer &a, const Transfer &b) {
  return a.op == b.op && a.lba == b.lba && a.count == b.count && a.what == b.what;
}
bool operator!=(const Transfer &a, const Transfer &b) { return !(a == b); }
std::string ToString(const Transfer &t) {
  return t.op + " " + std::to_string(t.lba) + " " + std::to_string(t.count) + " " + t.what;
}

std::string Card::Node() const { return State->Config().Node; }
bool Card::IsNative() const { return State->IsNative(); }
bool Card::IsByteAddressed() const { return State->Config().ByteAddressed; }
std::uint64_t Card::CapacitySectors() const { return State->Config().CapacitySectors; }
std::string Card::EntryString() const { return State->Config().Entry; }
std::string Card::MountPoint() const { return State->MountPoint(); }
std::string Card::HostFilePath() const { return State->HostFilePath(); }

std::vector<Transfer> Card::Transcript() const {
  const auto lock = Locked();
  return State->Transcript();
}
void Card::ClearTranscript() {
  const auto lock = Locked();
  State->ClearTranscript();
}
std::vector<Transfer> Card::Events() const {
  const auto lock = Locked();
  return State->Events();
}
std::uint64_t Card::TransferCount() const {
  const auto lock = Locked();
  return State->TransferCount();
}
std::uint64_t Card::FileStepCount() const {
  const auto lock = Locked();
  return State->FileStepCount();
}
std::array<std::uint8_t, 512> Card::ReadSector(std::uint32_t lba) const {
  const auto lock = Locked();
  std::array<std::uint8_t, 512> out{};
  State->RawRead(lba, 1, out.data());
  return out;
}
void Card::WriteSector(std::uint32_t lba, const std::uint8_t *data512) {
  const auto lock = Locked();
  State->RawWrite(lba, 1, data512);
}
bool Card::InSpecialMode() const {
  const auto lock = Locked();
  return State->InSpecialMode();
}
int Card::SpecialModeVersion() const {
  const auto lock = Locked();
  return State->SpecialVersion();
}
std::vector<std::uint8_t> Card::HeaderSector(unsigned type) const {
  const auto lock = Locked();
  return State->Pages().Header(type, false);
}
std::vector<std::uint8_t> Card::DetailData(unsigned type) const {
  const auto lock = Locked();
  return State->Pages().Detail(type);
}
std::vector<std::uint16_t> Card::EraseCounts() const {
  return State->Config().Tables().EraseCounts;
}
std::vector<std::uint32_t> Card::ReadCounts() const { return State->Config().Tables().ReadCounts; }
std::vector<std::uint16_t> Card::RuntimeStatus() const {
  return State->Config().Tables().RuntimeStatus;
}
unsigned Card::PmtCleanCount() const {
  const auto lock = Locked();
  return State->PmtCleanCount();
}
std::uint32_t Card::TransferLatencyUs() const {
  const auto lock = Locked();
  return State->Config().TransferLatencyUs;
}
std::uint32_t Card::FileStepLatencyUs() const {
  const auto lock = Locked();
  return State->Config().FileStepLatencyUs;
}
void Card::SetLatency(std::uint32_t transferUs, std::uint32_t fileStepUs) {
  const auto lock = Locked();
  State->SetLatency(transferUs, fileStepUs);
}
void Card::SetFault(FaultKind kind, std::uint64_t at, std::uint64_t times) {
  AddFault(Fault{kind, at, times});
}
void Card::AddFault(const Fault &fault) {
  const auto lock = Locked();
  State->AddFault(fault);
}
void Card::ClearFaults() {
  const auto lock = Locked();
  State->ClearFaults();
}

Card &AttachFile(const std::string &path) {
  const auto lock = Locked();
  return Registry::Get().Attach(ParseCardConfig(ReadWholeFile(path), DirName(path)), "", "");
}

Card &AttachJson(const std::string &jsonText, const std::string &baseDir) {
  const auto lock = Locked();
  return Registry::Get().Attach(ParseCardConfig(jsonText, baseDir), "", "");
}

void DetachAll() {
  const auto lock = Locked();
  Registry::Get().DetachAll();
}

Card *Find(const std::string &node) {
  const auto lock = Locked();
  return Registry::Get().Handle(node);
}

std::vector<Card *> Cards() {
  const auto lock = Locked();
  return Registry::Get().Handles();
}

} // namespace sdsim
