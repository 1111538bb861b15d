#include "journal.h"

#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

bool ZeroExcept(const Sector &s, const std::array<std::pair<int, int>, 5> &ranges) {
  for (int i = 0; i < 512; ++i) {
    bool listed = false;
    for (const auto &r : ranges)
      listed = listed || (i >= r.first && i < r.first + r.second);
    if (!listed && s[static_cast<size_t>(i)] != 0)
      return false;
  }
  return true;
}

bool Equal(const Sector &s, int offset, std::initializer_list<uint8_t> bytes) {
  int i = offset;
  for (uint8_t b : bytes)
    if (s[static_cast<size_t>(i++)] != b)
      return false;
  return true;
}

bool Mirrored(const Sector &s) {
  for (int i = 0; i < 8; ++i)
    if (s[static_cast<size_t>(i)] != s[static_cast<size_t>(255 - i)])
      return false;
  return true;
}

bool Writable(const std::string &dir) {
  return MakeDirectories(dir, 0700) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

} // namespace

SectorPattern ClassifySector(const Sector &s) {
  if (!Mirrored(s))
    return SectorPattern::None;
  bool markerZero = Equal(s, 268, {0, 0, 0, 0});
  bool markerSet = Equal(s, 268, {0xDE, 0xAD, 0xBE, 0xEF});
  if (Equal(s, 256, {2, 1, 0, 0, 0, 0, 0, 0}) && Equal(s, 504, {0, 0, 0, 0, 0, 0, 1, 2}) &&
      (markerZero || markerSet) &&
      ZeroExcept(s, {{{0, 8}, {248, 8}, {256, 8}, {268, 4}, {504, 8}}}))
    return SectorPattern::Enter;
  if (Equal(s, 256, {2, 0, 0, 0, 0, 0, 1, 2}) && Equal(s, 504, {2, 1, 0, 0, 0, 0, 0, 0}) &&
      ZeroExcept(s, {{{0, 8}, {248, 8}, {256, 8}, {504, 8}, {0, 0}}}))
    return SectorPattern::Leave;
  return SectorPattern::None;
}

const char *PatternName(SectorPattern p) {
  switch (p) {
  case SectorPattern::Enter:
    return "enter";
  case SectorPattern::Leave:
    return "leave";
  case SectorPattern::None:
    break;
  }
  return "none";
}

std::string ChooseStateDir(const std::string &overrideDir) {
  if (!overrideDir.empty())
    return Writable(overrideDir) ? overrideDir : std::string();
  if (Writable("/var/lib/sdsmart"))
    return "/var/lib/sdsmart";
  const char *xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/' && Writable(std::string(xdg) + "/sdsmart"))
    return std::string(xdg) + "/sdsmart";
  const char *home = std::getenv("HOME");
  if (home && *home == '/' && Writable(std::string(home) + "/.local/state/sdsmart"))
    return std::string(home) + "/.local/state/sdsmart";
  return "";
}

std::string JournalFileName(const std::string &device) {
  std::string name = "sector0-";
  size_t start = device.find_first_not_of('/');
  for (size_t i = start == std::string::npos ? device.size() : start; i < device.size(); ++i) {
    char c = device[i];
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.';
    name += plain ? c : '_';
  }
  return name + ".bin";
}

Journal::Journal(std::string stateDir, const std::string &device)
    : Dir(std::move(stateDir)), FilePath(Dir + "/" + JournalFileName(CanonicalDevice(device))) {}

bool Journal::Lock() {
  if (LockFd.IsOpen())
    return true;
  std::string lockPath = FilePath.substr(0, FilePath.size() - 4) + ".lock";
  LockFd = CUniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (LockFd.IsOpen() && ::flock(LockFd.Get(), LOCK_EX | LOCK_NB) != 0)
    LockFd.Close();
  return LockFd.IsOpen();
}

std::string CanonicalDevice(const std::string &device) {
  char resolved[PATH_MAX];
  if (::realpath(device.c_str(), resolved))
    return resolved;
  return device;
}

bool Journal::Exists() const {
  struct stat st {};
  return ::stat(FilePath.c_str(), &st) == 0;
}

std::optional<Sector> Journal::Load() const {
  std::string data;
  if (!ReadWholeFile(FilePath, data) || data.size() != 512)
    return std::nullopt;
  Sector s{};
  for (size_t i = 0; i < 512; ++i)
    s[i] = static_cast<uint8_t>(data[i]);
  return s;
}

void Journal::Save(const Sector &s) const {
  WriteFileAtomically(FilePath, std::string(s.begin(), s.end()), 0600, true);
}

bool Journal::Remove() const {
  if (::unlink(FilePath.c_str()) != 0 && errno != ENOENT)
    return false;
  return true;
}

} // namespace sdsmart_tool
