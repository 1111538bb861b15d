// SPDX-License-Identifier: MIT
#include "transport/normal_reader_io.h"

#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"
#include "util/error_catalogue.h"

bool CNormalReaderIo::IsUsbDrive = true;
bool CNormalReaderIo::FasterLBAReadWrite = true;

namespace {

// The process-wide flag picks the drive; an object built for the other kind
// of drive has none to offer and refuses rather than touch a null drive.
template <typename Drive> Drive &Selected(Drive *drive) {
  if (drive == nullptr)
    throw MakeError(Errors::DriveNotFound);
  return *drive;
}

} // namespace

CNormalReaderIo::CNormalReaderIo(CUsbDrive &drive) : usbDrive(&drive) {}

CNormalReaderIo::CNormalReaderIo(CMmcDrive &drive) : mmcDrive(&drive) {}

void CNormalReaderIo::WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  if (FasterLBAReadWrite)
    return;
  if (IsUsbDrive)
    Selected(usbDrive).WriteSector(lba, count, buf);
  else
    Selected(mmcDrive).WriteSector(lba, count, buf);
}

void CNormalReaderIo::ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) {
  if (FasterLBAReadWrite)
    return;
  if (IsUsbDrive)
    Selected(usbDrive).ReadSector(lba, count, buf);
  else
    Selected(mmcDrive).ReadSector(lba, count, buf);
}

void CNormalReaderIo::Cmd56Write(unsigned char *buf, unsigned int) {
  if (IsUsbDrive)
    Selected(usbDrive).WriteSector(0, 1, buf);
  else
    Selected(mmcDrive).WriteSector(0, 1, buf);
}

void CNormalReaderIo::Cmd24Write(unsigned int lba, unsigned char *buf) {
  if (IsUsbDrive)
    Selected(usbDrive).WriteSector(lba, 1, buf);
  else
    Selected(mmcDrive).WriteSector(lba, 1, buf);
}

unsigned int CNormalReaderIo::ReadCapacity() {
  return IsUsbDrive ? Selected(usbDrive).ReadCapacity() : Selected(mmcDrive).ReadCapacity();
}

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
