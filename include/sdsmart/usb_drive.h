// SPDX-License-Identifier: MIT
// The block device behind a USB card reader: a SCSI disk node reached through
// SG_IO. Sectors are 512 bytes; every run is one READ(10) or WRITE(10).
#pragma once

#include <fstream>
#include <string>

// SCSI trace: when the host sets trace_on and opens g_tracer, the USB drive
// writes one line per command to it. The library sets neither.
extern bool trace_on;
extern std::wofstream g_tracer;

class CUsbDrive {
public:
  static constexpr unsigned int SectorSize = 512;
  // Widest run one READ(10)/WRITE(10) carries.
  static constexpr unsigned int MaxSectorCount = 0xFFFF;

  CUsbDrive();
  // The flag is accepted and ignored.
  CUsbDrive(const std::wstring &name, bool);
  ~CUsbDrive();
  CUsbDrive(const CUsbDrive &) = delete;
  CUsbDrive &operator=(const CUsbDrive &) = delete;

  // Throws Errors::DriveNotFound when the node cannot be opened (the drive is then closed).
  void Open(const std::wstring &name);
  void ReOpen();
  bool IsOpen();
  void Close();

  // Number of 512-byte sectors of the medium; throws Errors::UsbDiskSize.
  unsigned int ReadCapacity();
  // count sectors at lba to/from buf (count x 512 bytes); throw UsbReadFailed / UsbWriteFailed.
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf);
  // Polls TEST UNIT READY time / 5 + 1 times; throws Errors::DiskNotReady.
  void WaitForDiskReady(unsigned int time);
  // True when the sg_io_hdr at hdr carries a status other than GOOD.
  bool GetScsiStatus(unsigned char *hdr);

  int GetHandle();
  std::wstring GetDiskName();

private:
  void TransferSectors(bool read, unsigned int lba, unsigned int count, unsigned char *buf);

  // The documented layout (hosts place the object on their stack).
  int handle;
  std::wstring diskName;

  friend struct CUsbDriveLayout;
};
