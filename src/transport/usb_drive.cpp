// SPDX-License-Identifier: MIT
#include "sdsmart/usb_drive.h"

#include "sdsmart/cbw_param.h"
#include "sdsmart/endian.h"
#include "sdsmart/scsi_base.h"
#include "transport/kernel_abi.h"
#include "util/error_catalogue.h"

#include <cstddef>
#include <cstring>

bool trace_on = false;
std::wofstream g_tracer;

namespace {

using namespace sdsmart_kernel;

// SG_IO timeouts, in milliseconds.
constexpr unsigned int kShortTimeoutMs = 2000;
constexpr unsigned int kTransferTimeoutMs = 6000;

constexpr unsigned int kSenseSize = 32;
constexpr unsigned int kTransferSenseLen = 24;

void Trace(const wchar_t *line) {
  if (trace_on)
    g_tracer << line << std::endl;
}

// Builds the common part of a command: LUN 0, byte 1 of the block 0.
void BuildCommand(CCbwParam &cmd, unsigned int transLen, bool in, unsigned int cbdLen,
                  unsigned char op) {
  cmd.Reset();
  cmd.SetTransLenInByte(transLen);
  cmd.SetFlag(in);
  cmd.SetLun(0);
  cmd.SetCbdLen(cbdLen);
  cmd.SetOpCode(op, 0);
}

// Sends cmd; true when the kernel ran it and the device completed it with GOOD
// status, no transport or driver error and (when asked) the whole data moved.
bool Issue(int handle, CCbwParam &cmd, unsigned char *data, unsigned int timeout,
           unsigned int senseLen, bool checkResid) {
  sg_io_hdr_t io;
  unsigned char sense[kSenseSize];
  std::memset(sense, 0, sizeof sense);
  scsi_base::init_scsi_struct(cmd, data, timeout, &io, sense, senseLen);
  unsigned int returned = 0;
  if (scsi_base::dev_io_ctl(handle, kSgIo, &io, sizeof io, &io, sizeof io, &returned, nullptr) ==
      -1)
    return false;
  if (io.status != kScsiStatusGood || io.host_status != 0)
    return false;
  if (io.driver_status != 0 && io.driver_status != kDriverSense)
    return false;
  if (checkResid && io.resid != 0)
    return false;
  return true;
}

} // namespace

struct CUsbDriveLayout {
  struct Documented {
    int handle;
    std::wstring diskName;
  };
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(CUsbDrive) == sizeof(Documented), "CUsbDrive size");
  static_assert(offsetof(CUsbDrive, handle) == offsetof(Documented, handle), "handle");
  static_assert(offsetof(CUsbDrive, diskName) == offsetof(Documented, diskName), "diskName");
#pragma GCC diagnostic pop
};

CUsbDrive::CUsbDrive() : handle(-1) {}

CUsbDrive::CUsbDrive(const std::wstring &name, bool) : handle(-1) { Open(name); }

CUsbDrive::~CUsbDrive() { Close(); }

void CUsbDrive::Open(const std::wstring &name) {
  Close();
  diskName = name;
  handle = scsi_base::open_handle(name);
  if (trace_on)
    g_tracer << L"drive handle=" << handle << std::endl;
  if (handle == -1)
    throw MakeError(Errors::DriveNotFound, {name});
}

void CUsbDrive::ReOpen() { Open(diskName); }

void CUsbDrive::Close() {
  if (handle != -1) {
    scsi_base::close_handle(handle);
    handle = -1;
  }
}

unsigned int CUsbDrive::ReadCapacity() {
  CCbwParam cmd;
  BuildCommand(cmd, 8, true, 10, kScsiReadCapacity10);
  // Cleared so that nothing stale can be read as a capacity.
  unsigned char reply[8] = {};
  Trace(L"\r\n SCSI: Read Capacity");
  if (!Issue(handle, cmd, reply, kShortTimeoutMs, kSenseSize, true))
    throw MakeError(Errors::UsbDiskSize);
  Trace(L"\r\n SCSI: Status: Success");
  const unsigned int lastLba = (static_cast<unsigned int>(reply[0]) << 24) |
                               (static_cast<unsigned int>(reply[1]) << 16) |
                               (static_cast<unsigned int>(reply[2]) << 8) | reply[3];
  return lastLba == 0 ? 0 : lastLba + 1;
}

void CUsbDrive::TransferSectors(bool read, unsigned int lba, unsigned int count,
                                unsigned char *buf) {
  const ErrorMessage &failure = read ? Errors::UsbReadFailed : Errors::UsbWriteFailed;
  // The command block carries 16 bits of count; a wider run, or a run
  // without a buffer, is refused before anything reaches the device.
  if (count > MaxSectorCount || (count > 0 && buf == nullptr))
    throw MakeError(failure);
  CEndian endian;
  CCbwParam cmd;
  BuildCommand(cmd, count * SectorSize, read, 10, read ? kScsiRead10 : kScsiWrite10);
  cmd.SetLba(endian.SwapDWord(lba));
  cmd.SetCount(endian.SwapWord(static_cast<unsigned short>(count)));
  if (!Issue(handle, cmd, buf, kTransferTimeoutMs, kTransferSenseLen, true))
    throw MakeError(failure);
  Trace(L"\r\n SCSI: Status: Success");
}

void CUsbDrive::ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  TransferSectors(true, lba, count, buf);
}

void CUsbDrive::WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  TransferSectors(false, lba, count, buf);
}

void CUsbDrive::WaitForDiskReady(unsigned int time) {
  const unsigned int attempts = time / 5 + 1;
  CCbwParam cmd;
  BuildCommand(cmd, 0, true, 6, kScsiTestUnitReady);
  for (unsigned int i = 0; i < attempts; ++i) {
    if (Issue(handle, cmd, nullptr, kShortTimeoutMs, kSenseSize, false))
      return;
  }
  throw MakeError(Errors::DiskNotReady);
}

bool CUsbDrive::GetScsiStatus(unsigned char *hdr) {
  return hdr[offsetof(sg_io_hdr_t, status)] != 0;
}

bool CUsbDrive::IsOpen() { return handle != -1; }

int CUsbDrive::GetHandle() { return handle; }

std::wstring CUsbDrive::GetDiskName() { return diskName; }
