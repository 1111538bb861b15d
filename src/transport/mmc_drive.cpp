// SPDX-License-Identifier: MIT
#include "sdsmart/mmc_drive.h"

#include "sdsmart/scsi_base.h"
#include "transport/kernel_abi.h"
#include "transport/transfer_observer.h"
#include "util/error_catalogue.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using namespace sdsmart_kernel;

// Reads a symbolic link into text (at most 1023 bytes); false on failure.
bool ReadLink(const std::string &path, std::string &text) {
  char buf[1024];
  std::memset(buf, 0, sizeof buf);
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0)
    return false;
  text.assign(buf, static_cast<size_t>(n));
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Sends one command record; on failure prints the system's reason and throws.
void SendCommand(int handle, mmc_ioc_cmd &cmd, const char *prefix, const ErrorMessage &failure) {
  const int result = ::ioctl(handle, kMmcIocCmd, &cmd);
  TransferObserver::Ioctl(kMmcIocCmd, &cmd, result);
  if (result != 0) {
    std::perror(prefix);
    throw MakeError(failure);
  }
}

} // namespace

// The layout hosts were built against.
struct CMmcDriveLayout {
  struct Documented {
    int handle;
    std::wstring diskName;
  };
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(CMmcDrive) == sizeof(Documented), "CMmcDrive size");
  static_assert(offsetof(CMmcDrive, handle) == offsetof(Documented, handle), "handle");
  static_assert(offsetof(CMmcDrive, diskName) == offsetof(Documented, diskName), "diskName");
#pragma GCC diagnostic pop
};

CMmcDrive::CMmcDrive() : handle(-1) {}

CMmcDrive::CMmcDrive(const std::wstring &name, bool) : handle(-1) { Open(name); }

CMmcDrive::~CMmcDrive() { Close(); }

void CMmcDrive::Open(const std::wstring &name) {
  Close();
  diskName = name;
  handle = scsi_base::open_handle(name);
  if (handle == -1)
    throw MakeError(Errors::DriveNotFound, {name});
  LearnAddressing();
}

void CMmcDrive::ReOpen() { Open(diskName); }

void CMmcDrive::Close() {
  closedByFailure = false;
  byteAddressed = false;
  if (handle != -1) {
    scsi_base::close_handle(handle);
    handle = -1;
  }
}

unsigned int CMmcDrive::ReadCapacity() {
  uint64_t bytes = 0;
  if (::ioctl(handle, kBlkGetSize64, &bytes) < 0) {
    std::perror("Read Capacity ioctl");
    throw MakeError(Errors::ReadCapacityFailed);
  }
  return static_cast<unsigned int>(bytes >> 20);
}

void CMmcDrive::ReadWriteSector(short op, unsigned char *buf, unsigned int lba, unsigned int count,
                                int blockSize) {
  const ErrorMessage &failure = Errors::ReadWriteSectorFailed;
  // A drive that a failed transfer closed is opened again, so that the
  // clean-up writes which follow a failure can still reach the card.
  if (handle == -1 && closedByFailure) {
    try {
      ReOpen();
    } catch (...) {
      closedByFailure = true; // try again with the next transfer
      throw;
    }
  }
  if (count == 0)
    return; // nothing to move; a multi-block command without data must not be sent
  // Requests the host cannot carry (the block driver takes at most
  // MMC_IOC_MAX_BYTES in one command) are refused before anything is sent.
  const uint64_t bytes = static_cast<uint64_t>(count) * static_cast<uint64_t>(blockSize);
  if (buf == nullptr || blockSize <= 0 || bytes > UINT32_MAX ||
      bytes > static_cast<uint64_t>(MMC_IOC_MAX_BYTES))
    throw MakeError(failure);
  uint64_t arg = lba;
  if (byteAddressed) {
    // Standard-capacity cards take the byte address of the block.
    arg = static_cast<uint64_t>(lba) * SectorSize;
    if (arg > UINT32_MAX)
      throw MakeError(failure);
  }

  mmc_ioc_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.arg = static_cast<uint32_t>(arg);
  cmd.blksz = static_cast<unsigned int>(blockSize);
  cmd.blocks = count;
  mmc_ioc_cmd_set_data(cmd, buf);
  if (op == kScsiWrite10) {
    cmd.write_flag = 1;
    cmd.opcode = count == 1 ? kCmdWriteBlock : kCmdWriteMultipleBlock;
    cmd.flags = kMmcWriteFlags;
  } else {
    cmd.write_flag = 0;
    cmd.opcode = count == 1 ? kCmdReadSingleBlock : kCmdReadMultipleBlock;
    cmd.flags = kMmcReadFlags;
  }
  const int result = ::ioctl(handle, kMmcIocCmd, &cmd);
  TransferObserver::Ioctl(kMmcIocCmd, &cmd, result);
  // The host passes the card's R1 answer through untouched: a card that
  // refused the command (ECC failure, address error, ...) moved no data.
  const bool refused = result == 0 && (cmd.response[0] & kR1Errors) != 0;
  if (result != 0 || refused) {
    if (refused)
      std::fprintf(stderr, "ReadWriteSector : card status 0x%08x\n", cmd.response[0]);
    else
      std::perror("ReadWriteSector ");
    const bool wasOpen = handle != -1;
    Close();
    closedByFailure = wasOpen;
    throw MakeError(failure);
  }
}

void CMmcDrive::ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  ReadWriteSector(kScsiRead10, buf, lba, count, SectorSize);
}

void CMmcDrive::WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  ReadWriteSector(kScsiWrite10, buf, lba, count, SectorSize);
}

std::string CMmcDrive::NodeName() const {
  std::string link;
  if (!ReadLink("/proc/self/fd/" + std::to_string(handle), link))
    return std::string();
  const size_t slash = link.rfind('/');
  return slash == std::string::npos ? link : link.substr(slash + 1);
}

void CMmcDrive::LearnAddressing() {
  byteAddressed = false;
  const std::string name = NodeName();
  if (name.empty())
    return;
  const std::string path = "/sys/class/block/" + name + "/device/csd";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1)
    return;
  char text[64];
  const ssize_t n = ::read(fd, text, sizeof text);
  ::close(fd);
  // The kernel prints the register as 32 hex digits; anything else is not a CSD.
  if (n < 32)
    return;
  for (int i = 0; i < 32; ++i) {
    if (HexDigit(text[i]) < 0)
      return;
  }
  if (n > 32 && HexDigit(text[32]) >= 0)
    return;
  const unsigned int firstByte =
      static_cast<unsigned int>(HexDigit(text[0]) << 4 | HexDigit(text[1]));
  // CSD_STRUCTURE 0: standard capacity, byte addressing.
  byteAddressed = (firstByte >> 6) == 0;
}

int CMmcDrive::GetRCA() {
  const std::string name = NodeName();
  if (name.empty())
    return -1;
  std::string link;
  if (!ReadLink("/sys/class/block/" + name + "/device", link))
    return -1;
  const size_t colon = link.rfind(':');
  if (colon == std::string::npos)
    return -1;
  return static_cast<int>(std::strtol(link.c_str() + colon + 1, nullptr, 16));
}

void CMmcDrive::SendStatus(unsigned int *status) {
  mmc_ioc_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.opcode = kCmdSendStatus;
  cmd.arg = static_cast<uint32_t>(GetRCA()) << 16;
  cmd.flags = kMmcR1Flags;
  SendCommand(handle, cmd, "Send Status ", Errors::SendStatusFailed);
  std::puts("CMD13 Done ");
  *status = cmd.response[0];
  std::printf("SEND_STATUS response: 0x%08x \n", cmd.response[0]);
}

void CMmcDrive::Stop_Transmission() {
  mmc_ioc_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.opcode = kCmdStopTransmission;
  cmd.flags = kMmcR1bFlags;
  SendCommand(handle, cmd, "Stop Transmission ", Errors::StopTransmissionFailed);
  std::puts("CMD12 Done ");
}

void CMmcDrive::SetBlockCount(unsigned int count) {
  mmc_ioc_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.opcode = kCmdSetBlockCount;
  cmd.arg = count & 0xFFFF;
  cmd.flags = kMmcR1bFlags;
  SendCommand(handle, cmd, "Set Block Count ", Errors::SetBlockCountFailed);
  std::puts("CMD23 Done ");
}

bool CMmcDrive::IsOpen() { return handle != -1; }

void CMmcDrive::WaitForDiskReady(unsigned int) {}

int CMmcDrive::GetHandle() { return handle; }

std::wstring CMmcDrive::GetDiskName() { return diskName; }

bool CMmcDrive::IsByteAddressed() { return byteAddressed; }
