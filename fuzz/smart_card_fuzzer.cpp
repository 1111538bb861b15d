// SPDX-License-Identifier: MIT
// The SMART answers of a card, fuzzed through GetSmartInfo on both versions.
//
// A fuzz-only card stands behind the node: the library's own open, ioctl,
// read, close and setmntent calls are redirected to it at link time
// (-Wl,--wrap=open,--wrap=ioctl,--wrap=read,--wrap=close,--wrap=setmntent),
// so the unmodified library runs its whole road: drive, channel, reader,
// sector-0 backup and restore. The card keeps sector 0 and the special-mode
// state like the real firmware; every sector it is asked for in special
// mode (headers, busy headers, detail sectors, PMT polls) is the next 512
// bytes of the input, and the version-3 answer in the host file is the
// input's next bytes too (a 2-byte big-endian length, then the answer).
// When the input runs out the card fails the transfer, so every run ends.
//
// Input: byte 0 selects the version (bit 0: 2 or 3) and the detail
// selection (bits 1..3); byte 1 the card (bit 0 mounted, bit 1 mounted
// read-only, bit 2 larger than 33 GiB, bit 3 behind a native SD host,
// /dev/mmcblk9, instead of a USB reader, /dev/sdfuzz, bit 4 a flaky
// transport: every sector transfer first takes a control byte that lets it
// fail, complete with an error status or come up short); then the answers.
//
// Whatever the answers, the library must: answer 0 or 1 (with an error code
// on 1), write nothing but sector 0, and, unless a write was refused, leave
// special mode and put back the sector 0 it found.
#include "fuzz_support.h"

#include "sdsmart/bulk.h"
#include "sdsmart/ini_file.h"
#include "sdsmart/sdsmart.h"
#include "sdsmart/smart_info_header.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/mmc/ioctl.h>
#include <mntent.h>
#include <scsi/sg.h>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <vector>

extern "C" {
int __real_open(const char *path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);
ssize_t __real_read(int fd, void *buf, size_t n);
int __real_close(int fd);
FILE *__real_setmntent(const char *file, const char *mode);
extern unsigned int _FuncSel;
}

namespace {

constexpr char kUsbNode[] = "/dev/sdfuzz";
constexpr char kNativeNode[] = "/dev/mmcblk9";
constexpr char kSmartFileName[] = "/SmartFile6459.txt";
constexpr size_t kSector = 512;

struct CFuzzCard {
  std::array<uint8_t, kSector> sector0{};
  std::array<uint8_t, kSector> original{};
  bool special = false;
  bool writeElsewhere = false;
  bool verbose = false;
  bool flaky = false;       // every transfer first takes a control byte
  bool writeFailed = false; // a write was refused: restoring may fail with it
  bool mounted = false;
  bool readOnly = false;
  uint64_t sectors = 0;
  const uint8_t *answers = nullptr;
  size_t left = 0;
  std::string node = kUsbNode;
  std::set<int> cardFds;
  int smartFd = -1;
  std::string mountPoint;

  // The next answer bytes; false when the input is spent.
  bool Take(uint8_t *out, size_t n, bool partialOk) {
    if (left == 0 || (!partialOk && left < n))
      return false;
    const size_t take = n < left ? n : left;
    std::memcpy(out, answers, take);
    std::memset(out + take, 0, n - take);
    answers += take;
    left -= take;
    return true;
  }
};

CFuzzCard g_card;

uint32_t Be32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

enum class CFault { None, Fail, ErrorStatus, Short };

// The transport's answer to one transfer of a flaky card: a control byte of
// the input. A write without input left goes through, so that a run can
// always end cleanly.
CFault NextFault(bool write) {
  if (!g_card.flaky)
    return CFault::None;
  uint8_t control = 0;
  if (!g_card.Take(&control, 1, false))
    return write ? CFault::None : CFault::Fail;
  CFault fault = CFault::None;
  if (control >= 0xFC)
    fault = CFault::Short;
  else if (control >= 0xF8)
    fault = CFault::ErrorStatus;
  else if (control >= 0xF0)
    fault = CFault::Fail;
  if (write && fault != CFault::None)
    g_card.writeFailed = true;
  return fault;
}

// Sectors moved by either transport.
int Transfer(bool write, uint32_t lba, uint32_t count, uint8_t *data) {
  if (g_card.verbose)
    std::fprintf(stderr, "  %s lba %u count %u%s, %zu answer bytes left\n",
                 write ? "write" : "read", lba, count, g_card.special ? " (special mode)" : "",
                 g_card.left);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t *sector = data + i * kSector;
    if (write) {
      if (lba + i != 0) {
        g_card.writeElsewhere = true;
      } else {
        // The card takes the patterns as the library tells them apart.
        switch (GetSectorKind(sector)) {
        case SDSMART_SECTOR_ENTER:
        case SDSMART_SECTOR_ENTER_FILE:
          g_card.special = true;
          break;
        case SDSMART_SECTOR_LEAVE:
          g_card.special = false;
          break;
        default:
          std::memcpy(g_card.sector0.data(), sector, kSector);
          break;
        }
      }
      continue;
    }
    // In special mode every sector (the header of type 0 at sector 0 too)
    // is the firmware's answer.
    if (!g_card.special && lba + i == 0) {
      std::memcpy(sector, g_card.sector0.data(), kSector);
    } else if (!g_card.special) {
      std::memset(sector, 0, kSector); // user data
    } else if (!g_card.Take(sector, kSector, false)) {
      errno = EIO;
      return -1;
    }
  }
  return 0;
}

// One command of the native host path: block reads and writes (the card is
// block-addressed), status and stop commands answered with a clean R1.
int Mmc(mmc_ioc_cmd *cmd) {
  uint8_t *data = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(cmd->data_ptr));
  cmd->response[0] = 0x900; // ready for data, transfer state
  switch (cmd->opcode) {
  case 17:
  case 18:
  case 24:
  case 25:
    FUZZ_CHECK(cmd->blksz == kSector && data != nullptr, "whole sectors with a buffer");
    FUZZ_CHECK(cmd->write_flag == (cmd->opcode >= 24 ? 1 : 0), "write flag matches the command");
    switch (NextFault(cmd->opcode >= 24)) {
    case CFault::None:
      return Transfer(cmd->opcode >= 24, cmd->arg, cmd->blocks, data);
    case CFault::ErrorStatus:
      cmd->response[0] = 0x80900; // ERROR: nothing moved
      return 0;
    case CFault::Short:
      if (cmd->blocks > 1 && Transfer(cmd->opcode >= 24, cmd->arg, cmd->blocks - 1, data) != 0)
        return -1;
      errno = EIO;
      return -1;
    case CFault::Fail:
      errno = EIO;
      return -1;
    }
    return -1;
  case 12:
  case 13:
  case 23:
    return 0;
  default:
    errno = EINVAL;
    return -1;
  }
}

// One SCSI command of the USB reader path.
int Scsi(sg_io_hdr_t *io) {
  const uint8_t *cdb = io->cmdp;
  uint8_t *data = static_cast<uint8_t *>(io->dxferp);
  io->status = 0;
  io->host_status = 0;
  io->driver_status = 0;
  io->resid = 0;
  switch (cdb[0]) {
  case 0x00: // TEST UNIT READY
    return 0;
  case 0x25: { // READ CAPACITY(10)
    FUZZ_CHECK(io->dxfer_len >= 8, "READ CAPACITY buffer");
    const uint32_t last = static_cast<uint32_t>(g_card.sectors - 1);
    const uint8_t reply[8] = {
        uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0, 2, 0};
    std::memcpy(data, reply, 8);
    return 0;
  }
  case 0x28:   // READ(10)
  case 0x2A: { // WRITE(10)
    const uint32_t lba = Be32(cdb + 2);
    const uint32_t count = uint32_t(cdb[7]) << 8 | cdb[8];
    FUZZ_CHECK(io->dxfer_len == count * kSector, "transfer length matches the sector count");
    switch (NextFault(cdb[0] == 0x2A)) {
    case CFault::None:
      return Transfer(cdb[0] == 0x2A, lba, count, data);
    case CFault::ErrorStatus:
      io->status = 0x02; // CHECK CONDITION, MEDIUM ERROR
      io->driver_status = 0x08;
      return 0;
    case CFault::Short:
      if (count > 1 && Transfer(cdb[0] == 0x2A, lba, count - 1, data) != 0)
        return -1;
      io->resid = static_cast<int>(kSector);
      return 0;
    case CFault::Fail:
      errno = EIO;
      return -1;
    }
    return -1;
  }
  default:
    io->status = 0x02; // CHECK CONDITION
    return 0;
  }
}

bool IsSmartFile(const char *path) {
  const std::string p = path;
  const std::string want = g_card.mountPoint + kSmartFileName;
  return !g_card.mountPoint.empty() && p == want;
}

void WriteConfig(const std::string &path) {
  CIniFile ini;
  ini.WriteInteger(L"Authorization", L"Vendor ID", 4660);
  ini.WriteString(L"SMART Entry", L"4660", L"SDSMTEST");
  ini.WriteString(L"Flash Type Name", L"98 3A 98 A3 76 51", L"TLC fuzz flash");
  ini.UpdateFile(std::wstring(path.begin(), path.end()), kConfigFileSeed);
}

} // namespace

extern "C" int __wrap_open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = static_cast<mode_t>(va_arg(ap, int));
    va_end(ap);
  }
  if (path == g_card.node) {
    // A descriptor of its own (the acquisition locks it), shared with no
    // other process.
    const int fd = memfd_create("sdsmart-fuzz-card", MFD_CLOEXEC);
    if (fd != -1)
      g_card.cardFds.insert(fd);
    return fd;
  }
  if (IsSmartFile(path)) {
    // The host file lies on shared memory, where direct I/O is refused.
    const int fd = __real_open(path, flags & ~O_DIRECT, mode);
    g_card.smartFd = fd;
    return fd;
  }
  return __real_open(path, flags, mode);
}

extern "C" int __wrap_close(int fd) {
  g_card.cardFds.erase(fd);
  if (fd == g_card.smartFd)
    g_card.smartFd = -1;
  return __real_close(fd);
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  if (g_card.cardFds.count(fd) == 0)
    return __real_ioctl(fd, request, arg);
  switch (request) {
  case SG_IO:
    return Scsi(static_cast<sg_io_hdr_t *>(arg));
  case MMC_IOC_CMD:
    return Mmc(static_cast<mmc_ioc_cmd *>(arg));
  case BLKGETSIZE:
    *static_cast<unsigned long *>(arg) = g_card.sectors;
    return 0;
  case BLKGETSIZE64:
    *static_cast<uint64_t *>(arg) = g_card.sectors * kSector;
    return 0;
  default:
    errno = ENOTTY;
    return -1;
  }
}

// The firmware's answer in the host file, while the card is in special mode.
extern "C" ssize_t __wrap_read(int fd, void *buf, size_t n) {
  if (fd != g_card.smartFd || fd == -1 || !g_card.special)
    return __real_read(fd, buf, n);
  // Two bytes of length, then that many answer bytes; the rest reads as the
  // zeros the library wrote.
  uint8_t length[2];
  if (!g_card.Take(length, 2, false)) {
    errno = EIO;
    return -1;
  }
  size_t answer = static_cast<size_t>(length[0]) << 8 | length[1];
  if (answer > n)
    answer = n;
  std::memset(buf, 0, n);
  if (answer != 0)
    g_card.Take(static_cast<uint8_t *>(buf), answer, true);
  return static_cast<ssize_t>(n);
}

extern "C" FILE *__wrap_setmntent(const char *file, const char *mode) {
  if (std::strcmp(file, "/proc/self/mounts") != 0)
    return __real_setmntent(file, mode);
  static std::string table;
  table.clear();
  if (g_card.mounted)
    table = g_card.node + (g_card.node == kNativeNode ? "p1 " : "1 ") + g_card.mountPoint +
            " vfat " + (g_card.readOnly ? "ro" : "rw") + ",relatime 0 0\n";
  table += "proc /proc proc rw,nosuid 0 0\n";
  return fmemopen(table.data(), table.size(), "r");
}

namespace {

void RemoveMountPoint(const std::string &dir) {
  unlink((dir + "/config").c_str());
  unlink((dir + kSmartFileName).c_str());
  rmdir(dir.c_str());
}

void RemoveOwnMountPoint() { RemoveMountPoint(g_card.mountPoint); }

// Mount points of fuzz runs that ended without running exit handlers.
void RemoveStaleMountPoints() {
  DIR *dir = opendir("/dev/shm");
  if (dir == nullptr)
    return;
  while (const struct dirent *e = readdir(dir)) {
    const std::string name = e->d_name;
    const std::string prefix = "sdsmart-fuzz-";
    if (name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      RemoveMountPoint("/dev/shm/" + name);
  }
  closedir(dir);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  RemoveStaleMountPoints();
  g_card.mountPoint = "/dev/shm/sdsmart-fuzz-" + std::to_string(getpid());
  FUZZ_CHECK(mkdir(g_card.mountPoint.c_str(), 0700) == 0 || errno == EEXIST,
             "a mount point on shared memory");
  std::atexit(RemoveOwnMountPoint);
  const std::string config = g_card.mountPoint + "/config";
  WriteConfig(config);
  FUZZ_CHECK(SetConfigPath(config.c_str()) == 0, "the fuzz configuration loads");
  FUZZ_CHECK(SetDiskName(kUsbNode) == 0, "the fuzz node is accepted");
  // A partition table as sector 0.
  for (size_t i = 0; i < kSector; ++i)
    g_card.original[i] = static_cast<uint8_t>(i * 7 + 3);
  g_card.original[510] = 0x55; // the boot signature: never a pattern
  g_card.original[511] = 0xAA;
  g_card.verbose = std::getenv("SDSMART_FUZZ_VERBOSE") != nullptr;

  // The card must really stand behind the node: one good acquisition (a
  // header of type 0) succeeds. Should the library reach the card through
  // calls not redirected here, every input would only meet "drive not
  // found", and this stops the run instead.
  _SMART_INFO_HEADER good;
  std::memset(&good, 0, sizeof good);
  std::memcpy(good.Signature, "SI0", 3);
  good.HeaderVersion = 2;
  Bulk<unsigned char> answer(kSector);
  CSmartInfoHeader(good).ToBuffer(answer);
  std::vector<uint8_t> input = {0, 0};
  input.insert(input.end(), answer.Data(), answer.Data() + kSector);
  LLVMFuzzerTestOneInput(input.data(), input.size());
  FUZZ_CHECK(GetErrorCode() == 0, "the fuzz card answers a good acquisition");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const unsigned int selections[8] = {0, 1, 2, 4, 7, 8, 3, 6};
  CFuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  const uint8_t card = in.Byte();
  g_card.sector0 = g_card.original;
  g_card.special = false;
  g_card.writeElsewhere = false;
  g_card.writeFailed = false;
  g_card.flaky = card & 16;
  g_card.mounted = card & 1;
  g_card.readOnly = card & 2;
  g_card.sectors = card & 4 ? 128ull * 1024 * 1024 : 16ull * 1024 * 1024;
  const std::string node = card & 8 ? kNativeNode : kUsbNode;
  if (node != g_card.node) {
    g_card.node = node;
    FUZZ_CHECK(SetDiskName(node.c_str()) == 0, "the fuzz node is accepted");
  }
  g_card.answers = data + (size < 2 ? size : 2);
  g_card.left = size < 2 ? 0 : size - 2;

  SetSmartVersion(mode & 1 ? 3 : 2);
  _FuncSel = selections[(mode >> 1) & 7];
  const int result = GetSmartInfo();

  if (g_card.verbose)
    std::fprintf(stderr, "GetSmartInfo v%d sel %u: %d, code %d \"%s\", %u erase counts\n",
                 mode & 1 ? 3 : 2, _FuncSel, result, GetErrorCode(), GetErrorMessage(),
                 GetTotalVBCountOfFlash());
  FUZZ_CHECK(result == 0 || result == 1, "GetSmartInfo answers 0 or 1");
  if (result == 1)
    FUZZ_CHECK(GetErrorCode() != 0, "a failed GetSmartInfo records an error code");
  FUZZ_CHECK(!g_card.writeElsewhere, "the library writes nothing but sector 0");
  // When a write was refused, leaving special mode or restoring sector 0 may
  // have been that write; otherwise both must have happened, however the
  // reads went.
  if (!g_card.writeFailed) {
    FUZZ_CHECK(!g_card.special, "the card is left out of special mode");
    FUZZ_CHECK(g_card.sector0 == g_card.original, "sector 0 is put back as it was");
  }

  // Accessors read only the session record, whatever the card sent.
  (void)GetErrorMessage();
  (void)GetLifeMonitor();
  (void)GetRemainingLife();
  (void)GetAverageEraseCount();
  (void)GetMPVersion();
  (void)GetFWVersion();
  (void)GetHWVersion();
  (void)GetFlashID();
  (void)GetFlashType();
  (void)GetCustomizedID_CID();
  (void)GetManufactureName_CID();
  (void)GetManufacturingDate_CID();
  (void)GetClientMark();
  unsigned char reg[16];
  (void)GetSD_CID(reg, sizeof reg);
  (void)GetSD_CSD(reg, sizeof reg);
  (void)GetSD_SCR(reg, sizeof reg);
  unsigned int bytes = 0;
  char table[64];
  (void)GetDetailEraseCount(table, sizeof table, bytes);
  (void)GetDetailReadCount(table, sizeof table, bytes);
  return 0;
}
