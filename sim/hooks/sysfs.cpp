#include "hooks/sysfs.h"

#include "card/card_state.h"
#include "hooks/hook_support.h"
#include "hooks/real_calls.h"
#include "registry/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace sdsim {
namespace {

std::string Hex(const std::uint8_t *p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += digits[p[i] >> 4];
    text += digits[p[i] & 15];
  }
  return text;
}

// "/proc/self/fd/N" or "/proc/PID/fd/N" of this process naming a node
// descriptor of ours: the node path.
bool ProcFdLink(Registry &registry, const std::string &path, std::string &answer) {
  const std::string self = "/proc/self/fd/";
  const std::string mine = "/proc/" + std::to_string(::getpid()) + "/fd/";
  std::string number;
  if (StartsWith(path, self.c_str()))
    number = path.substr(self.size());
  else if (StartsWith(path, mine.c_str()))
    number = path.substr(mine.size());
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
    return false;
  FdEntry entry;
  const int fd = std::atoi(number.c_str());
  if (!registry.Ours(fd) || !registry.Lookup(fd, entry) || entry.HostFile)
    return false;
  answer = entry.Card->Config().Node;
  return true;
}

} // namespace

bool SysfsPath(const std::string &path, std::string &name, std::string &file) {
  std::string rest;
  if (StartsWith(path, "/sys/class/block/"))
    rest = path.substr(17);
  else if (StartsWith(path, "/sys/block/"))
    rest = path.substr(11);
  else
    return false;
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos)
    return false;
  name = rest.substr(0, slash);
  const std::string tail = NormalizePath(rest.substr(slash));
  if (tail == "/device") {
    file.clear();
    return true;
  }
  if (StartsWith(tail, "/device/") && tail.find('/', 8) == std::string::npos) {
    file = tail.substr(8);
    return true;
  }
  return false;
}

// 32 hex characters and a newline for the registers, as the kernel prints them.
bool SysfsText(const CardState &card, const std::string &file, std::string &text) {
  const CardConfig &c = card.Config();
  if (!card.IsNative())
    return false;
  char buffer[64];
  if (file == "csd") {
    text = Hex(c.Csd.data(), 16) + "\n";
  } else if (file == "cid") {
    text = Hex(c.Cid.data(), 16) + "\n";
  } else if (file == "scr") {
    text = Hex(c.Scr.data(), 8) + "\n";
  } else if (file == "type") {
    text = "SD\n";
  } else if (file == "name") {
    text = std::string(reinterpret_cast<const char *>(&c.Cid[3]), 5) + "\n";
  } else if (file == "serial") {
    std::snprintf(buffer, sizeof buffer, "0x%02x%02x%02x%02x\n", c.Cid[9], c.Cid[10], c.Cid[11],
                  c.Cid[12]);
    text = buffer;
  } else {
    return false;
  }
  return true;
}

std::string SysfsLink(const CardState &card) {
  char buffer[64];
  if (card.IsNative())
    std::snprintf(buffer, sizeof buffer, "../../../mmc%u:%04x", card.Config().MmcHost,
                  card.Config().Rca);
  else
    std::snprintf(buffer, sizeof buffer, "../../../6:0:0:0");
  return buffer;
}

} // namespace sdsim

using namespace sdsim;

extern "C" ssize_t readlink(const char *path, char *buf, size_t size) {
  Registry &registry = Registry::Get();
  if (IsNull(path) || registry.Empty())
    return Real().readlink(path, buf, size);
  const std::string p = path;
  std::string answer;
  bool ours = false;
  {
    Lock lock(registry.Mutex());
    ours = ProcFdLink(registry, p, answer);
    std::string name, file;
    if (!ours && SysfsPath(p, name, file) && file.empty()) {
      if (CardState *card = registry.BySysfsName(name)) {
        answer = SysfsLink(*card);
        ours = true;
      }
    }
  }
  if (!ours)
    return Real().readlink(path, buf, size);
  const std::size_t n = std::min(size, answer.size());
  std::memcpy(buf, answer.data(), n);
  return static_cast<ssize_t>(n);
}
