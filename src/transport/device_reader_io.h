// SPDX-License-Identifier: MIT
// A CNormalReaderIo bound to the drive it was built over. The documented
// object picks its drive by the process-wide CNormalReaderIo::IsUsbDrive;
// this one carries its transport itself, so that two cards of different
// kinds can be read in one process. It always moves data: the process-wide
// CNormalReaderIo::FasterLBAReadWrite switches the documented objects only.
#pragma once

#include "sdsmart/normal_reader_io.h"
#include "transport/sector_device.h"

#include <memory>

class CDeviceReaderIo final : public CNormalReaderIo {
public:
  explicit CDeviceReaderIo(CUsbDrive &drive) : CNormalReaderIo(drive), device(&drive) {}
  explicit CDeviceReaderIo(CMmcDrive &drive) : CNormalReaderIo(drive), device(&drive) {}
  // One over the drive `device` views; throws Errors::DriveNotFound when it
  // views none.
  static std::unique_ptr<CDeviceReaderIo> Over(CSectorDevice device);

  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void Cmd56Write(unsigned char *buf, unsigned int len) override;
  void Cmd24Write(unsigned int lba, unsigned char *buf) override;
  unsigned int ReadCapacity() override;

private:
  CSectorDevice device;
};
