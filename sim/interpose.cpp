// The C library calls the virtual cards are reached through. Each hook
// decides quickly whether a call concerns a card (its node path, a
// descriptor handed out for it, its sysfs entries, the mount table, its
// extension-mode host file) and otherwise forwards the call untouched to the
// next definition (the C library, or whatever comes after us).
#include "real_calls.h"
#include "registry.h"
#include "targets.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/mmc/ioctl.h>
#include <mntent.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace sdsim {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

std::string Hex(const std::uint8_t *p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

// A descriptor holding fixed text, read like a file.
int ContentFd(const std::string &text, int flags) {
  const int fd = memfd_create("sdsim-text", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
  if (fd < 0)
    return -1;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = Real().write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  Real().lseek(fd, 0, SEEK_SET);
  return fd;
}

// Arguments the C library declares non-null may still be null at run time.
__attribute__((noinline)) bool IsNull(const void *p) { return p == nullptr; }

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

// "/sys/class/block/NAME/device[/FILE]" or "/sys/block/NAME/device[/FILE]".
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

bool SysfsText(CardState &card, const std::string &file, std::string &text) {
  const CardConfig &c = card.Config();
  if (!card.IsNative())
    return false;
  char buf[64];
  if (file == "csd")
    text = Hex(c.csd.data(), 16) + "\n";
  else if (file == "cid")
    text = Hex(c.cid.data(), 16) + "\n";
  else if (file == "scr")
    text = Hex(c.scr.data(), 8) + "\n";
  else if (file == "type")
    text = "SD\n";
  else if (file == "name")
    text = std::string(reinterpret_cast<const char *>(&c.cid[3]), 5) + "\n";
  else if (file == "serial") {
    std::snprintf(buf, sizeof buf, "0x%02x%02x%02x%02x\n", c.cid[9], c.cid[10], c.cid[11],
                  c.cid[12]);
    text = buf;
  } else
    return false;
  return true;
}

std::string SysfsLink(CardState &card) {
  char buf[64];
  if (card.IsNative())
    std::snprintf(buf, sizeof buf, "../../../mmc%u:%04x", card.Config().mmc_host,
                  card.Config().rca);
  else
    std::snprintf(buf, sizeof buf, "../../../6:0:0:0");
  return buf;
}

bool IsMountTable(const std::string &p) {
  return p == "/proc/self/mounts" || p == "/proc/mounts" || p == "/etc/mtab" ||
         p == "/proc/" + std::to_string(::getpid()) + "/mounts";
}

bool IsMountInfo(const std::string &p) {
  return p == "/proc/self/mountinfo" || p == "/proc/" + std::to_string(::getpid()) + "/mountinfo";
}

std::string Escaped(const std::string &s) {
  std::string out;
  for (char ch : s) {
    if (ch == ' ')
      out += "\\040";
    else if (ch == '\t')
      out += "\\011";
    else if (ch == '\n')
      out += "\\012";
    else if (ch == '\\')
      out += "\\134";
    else
      out += ch;
  }
  return out;
}

// The real table with the cards' file systems added.
std::string MountTable(Registry &r) {
  std::string text;
  const int fd = Real().open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[4096];
    ssize_t n;
    while ((n = Real().read(fd, buf, sizeof buf)) > 0)
      text.append(buf, static_cast<std::size_t>(n));
    Real().close(fd);
  }
  for (const auto &c : r.All()) {
    if (!c->Config().mounted || c->MountPoint().empty())
      continue;
    text += c->Config().mount_device + " " + Escaped(c->MountPoint()) + " " +
            c->Config().mount_fstype + " " + c->Config().mount_options + " 0 0\n";
  }
  return text;
}

// The same in /proc/self/mountinfo's format (what mount(8) reads).
std::string MountInfo(Registry &r) {
  std::string text;
  const int fd = Real().open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[4096];
    ssize_t n;
    while ((n = Real().read(fd, buf, sizeof buf)) > 0)
      text.append(buf, static_cast<std::size_t>(n));
    Real().close(fd);
  }
  unsigned id = 90000;
  for (const auto &c : r.All()) {
    if (!c->Config().mounted || c->MountPoint().empty())
      continue;
    const unsigned minor = c->IsNative() ? 1 : 17;
    const unsigned major = c->IsNative() ? 179 : 8;
    text += std::to_string(id++) + " 1 " + std::to_string(major) + ":" + std::to_string(minor) +
            " / " + Escaped(c->MountPoint()) + " " + c->Config().mount_options + " - " +
            c->Config().mount_fstype + " " + c->Config().mount_device + " " +
            c->Config().mount_options + "\n";
  }
  return text;
}

// "mount|grep PATTERN" as run by a shell: the cards' lines in mount(8)'s
// format that contain PATTERN.
bool MountGrep(Registry &r, const char *command, std::string &out) {
  std::string s = command;
  std::size_t i = 0;
  auto spaces = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
      ++i;
  };
  spaces();
  if (s.compare(i, 5, "mount") != 0)
    return false;
  i += 5;
  spaces();
  if (i >= s.size() || s[i] != '|')
    return false;
  ++i;
  spaces();
  if (s.compare(i, 4, "grep") != 0)
    return false;
  i += 4;
  if (i >= s.size() || (s[i] != ' ' && s[i] != '\t'))
    return false;
  spaces();
  std::string pattern = s.substr(i);
  while (!pattern.empty() && (pattern.back() == ' ' || pattern.back() == '\n'))
    pattern.pop_back();
  if (pattern.size() >= 2 && (pattern[0] == '\'' || pattern[0] == '"') &&
      pattern.back() == pattern[0])
    pattern = pattern.substr(1, pattern.size() - 2);
  if (pattern.empty() || pattern.find_first_of(" \t|;&<>$`") != std::string::npos)
    return false;
  bool any = false;
  out.clear();
  for (const auto &c : r.All()) {
    if (!c->Config().mounted || c->MountPoint().empty())
      continue;
    const std::string line = c->Config().mount_device + " on " + c->MountPoint() + " type " +
                             c->Config().mount_fstype + " (" + c->Config().mount_options + ")";
    if (line.find(pattern) != std::string::npos) {
      out += line + "\n";
      any = true;
    }
    if (c->Config().node.find(pattern) != std::string::npos)
      any = true; // the card is ours: answer even when it is not mounted
  }
  return any;
}

int OpenHook(int dirfd, const char *path, int flags, mode_t mode, bool at) {
  auto real = [&] {
    return at ? Real().openat(dirfd, path, flags, mode) : Real().open(path, flags, mode);
  };
  Registry &r = Registry::Get();
  if (!path || path[0] != '/' || r.Empty())
    return real();
  Lock lock(r.Mutex());
  const std::string p = path;
  if (CardState *card = r.ByNode(p)) {
    const int fd = card->OpenDescriptor(flags);
    if (fd >= 0)
      r.Add(fd, FdEntry{card, false, false});
    return fd;
  }
  std::string name, file, text;
  if (SysfsPath(p, name, file) && !file.empty()) {
    if (CardState *card = r.BySysfsName(name)) {
      if (!SysfsText(*card, file, text)) {
        errno = ENOENT;
        return -1;
      }
      if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EACCES;
        return -1;
      }
      return ContentFd(text, flags);
    }
  }
  const bool reading = (flags & O_ACCMODE) == O_RDONLY;
  if (reading && IsMountTable(p))
    return ContentFd(MountTable(r), flags);
  if (reading && IsMountInfo(p))
    return ContentFd(MountInfo(r), flags);
  if (CardState *card = r.ByHostFile(p)) {
    // The host file lives in an ordinary folder whose file system may refuse
    // direct I/O; the card keeps the alignment rules of direct I/O itself.
    const bool direct = flags & O_DIRECT;
    const int fd = Real().open(path, flags & ~O_DIRECT, mode);
    if (fd >= 0)
      r.Add(fd, FdEntry{card, true, direct});
    return fd;
  }
  return real();
}

mode_t ModeArg(int flags, va_list ap) {
  if (flags & (O_CREAT | __O_TMPFILE))
    return static_cast<mode_t>(va_arg(ap, int));
  return 0;
}

bool Aligned(const FdEntry &e, const void *buf, std::size_t len, off_t at) {
  if (!e.o_direct)
    return true;
  return reinterpret_cast<std::uintptr_t>(buf) % 512 == 0 && len % 512 == 0 && at % 512 == 0;
}

std::uint32_t Sectors(std::size_t len) { return static_cast<std::uint32_t>((len + 511) / 512); }

// Host-file and node I/O, the same for reads and writes: `transfer` makes the
// real call, `describe` names the completed host-file step for the transcript.
template <typename Transfer, typename Describe>
ssize_t FileIoHook(int fd, const void *buf, std::size_t len, off_t at, bool positioned,
                   const char *op, Transfer transfer, Describe describe) {
  Registry &r = Registry::Get();
  if (!r.Ours(fd))
    return transfer();
  Lock lock(r.Mutex());
  FdEntry e;
  if (!r.Lookup(fd, e))
    return transfer();
  if (!e.host_file) {
    if (e.card->Vanished()) {
      errno = EIO;
      return -1;
    }
    return transfer(); // plain block I/O on the stored sectors
  }
  const off_t pos = positioned ? at : Real().lseek(fd, 0, SEEK_CUR);
  if (e.card->BeginFileStep()) {
    e.card->Record(op, static_cast<std::uint32_t>(pos / 512), Sectors(len), "file failed");
    errno = EIO;
    return -1;
  }
  if (!Aligned(e, buf, len, pos)) {
    errno = EINVAL;
    return -1;
  }
  const ssize_t done = transfer();
  e.card->Record(op, static_cast<std::uint32_t>(pos / 512), Sectors(len), describe(e, pos, done));
  return done;
}

ssize_t ReadHook(int fd, void *buf, std::size_t len, off_t at, bool positioned) {
  return FileIoHook(
      fd, buf, len, at, positioned, "read",
      [&] { return positioned ? Real().pread(fd, buf, len, at) : Real().read(fd, buf, len); },
      [](const FdEntry &, off_t, ssize_t) { return std::string("file readback"); });
}

ssize_t WriteHook(int fd, const void *buf, std::size_t len, off_t at, bool positioned) {
  return FileIoHook(
      fd, buf, len, at, positioned, "write",
      [&] { return positioned ? Real().pwrite(fd, buf, len, at) : Real().write(fd, buf, len); },
      [&](const FdEntry &e, off_t pos, ssize_t put) {
        if (put > 0 && pos >= 0)
          return e.card->FileWritten(fd, static_cast<std::uint64_t>(pos),
                                     static_cast<const std::uint8_t *>(buf),
                                     static_cast<std::size_t>(put));
        return std::string("file write");
      });
}

FILE *FopenHook(const char *path, const char *mode, bool large) {
  auto real = [&] { return large ? Real().fopen64(path, mode) : Real().fopen(path, mode); };
  Registry &r = Registry::Get();
  if (IsNull(path) || IsNull(mode) || path[0] != '/' || r.Empty())
    return real();
  const std::string p = path;
  const bool writing = std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+');
  {
    Lock lock(r.Mutex());
    std::string name, file;
    const bool card_text =
        !writing && (IsMountTable(p) || IsMountInfo(p) ||
                     (SysfsPath(p, name, file) && !file.empty() && r.BySysfsName(name)));
    if (!card_text && !r.ByNode(p))
      return real();
  }
  const int fd = OpenHook(AT_FDCWD, path, (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0, false);
  if (fd < 0)
    return nullptr;
  FILE *f = fdopen(fd, mode);
  if (!f) {
    const int saved = errno;
    ::close(fd); // through the hook: forgets a node descriptor
    errno = saved;
  }
  return f;
}

void Forget(int fd) {
  Registry &r = Registry::Get();
  if (!r.Ours(fd))
    return;
  Lock lock(r.Mutex());
  r.Remove(fd);
}

void Duplicated(int from, int to) {
  Registry &r = Registry::Get();
  if (to < 0)
    return;
  Lock lock(r.Mutex());
  FdEntry e;
  if (r.Ours(from) && r.Lookup(from, e))
    r.Add(to, e);
  else if (r.Ours(to))
    r.Remove(to);
}

// What stat(2) says about a card's node: a block device of the disk group.
dev_t DeviceNumber(Registry &r, const CardState &card) {
  unsigned index = 0;
  for (const auto &c : r.All()) {
    if (c.get() == &card)
      break;
    ++index;
  }
  return card.IsNative() ? makedev(179, 8 * index) : makedev(8, 16 * (index + 8));
}

void AsBlockDevice(Registry &r, const CardState &card, struct stat *st) {
  st->st_mode = S_IFBLK | 0660;
  st->st_rdev = DeviceNumber(r, card);
  st->st_size = 0;
  st->st_blksize = 4096;
  st->st_blocks = 0;
  st->st_nlink = 1;
  st->st_uid = 0;
  st->st_gid = 6; // disk
}

// stat of a node path: 1 answered, 0 not a card, -1 failed (errno set).
int StatNode(const char *path, struct stat *st) {
  Registry &r = Registry::Get();
  if (IsNull(path) || path[0] != '/' || r.Empty())
    return 0;
  Lock lock(r.Mutex());
  CardState *card = r.ByNode(path);
  if (!card)
    return 0;
  if (card->Vanished()) {
    errno = ENOENT;
    return -1;
  }
  std::memset(st, 0, sizeof *st);
  st->st_dev = makedev(0, 5); // devtmpfs
  st->st_ino = 7000 + (DeviceNumber(r, *card) & 0xFFFF);
  const struct timespec now = {::time(nullptr), 0};
  st->st_atim = st->st_mtim = st->st_ctim = now;
  AsBlockDevice(r, *card, st);
  return 1;
}

int FstatHook(int fd, struct stat *st) {
  Registry &r = Registry::Get();
  const int rc = Real().fstat(fd, st);
  if (rc != 0 || !r.Ours(fd))
    return rc;
  Lock lock(r.Mutex());
  FdEntry e;
  if (r.Lookup(fd, e) && !e.host_file)
    AsBlockDevice(r, *e.card, st);
  return rc;
}

int AccessNode(const char *path) {
  Registry &r = Registry::Get();
  if (IsNull(path) || path[0] != '/' || r.Empty())
    return 0;
  Lock lock(r.Mutex());
  CardState *card = r.ByNode(path);
  if (!card)
    return 0;
  if (card->Vanished()) {
    errno = ENOENT;
    return -1;
  }
  return 1;
}

__attribute__((constructor)) void LoadFromEnvironment() {
  try {
    AttachFromEnvironment();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::_Exit(98);
  }
}

__attribute__((destructor)) void RemoveMountPoints() { Registry::Get().CleanUp(); }

} // namespace
} // namespace sdsim

using namespace sdsim;

extern "C" {

int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(AT_FDCWD, path, flags, mode, false);
}

int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(AT_FDCWD, path, flags, mode, false);
}

int __open_2(const char *path, int flags) { return OpenHook(AT_FDCWD, path, flags, 0, false); }
int __open64_2(const char *path, int flags) { return OpenHook(AT_FDCWD, path, flags, 0, false); }

int openat(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(dirfd, path, flags, mode, true);
}

int openat64(int dirfd, const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArg(flags, ap);
  va_end(ap);
  return OpenHook(dirfd, path, flags, mode, true);
}

int __openat_2(int dirfd, const char *path, int flags) {
  return OpenHook(dirfd, path, flags, 0, true);
}
int __openat64_2(int dirfd, const char *path, int flags) {
  return OpenHook(dirfd, path, flags, 0, true);
}

int close(int fd) {
  Forget(fd);
  return Real().close(fd);
}

int dup(int fd) {
  const int to = Real().dup(fd);
  Duplicated(fd, to);
  return to;
}

int dup2(int fd, int to) {
  const int got = Real().dup2(fd, to);
  if (got >= 0 && fd != to)
    Duplicated(fd, got);
  return got;
}

int dup3(int fd, int to, int flags) {
  const int got = Real().dup3(fd, to, flags);
  Duplicated(fd, got);
  return got;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  Registry &r = Registry::Get();
  if (!r.Ours(fd))
    return Real().ioctl(fd, request, arg);
  Lock lock(r.Mutex());
  FdEntry e;
  if (!r.Lookup(fd, e) || e.host_file)
    return Real().ioctl(fd, request, arg);
  CardState &card = *e.card;
  if (card.Vanished()) {
    errno = ENODEV;
    return -1;
  }
  const std::uint64_t sectors = card.Config().capacity_sectors;
  switch (request) {
  case SG_IO:
    if (card.IsNative())
      break;
    return ScsiIoctl(card, arg);
  case MMC_IOC_CMD:
    if (!card.IsNative())
      break;
    return MmcIoctl(card, arg);
  case BLKGETSIZE64:
  case BLKGETSIZE:
  case BLKSSZGET:
  case BLKPBSZGET:
  case BLKROGET:
    if (!arg) {
      errno = EFAULT;
      return -1;
    }
    if (request == BLKGETSIZE64)
      *static_cast<std::uint64_t *>(arg) = sectors * 512;
    else if (request == BLKGETSIZE)
      *static_cast<unsigned long *>(arg) = static_cast<unsigned long>(sectors);
    else if (request == BLKROGET)
      *static_cast<int *>(arg) = 0;
    else
      *static_cast<int *>(arg) = 512;
    return 0;
  case BLKFLSBUF:
    return 0;
  default:
    break;
  }
  errno = ENOTTY;
  return -1;
}

ssize_t readlink(const char *path, char *buf, size_t size) {
  Registry &r = Registry::Get();
  if (IsNull(path) || r.Empty())
    return Real().readlink(path, buf, size);
  const std::string p = path;
  std::string answer;
  bool ours = false;
  {
    Lock lock(r.Mutex());
    const std::string self = "/proc/self/fd/";
    const std::string mine = "/proc/" + std::to_string(::getpid()) + "/fd/";
    std::string number;
    if (StartsWith(p, self.c_str()))
      number = p.substr(self.size());
    else if (StartsWith(p, mine.c_str()))
      number = p.substr(mine.size());
    if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos) {
      FdEntry e;
      const int fd = std::atoi(number.c_str());
      if (r.Ours(fd) && r.Lookup(fd, e) && !e.host_file) {
        answer = e.card->Config().node;
        ours = true;
      }
    }
    std::string name, file;
    if (!ours && SysfsPath(p, name, file) && file.empty()) {
      if (CardState *card = r.BySysfsName(name)) {
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

ssize_t read(int fd, void *buf, size_t len) { return ReadHook(fd, buf, len, 0, false); }
ssize_t write(int fd, const void *buf, size_t len) { return WriteHook(fd, buf, len, 0, false); }
ssize_t pread(int fd, void *buf, size_t len, off_t at) { return ReadHook(fd, buf, len, at, true); }
ssize_t pread64(int fd, void *buf, size_t len, off_t at) {
  return ReadHook(fd, buf, len, at, true);
}
ssize_t pwrite(int fd, const void *buf, size_t len, off_t at) {
  return WriteHook(fd, buf, len, at, true);
}
ssize_t pwrite64(int fd, const void *buf, size_t len, off_t at) {
  return WriteHook(fd, buf, len, at, true);
}

FILE *fopen(const char *path, const char *mode) { return FopenHook(path, mode, false); }
FILE *fopen64(const char *path, const char *mode) { return FopenHook(path, mode, true); }

FILE *setmntent(const char *file, const char *mode) {
  Registry &r = Registry::Get();
  if (IsNull(file) || r.Empty() || !IsMountTable(file))
    return Real().setmntent(file, mode);
  std::string text;
  {
    Lock lock(r.Mutex());
    text = MountTable(r);
  }
  const int fd = ContentFd(text, O_CLOEXEC);
  return fd < 0 ? nullptr : fdopen(fd, "r");
}

FILE *popen(const char *command, const char *mode) {
  Registry &r = Registry::Get();
  if (IsNull(command) || IsNull(mode) || mode[0] != 'r' || r.Empty())
    return Real().popen(command, mode);
  Lock lock(r.Mutex());
  std::string out;
  if (!MountGrep(r, command, out))
    return Real().popen(command, mode);
  const int fd = ContentFd(out, (std::strchr(mode, 'e') ? O_CLOEXEC : 0));
  FILE *f = fd < 0 ? nullptr : fdopen(fd, "r");
  // grep's exit status: 0 when it printed a line, 1 otherwise.
  if (f)
    r.fake_pipes[f] = out.empty() ? 1 << 8 : 0;
  return f;
}

int pclose(FILE *f) {
  Registry &r = Registry::Get();
  {
    Lock lock(r.Mutex());
    auto it = r.fake_pipes.find(f);
    if (it != r.fake_pipes.end()) {
      const int status = it->second;
      r.fake_pipes.erase(it);
      std::fclose(f);
      return status;
    }
  }
  return Real().pclose(f);
}

// struct stat and struct stat64 are one layout on this platform.
static_assert(sizeof(struct stat) == sizeof(struct stat64), "stat layouts");

int stat(const char *path, struct stat *st) {
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().stat(path, st);
}
int stat64(const char *path, struct stat64 *st) {
  const int node = StatNode(path, reinterpret_cast<struct stat *>(st));
  return node ? (node > 0 ? 0 : -1) : Real().stat64(path, st);
}
int lstat(const char *path, struct stat *st) {
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().lstat(path, st);
}
int lstat64(const char *path, struct stat64 *st) {
  const int node = StatNode(path, reinterpret_cast<struct stat *>(st));
  return node ? (node > 0 ? 0 : -1) : Real().lstat64(path, st);
}
int fstat(int fd, struct stat *st) { return FstatHook(fd, st); }
int fstat64(int fd, struct stat64 *st) {
  return FstatHook(fd, reinterpret_cast<struct stat *>(st));
}
int fstatat(int dirfd, const char *path, struct stat *st, int flags) {
  if (!IsNull(path) && path[0] == '\0' && (flags & AT_EMPTY_PATH))
    return FstatHook(dirfd, st);
  const int node = StatNode(path, st);
  return node ? (node > 0 ? 0 : -1) : Real().fstatat(dirfd, path, st, flags);
}
int fstatat64(int dirfd, const char *path, struct stat64 *st, int flags) {
  auto *plain = reinterpret_cast<struct stat *>(st);
  if (!IsNull(path) && path[0] == '\0' && (flags & AT_EMPTY_PATH))
    return FstatHook(dirfd, plain);
  const int node = StatNode(path, plain);
  return node ? (node > 0 ? 0 : -1) : Real().fstatat64(dirfd, path, st, flags);
}
int statx(int dirfd, const char *path, int flags, unsigned int mask, struct statx *buf) {
  struct stat st {};
  int node = 0;
  if (!IsNull(path) && path[0] == '\0' && (flags & AT_EMPTY_PATH)) {
    Registry &r = Registry::Get();
    const int rc = Real().statx(dirfd, path, flags, mask, buf);
    if (rc != 0 || !r.Ours(dirfd))
      return rc;
    Lock lock(r.Mutex());
    FdEntry e;
    if (!r.Lookup(dirfd, e) || e.host_file)
      return rc;
    AsBlockDevice(r, *e.card, &st);
    node = 2;
  } else {
    node = StatNode(path, &st);
    if (node < 0)
      return -1;
    if (node == 0)
      return Real().statx(dirfd, path, flags, mask, buf);
    std::memset(buf, 0, sizeof *buf);
    buf->stx_ino = st.st_ino;
    buf->stx_dev_major = major(st.st_dev);
    buf->stx_dev_minor = minor(st.st_dev);
    buf->stx_atime.tv_sec = buf->stx_mtime.tv_sec = buf->stx_ctime.tv_sec = st.st_mtim.tv_sec;
  }
  buf->stx_mask |= STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID | STATX_SIZE |
                   STATX_BLOCKS | STATX_INO;
  buf->stx_mode = static_cast<std::uint16_t>(st.st_mode);
  buf->stx_nlink = static_cast<std::uint32_t>(st.st_nlink);
  buf->stx_uid = st.st_uid;
  buf->stx_gid = st.st_gid;
  buf->stx_size = 0;
  buf->stx_blocks = 0;
  buf->stx_blksize = static_cast<std::uint32_t>(st.st_blksize);
  buf->stx_rdev_major = major(st.st_rdev);
  buf->stx_rdev_minor = minor(st.st_rdev);
  return 0;
}

int access(const char *path, int mode) {
  const int node = AccessNode(path);
  return node ? (node > 0 ? 0 : -1) : Real().access(path, mode);
}
int faccessat(int dirfd, const char *path, int mode, int flags) {
  const int node = AccessNode(path);
  return node ? (node > 0 ? 0 : -1) : Real().faccessat(dirfd, path, mode, flags);
}

} // extern "C"
