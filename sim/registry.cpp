#include "registry.h"

#include "real_calls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsim {

std::string NormalizePath(const std::string &path) {
  std::string out;
  for (char ch : path) {
    if (ch == '/' && !out.empty() && out.back() == '/')
      continue;
    out += ch;
  }
  while (out.size() > 1 && out.back() == '/')
    out.pop_back();
  return out;
}

Registry &Registry::Get() {
  // Placement into static storage: the registry outlives every static
  // destructor, so hooks running during exit still find it.
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry *instance = new (storage) Registry();
  return *instance;
}

Card &Registry::Attach(CardConfig config, const std::string &transcript_path,
                       const std::string &run_dir) {
  for (const auto &c : cards_)
    if (c->Config().node == config.node)
      throw std::runtime_error("sdsim: a card already answers on " + config.node);
  // Under the launcher every process of the run shares one card: its sectors
  // live in a sparse file of the run folder unless the card names an image.
  if (config.image.empty() && !run_dir.empty())
    config.image = run_dir + "/card" + std::to_string(cards_.size()) + ".img";
  auto state = std::make_unique<CardState>(std::move(config), transcript_path);
  const CardConfig &c = state->Config();
  if (c.mounted && c.auto_mount) {
    if (!run_dir.empty()) {
      const std::string dir = run_dir + "/mnt" + std::to_string(cards_.size());
      ::mkdir(dir.c_str(), 0755);
      state->SetMountPoint(dir, false);
    } else {
      char tmpl[] = "/tmp/sdsim-mnt-XXXXXX";
      if (!::mkdtemp(tmpl))
        throw std::runtime_error("sdsim: cannot create a mount point: " +
                                 std::string(std::strerror(errno)));
      state->SetMountPoint(tmpl, true);
    }
  } else if (c.mounted) {
    ::mkdir(c.mount_point.c_str(), 0755); // an existing folder is fine
  }
  cards_.push_back(std::move(state));
  handles_.push_back(std::make_unique<Card>(*cards_.back()));
  count_.store(static_cast<int>(cards_.size()), std::memory_order_release);
  return *handles_.back();
}

void Registry::DetachAll() {
  for (auto &entry : fds_)
    if (entry.first < kFast)
      fast_[entry.first].store(0, std::memory_order_release);
  fds_.clear();
  for (auto &pipe : fake_pipes)
    std::fclose(pipe.first);
  fake_pipes.clear();
  count_.store(0, std::memory_order_release);
  handles_.clear();
  cards_.clear();
}

void Registry::CleanUp() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // Descriptors stay valid; only the folders the sim made go away.
  for (auto &c : cards_)
    c.reset();
  cards_.clear();
  handles_.clear();
  fds_.clear();
  count_.store(0, std::memory_order_release);
  for (auto &f : fast_)
    f.store(0, std::memory_order_relaxed);
}

CardState *Registry::ByNode(const std::string &path) {
  for (auto &c : cards_)
    if (c->Config().node == path)
      return c.get();
  return nullptr;
}

CardState *Registry::ByHostFile(const std::string &path) {
  const std::string p = NormalizePath(path);
  for (auto &c : cards_)
    if (!c->MountPoint().empty() && NormalizePath(c->HostFilePath()) == p)
      return c.get();
  return nullptr;
}

CardState *Registry::BySysfsName(const std::string &name) {
  for (auto &c : cards_) {
    const std::string &node = c->Config().node;
    if (node.substr(node.rfind('/') + 1) == name)
      return c.get();
  }
  return nullptr;
}

Card *Registry::Handle(const std::string &node) {
  for (std::size_t i = 0; i < cards_.size(); ++i)
    if (cards_[i]->Config().node == node)
      return handles_[i].get();
  return nullptr;
}

std::vector<Card *> Registry::Handles() {
  std::vector<Card *> out;
  for (auto &h : handles_)
    out.push_back(h.get());
  return out;
}

bool Registry::Lookup(int fd, FdEntry &out) {
  auto it = fds_.find(fd);
  if (it == fds_.end())
    return false;
  out = it->second;
  return true;
}

void Registry::Add(int fd, const FdEntry &e) {
  fds_[fd] = e;
  if (fd >= 0 && fd < kFast)
    fast_[fd].store(1, std::memory_order_release);
}

void Registry::Remove(int fd) {
  fds_.erase(fd);
  if (fd >= 0 && fd < kFast)
    fast_[fd].store(0, std::memory_order_release);
}

std::vector<Fault> ParseFaults(const std::string &spec) {
  std::vector<Fault> out;
  std::size_t pos = 0;
  while (pos < spec.size()) {
    std::size_t end = spec.find(',', pos);
    if (end == std::string::npos)
      end = spec.size();
    const std::string item = spec.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty())
      continue;
    const std::size_t at = item.find('@');
    Fault f;
    if (!ParseFaultName(item.substr(0, at), f.kind))
      throw std::runtime_error("sdsim: unknown fault \"" + item + "\"");
    f.at = 0;
    f.times = (f.kind == FaultKind::Vanish || f.kind == FaultKind::BusyForever) ? 0 : 1;
    if (at != std::string::npos) {
      const std::string rest = item.substr(at + 1);
      char *stop = nullptr;
      f.at = std::strtoull(rest.c_str(), &stop, 10);
      if (stop == rest.c_str())
        throw std::runtime_error("sdsim: fault \"" + item + "\" needs a transfer index");
      if (*stop == '*')
        f.times = std::strtoull(stop + 1, &stop, 10);
      if (*stop != '\0')
        throw std::runtime_error("sdsim: cannot read fault \"" + item + "\"");
    }
    out.push_back(f);
  }
  return out;
}

void AttachFromEnvironment() {
  const char *cards = std::getenv("SDSIM_CARDS");
  if (!cards || !*cards)
    return;
  const char *transcript = std::getenv("SDSIM_TRANSCRIPT");
  const char *faults = std::getenv("SDSIM_FAULTS");
  const char *run_dir = std::getenv("SDSIM_RUNDIR");
  Registry &r = Registry::Get();
  std::lock_guard<std::recursive_mutex> lock(r.Mutex());
  const std::vector<Fault> fault_list = ParseFaults(faults ? faults : "");
  std::string list = cards;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t end = list.find(':', pos);
    if (end == std::string::npos)
      end = list.size();
    const std::string path = list.substr(pos, end - pos);
    pos = end + 1;
    if (path.empty())
      continue;
    Card &card = r.Attach(ParseCardConfig(ReadWholeFile(path), DirName(path)),
                          transcript ? transcript : "", run_dir ? run_dir : "");
    for (const Fault &f : fault_list)
      card.AddFault(f);
  }
}

// ------------------------------------------------------------------ API --

bool operator==(const Transfer &a, const Transfer &b) {
  return a.op == b.op && a.lba == b.lba && a.count == b.count && a.what == b.what;
}
bool operator!=(const Transfer &a, const Transfer &b) { return !(a == b); }
std::string ToString(const Transfer &t) {
  return t.op + " " + std::to_string(t.lba) + " " + std::to_string(t.count) + " " + t.what;
}

namespace {
struct Names {
  FaultKind kind;
  const char *name;
};
const Names kFaultNames[] = {{FaultKind::FailTransfer, "fail"},
                             {FaultKind::ErrorStatus, "error"},
                             {FaultKind::ShortTransfer, "short"},
                             {FaultKind::Vanish, "vanish"},
                             {FaultKind::Kill, "kill"},
                             {FaultKind::BusyForever, "busy-forever"},
                             {FaultKind::BadSignature, "bad-signature"},
                             {FaultKind::WrongDetailType, "wrong-type"},
                             {FaultKind::NoFileAnswer, "no-file-answer"},
                             {FaultKind::FileIoFail, "file-fail"},
                             {FaultKind::ErrorStatusWithData, "error-with-data"},
                             {FaultKind::FileKill, "file-kill"}};

std::recursive_mutex &M() { return Registry::Get().Mutex(); }
} // namespace

const char *FaultName(FaultKind kind) {
  for (const auto &n : kFaultNames)
    if (n.kind == kind)
      return n.name;
  return "?";
}

bool ParseFaultName(const std::string &name, FaultKind &kind) {
  for (const auto &n : kFaultNames)
    if (name == n.name) {
      kind = n.kind;
      return true;
    }
  return false;
}

#define SDSIM_LOCKED std::lock_guard<std::recursive_mutex> lock(M())

std::string Card::Node() const { return state_->Config().node; }
bool Card::IsNative() const { return state_->IsNative(); }
bool Card::IsByteAddressed() const { return state_->Config().byte_addressed; }
std::uint64_t Card::CapacitySectors() const { return state_->Config().capacity_sectors; }
std::string Card::EntryString() const { return state_->Config().entry; }
std::string Card::MountPoint() const { return state_->MountPoint(); }
std::string Card::HostFilePath() const { return state_->HostFilePath(); }

std::vector<Transfer> Card::Transcript() const {
  SDSIM_LOCKED;
  return state_->Transcript();
}
void Card::ClearTranscript() {
  SDSIM_LOCKED;
  state_->ClearTranscript();
}
std::uint64_t Card::TransferCount() const {
  SDSIM_LOCKED;
  return state_->TransferCount();
}
std::uint64_t Card::FileStepCount() const {
  SDSIM_LOCKED;
  return state_->FileStepCount();
}
std::array<std::uint8_t, 512> Card::ReadSector(std::uint32_t lba) const {
  SDSIM_LOCKED;
  std::array<std::uint8_t, 512> out{};
  state_->RawRead(lba, 1, out.data());
  return out;
}
void Card::WriteSector(std::uint32_t lba, const std::uint8_t *data512) {
  SDSIM_LOCKED;
  state_->RawWrite(lba, 1, data512);
}
bool Card::InSpecialMode() const {
  SDSIM_LOCKED;
  return state_->InSpecialMode();
}
int Card::SpecialModeVersion() const {
  SDSIM_LOCKED;
  return state_->SpecialVersion();
}
std::vector<std::uint8_t> Card::HeaderSector(unsigned type) const {
  SDSIM_LOCKED;
  return state_->Header(type, false);
}
std::vector<std::uint8_t> Card::DetailData(unsigned type) const {
  SDSIM_LOCKED;
  return state_->Detail(type);
}
std::vector<std::uint16_t> Card::EraseCounts() const { return state_->Config().erase_counts; }
std::vector<std::uint32_t> Card::ReadCounts() const { return state_->Config().read_counts; }
std::vector<std::uint16_t> Card::RuntimeStatus() const { return state_->Config().runtime_status; }
unsigned Card::PmtCleanCount() const {
  SDSIM_LOCKED;
  return state_->PmtCleanCount();
}
void Card::SetFault(FaultKind kind, std::uint64_t at, std::uint64_t times) {
  AddFault(Fault{kind, at, times});
}
void Card::AddFault(const Fault &fault) {
  SDSIM_LOCKED;
  state_->AddFault(fault);
}
void Card::ClearFaults() {
  SDSIM_LOCKED;
  state_->ClearFaults();
}

Card &AttachFile(const std::string &path) {
  SDSIM_LOCKED;
  return Registry::Get().Attach(ParseCardConfig(ReadWholeFile(path), DirName(path)), "", "");
}

Card &AttachJson(const std::string &json_text, const std::string &base_dir) {
  SDSIM_LOCKED;
  return Registry::Get().Attach(ParseCardConfig(json_text, base_dir), "", "");
}

void DetachAll() {
  SDSIM_LOCKED;
  Registry::Get().DetachAll();
}

Card *Find(const std::string &node) {
  SDSIM_LOCKED;
  return Registry::Get().Handle(node);
}

std::vector<Card *> Cards() {
  SDSIM_LOCKED;
  return Registry::Get().Handles();
}

} // namespace sdsim
