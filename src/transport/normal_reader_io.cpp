// SPDX-License-Identifier: MIT
#include "sdsmart/normal_reader_io.h"

#include "transport/device_reader_io.h"
#include "transport/sector_device.h"

bool CNormalReaderIo::IsUsbDrive = true;
bool CNormalReaderIo::FasterLBAReadWrite = true;

namespace {

// The process-wide flag picks the drive; an object built for the other kind
// of drive has none to offer and refuses rather than touch a null drive.
CSectorDevice Selected(CUsbDrive *usb, CMmcDrive *mmc) {
  return CSectorDevice::Select(
      CNormalReaderIo::IsUsbDrive ? Transport::UsbReader : Transport::SdHost, usb, mmc);
}

} // namespace

CNormalReaderIo::CNormalReaderIo(CUsbDrive &drive) : usbDrive(&drive) {}

CNormalReaderIo::CNormalReaderIo(CMmcDrive &drive) : mmcDrive(&drive) {}

void CNormalReaderIo::WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  if (!FasterLBAReadWrite)
    Selected(usbDrive, mmcDrive).Write(lba, count, buf);
}

void CNormalReaderIo::ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  if (!FasterLBAReadWrite)
    Selected(usbDrive, mmcDrive).Read(lba, count, buf);
}

void CNormalReaderIo::Cmd56Write(unsigned char *buf, unsigned int) {
  Selected(usbDrive, mmcDrive).Write(0, 1, buf);
}

void CNormalReaderIo::Cmd24Write(unsigned int lba, unsigned char *buf) {
  Selected(usbDrive, mmcDrive).Write(lba, 1, buf);
}

// The documented answer keeps each drive's own unit.
unsigned int CNormalReaderIo::ReadCapacity() {
  return Selected(usbDrive, mmcDrive).Visit([](auto &drive) { return drive.ReadCapacity(); });
}

// The card is reached by sector reads and writes only; the command-level
// members below do nothing and are kept for the documented interface.
CNormalReaderIo::~CNormalReaderIo() {}

void CNormalReaderIo::ExecCmd(unsigned int, unsigned int) {}

void CNormalReaderIo::ExecCmd(unsigned int, unsigned int, unsigned int, unsigned char *) {}

void CNormalReaderIo::CmdDataIn(unsigned int, unsigned int, unsigned int, unsigned char *) {}

void CNormalReaderIo::CmdDataOut(unsigned int, unsigned int, unsigned int, unsigned char *) {}

void CNormalReaderIo::CmdSectorDataIn(unsigned int, unsigned int, unsigned int, unsigned char *,
                                      bool) {}

void CNormalReaderIo::CmdSectorDataOut(unsigned int, unsigned int, unsigned int, unsigned char *,
                                       bool) {}

void CNormalReaderIo::Cmd56Read(unsigned char *, unsigned int) {}

void CNormalReaderIo::GetControllerType(CHardwareInfo &, bool) {}

void CNormalReaderIo::DownloadVendorFirmware(const std::wstring &) {}

void CNormalReaderIo::DownloadBindedVendorFirmware(const std::wstring &) {}

int CNormalReaderIo::MeasureSystemClockOfCard(unsigned char, unsigned char, unsigned char) {
  return 0;
}

void CNormalReaderIo::Reset() {}

int CNormalReaderIo::WriteSpeedTest(unsigned int, unsigned int, bool, bool) { return 0; }

CUsbDrive *CNormalReaderIo::GetUsbDrive() { return usbDrive; }

std::unique_ptr<CDeviceReaderIo> CDeviceReaderIo::Over(CSectorDevice device) {
  return device.Visit([](auto &drive) { return std::make_unique<CDeviceReaderIo>(drive); });
}

void CDeviceReaderIo::WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  device.Write(lba, count, buf);
}

void CDeviceReaderIo::ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  device.Read(lba, count, buf);
}

void CDeviceReaderIo::Cmd56Write(unsigned char *buf, unsigned int) { device.Write(0, 1, buf); }

void CDeviceReaderIo::Cmd24Write(unsigned int lba, unsigned char *buf) {
  device.Write(lba, 1, buf);
}

unsigned int CDeviceReaderIo::ReadCapacity() {
  return device.Visit([](auto &drive) { return drive.ReadCapacity(); });
}
