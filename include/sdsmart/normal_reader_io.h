// SPDX-License-Identifier: MIT
// The card command interface over an ordinary reader or SD host: card
// operations become plain sector reads and writes on the drive, and the card
// firmware recognises the vendor patterns in the sector data.
#pragma once

#include "sdsmart/sd_host_io.h"

class CUsbDrive;
class CMmcDrive;

class CNormalReaderIo : public CSdHostIo {
public:
  // Process-wide: selects the drive every object uses (true: the USB drive).
  static bool IsUsbDrive;
  // Process-wide: when true, ReadSector and WriteSector transfer nothing.
  static bool FasterLBAReadWrite;

  // The drives are not owned.
  explicit CNormalReaderIo(CUsbDrive &drive);
  explicit CNormalReaderIo(CMmcDrive &drive);
  ~CNormalReaderIo() override;

  void ExecCmd(unsigned int, unsigned int) override;
  void ExecCmd(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdDataIn(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdDataOut(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdSectorDataIn(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override;
  void CmdSectorDataOut(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override;
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void Cmd56Read(unsigned char *, unsigned int) override;
  // Writes buf as sector 0; len is not used (one sector is written).
  void Cmd56Write(unsigned char *buf, unsigned int len) override;
  void Cmd24Write(unsigned int lba, unsigned char *buf) override;
  void GetControllerType(CHardwareInfo &, bool) override;
  void DownloadVendorFirmware(const std::wstring &) override;
  void DownloadBindedVendorFirmware(const std::wstring &) override;
  int MeasureSystemClockOfCard(unsigned char, unsigned char, unsigned char) override;
  void Reset() override;
  int WriteSpeedTest(unsigned int, unsigned int, bool, bool) override;
  // Sectors from the USB drive, MiB from the native drive.
  unsigned int ReadCapacity() override;

  CUsbDrive *GetUsbDrive();

private:
  CUsbDrive *usbDrive = nullptr;
  CMmcDrive *mmcDrive = nullptr;
};
