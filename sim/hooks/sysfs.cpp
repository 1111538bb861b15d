// SPDX-License-Identifier: MIT
#include "hooks/sysfs.h"

#include "card/card_state.h"
#include "hooks/hook_support.h"
#include "hooks/real_calls.h"
#include "registry/registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace sdsim {
namespace {

// Where a kind of disk sits: its device numbers (minor = MinorBase +
// PerDisk × card index + partition), the device folder its block folder
// hangs below, and the device link of the block folder ("" for none).
struct Layout {
  unsigned Major, MinorBase, PerDisk;
  std::string Parent;
  bool BlockFolder; // the disk's folder is Parent/block/NAME, else Parent/NAME
  std::string Link;
};

Layout LayoutOf(const CardState &card) {
  const CardConfig &c = card.Config();
  const std::string &kind = c.SysfsKind;
  if (kind == "usb-removable" || kind == "usb-fixed")
    return {8,    128,
            16,   "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0",
            true, "../../../6:0:0:0"};
  if (kind == "sata")
    return {8,    128,
            16,   "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0",
            true, "../../../0:0:0:0"};
  if (kind == "nvme")
    return {259,   0,
            16,    "/sys/devices/pci0000:00/0000:00:1d.0/0000:3c:00.0/nvme/nvme0",
            false, "../../nvme0"};
  if (kind == "virtio")
    return {252, 0, 16, "/sys/devices/pci0000:00/0000:00:04.0/virtio1", true, "../../../virtio1"};
  if (kind == "loop" || kind == "dm")
    return {kind == "loop" ? 7u : 253u, 0, 16, "/sys/devices/virtual", true, ""};
  char host[64];
  std::snprintf(host, sizeof host, "mmc%u/mmc%u:%04x", c.MmcHost, c.MmcHost, c.Rca);
  char link[64];
  std::snprintf(link, sizeof link, "../../../mmc%u:%04x", c.MmcHost, c.Rca);
  return {179, 0, 8, std::string("/sys/devices/platform/sdsim-mmc/mmc_host/") + host, true, link};
}

std::string BaseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// The kernel's partition names: sdx1, but mmcblk7p1 after a digit.
std::string PartitionSuffix(const std::string &disk, unsigned partition) {
  if (partition == 0)
    return "";
  const bool digit = !disk.empty() && std::isdigit(static_cast<unsigned char>(disk.back()));
  return (digit ? "p" : "") + std::to_string(partition);
}

std::string BootSuffix(const SysfsEntry &e) {
  return e.Boot ? "boot" + std::to_string(e.Boot - 1) : "";
}

std::string EntryNode(const SysfsEntry &e) {
  const std::string &node = e.Card->Config().Node;
  return node + BootSuffix(e) + PartitionSuffix(BaseName(node), e.Partition);
}

std::string Folder(const SysfsEntry &e) {
  const Layout l = LayoutOf(*e.Card);
  const std::string disk = BaseName(e.Card->Config().Node);
  std::string folder = l.Parent + (l.BlockFolder ? "/block/" : "/") + disk + BootSuffix(e);
  if (e.Partition)
    folder += "/" + disk + PartitionSuffix(disk, e.Partition);
  return folder;
}

// An eMMC's user area (mmcblkN, not one of its areas named as the card's
// node) comes with two boot areas.
unsigned BootAreas(const CardState &card) {
  const std::string name = BaseName(card.Config().Node);
  const bool disk = name.size() > 6 && name.rfind("mmcblk", 0) == 0 &&
                    name.find_first_not_of("0123456789", 6) == std::string::npos;
  return card.Config().IsEmmc() && disk ? 2 : 0;
}

// Every entry of the attached cards that have not vanished, partitions first
// (their folders lie inside the disk's).
template <typename F> bool FindEntry(Registry &registry, F match, SysfsEntry &out) {
  for (const auto &card : registry.All()) {
    if (card->Vanished())
      continue;
    for (unsigned p = card->Config().Partitions + 1; p-- > 0;) {
      const SysfsEntry e{card.get(), p, 0};
      if (match(e)) {
        out = e;
        return true;
      }
    }
    for (unsigned b = 1; b <= BootAreas(*card); ++b) {
      const SysfsEntry e{card.get(), 0, b};
      if (match(e)) {
        out = e;
        return true;
      }
    }
  }
  return false;
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

// The links into /sys/devices: /sys/class/block/NAME, /sys/block/NAME and
// /sys/dev/block/MAJ:MIN, relative to their folder; the device link.
bool SysfsLink(Registry &registry, const std::string &path, std::string &answer) {
  SysfsEntry e;
  std::string rest;
  if (!SysfsLookup(registry, path, e, rest))
    return false;
  if (rest == "device" && e.Partition == 0) {
    answer = LayoutOf(*e.Card).Link;
    return !answer.empty();
  }
  if (!rest.empty() || StartsWith(path, "/sys/devices/"))
    return false;
  answer = (StartsWith(path, "/sys/block/") ? "../" : "../../") + Folder(e).substr(5);
  return true;
}

// realpath of a node, a sysfs folder or a file in it.
bool SysfsRealPath(Registry &registry, const std::string &path, std::string &answer) {
  SysfsEntry e;
  std::string rest, text;
  if (SysfsByNode(registry, path, e)) {
    answer = path;
    return true;
  }
  if (!SysfsLookup(registry, path, e, rest))
    return false;
  const Layout l = LayoutOf(*e.Card);
  if (rest == "device" && e.Partition == 0 && !l.Link.empty()) {
    answer = l.Parent; // where the device link leads
    return true;
  }
  answer = Folder(e);
  if (rest.empty())
    return true;
  if (!SysfsText(registry, e, rest, text))
    return false;
  answer += "/" + rest;
  return true;
}

} // namespace

bool SysfsByNode(Registry &registry, const std::string &path, SysfsEntry &entry) {
  return FindEntry(
      registry, [&](const SysfsEntry &e) { return EntryNode(e) == path; }, entry);
}

bool SysfsLookup(Registry &registry, const std::string &path, SysfsEntry &entry,
                 std::string &rest) {
  const std::string p = NormalizePath(path);
  std::string head;
  for (const char *prefix : {"/sys/class/block/", "/sys/block/", "/sys/dev/block/"})
    if (StartsWith(p, prefix))
      head = prefix;
  if (head.empty()) {
    // The folder itself, under /sys/devices.
    return FindEntry(
        registry,
        [&](const SysfsEntry &e) {
          const std::string folder = Folder(e);
          if (p != folder && !StartsWith(p, (folder + "/").c_str()))
            return false;
          rest = p.substr(std::min(p.size(), folder.size() + 1));
          return true;
        },
        entry);
  }
  const std::size_t slash = p.find('/', head.size());
  const std::string name = p.substr(head.size(), slash - head.size());
  rest = slash == std::string::npos ? "" : p.substr(slash + 1);
  if (head == "/sys/dev/block/") {
    unsigned major = 0, minor = 0;
    char end = 0;
    if (std::sscanf(name.c_str(), "%u:%u%c", &major, &minor, &end) != 2)
      return false;
    const dev_t number = makedev(major, minor);
    return FindEntry(
        registry, [&](const SysfsEntry &e) { return DeviceNumber(registry, e) == number; }, entry);
  }
  return FindEntry(
      registry,
      [&](const SysfsEntry &e) {
        // /sys/block lists whole disks only.
        return BaseName(EntryNode(e)) == name && (head != "/sys/block/" || e.Partition == 0);
      },
      entry);
}

dev_t DeviceNumber(Registry &registry, const SysfsEntry &entry) {
  unsigned index = 0;
  for (const auto &c : registry.All()) {
    if (c.get() == entry.Card)
      break;
    ++index;
  }
  const Layout l = LayoutOf(*entry.Card);
  if (entry.Boot) // boot areas take disk numbers after those of 32 cards
    return makedev(l.Major, l.MinorBase + l.PerDisk * (32 + 2 * index + entry.Boot - 1));
  return makedev(l.Major, l.MinorBase + l.PerDisk * index + entry.Partition);
}

bool SysfsText(Registry &registry, const SysfsEntry &entry, const std::string &rest,
               std::string &text) {
  const CardConfig &c = entry.Card->Config();
  const bool disk = entry.Partition == 0;
  if (rest == "dev") {
    const dev_t number = DeviceNumber(registry, entry);
    text = std::to_string(major(number)) + ":" + std::to_string(minor(number)) + "\n";
  } else if (rest == "size") {
    const std::uint64_t partition =
        (c.CapacitySectors - std::min<std::uint64_t>(c.CapacitySectors, 8192)) /
        std::max(1u, c.Partitions);
    text = std::to_string(entry.Boot ? kEmmcBootSectors
                          : disk     ? c.CapacitySectors
                                     : partition) +
           "\n";
  } else if (rest == "ro") {
    text = entry.Boot ? "1\n" : "0\n"; // the kernel keeps boot areas read-only
  } else if (rest == "force_ro" && disk && (c.SysfsKind == "mmc" || c.IsEmmc())) {
    text = entry.Boot ? "1\n" : "0\n";
  } else if (rest == "removable" && disk) {
    text = c.SysfsKind == "usb-removable" ? "1\n" : "0\n";
  } else if (rest == "stat" && !entry.Boot) {
    // The 17 fields of Documentation/block/stat.rst; only sectors written
    // (the 7th) is kept, for the disk and each of its partitions alike.
    text = "0 0 0 0 0 0 " + std::to_string(c.WrittenSectors) + " 0 0 0 0 0 0 0 0 0 0\n";
  } else if (rest == "diskseq" && disk && !entry.Boot) {
    text = std::to_string(c.DiskSeq) + "\n";
  } else if (rest == "partition" && !disk) {
    text = std::to_string(entry.Partition) + "\n";
  } else if (StartsWith(rest, "device/") && disk && (c.SysfsKind == "mmc" || c.IsEmmc())) {
    return DeviceText(c, rest.substr(7), text);
  } else {
    return false;
  }
  return true;
}

bool SysfsOpen(Registry &registry, const std::string &path, int flags, int &fd) {
  SysfsEntry e;
  std::string rest, text;
  if (!SysfsLookup(registry, path, e, rest) || rest.empty() || rest == "device")
    return false;
  fd = -1;
  if (!SysfsText(registry, e, rest, text))
    errno = ENOENT;
  else if ((flags & O_ACCMODE) != O_RDONLY)
    errno = EACCES;
  else
    fd = ContentFd(text, flags);
  return true;
}

bool IsSysfsFile(Registry &registry, const std::string &path) {
  SysfsEntry e;
  std::string rest;
  return SysfsLookup(registry, path, e, rest) && !rest.empty() && rest != "device";
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
    ours = ProcFdLink(registry, p, answer) || SysfsLink(registry, p, answer);
  }
  if (!ours)
    return Real().readlink(path, buf, size);
  const std::size_t n = std::min(size, answer.size());
  std::memcpy(buf, answer.data(), n);
  return static_cast<ssize_t>(n);
}

extern "C" char *realpath(const char *path, char *resolved) {
  Registry &registry = Registry::Get();
  if (IsNull(path) || path[0] != '/' || registry.Empty())
    return Real().realpath(path, resolved);
  std::string answer;
  {
    Lock lock(registry.Mutex());
    if (!SysfsRealPath(registry, path, answer))
      return Real().realpath(path, resolved);
  }
  if (answer.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  char *out = resolved ? resolved : static_cast<char *>(std::malloc(PATH_MAX));
  if (!out) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(out, answer.c_str(), answer.size() + 1);
  return out;
}
