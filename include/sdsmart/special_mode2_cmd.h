// SPDX-License-Identifier: MIT
// CSpecialMode2Cmd: the vendor command channel. Switches the card into and out
// of special mode 2 by writing command patterns to sector 0, and moves whole
// sectors through the card command I/O object it owns.
#pragma once

#include "sdsmart/bulk.h"

#include <memory>
#include <string>

class CSdHostIo;
class CUsbDrive;
class CMmcDrive;

class CSpecialMode2Cmd {
public:
  // Both set CNormalReaderIo::FasterLBAReadWrite false and
  // CNormalReaderIo::IsUsbDrive true (USB) or false (native host).
  CSpecialMode2Cmd(CUsbDrive &drive, const std::wstring &entry);
  CSpecialMode2Cmd(CMmcDrive &drive, const std::wstring &entry);
  // A channel over a card command I/O object that knows its own drive: no
  // process-wide flag is read or set, so channels to cards of either kind
  // may live side by side. `usbTransport` is what IsUsbTransport reports.
  CSpecialMode2Cmd(std::unique_ptr<CSdHostIo> io, bool usbTransport, const std::wstring &entry);
  ~CSpecialMode2Cmd();
  CSpecialMode2Cmd(const CSpecialMode2Cmd &) = delete;
  CSpecialMode2Cmd &operator=(const CSpecialMode2Cmd &) = delete;

  bool IsNormalReader();
  void LockControl(bool);
  void SetEntryPattern(const std::wstring &entry);

  // method 0: CMD24 write of sector 0; 1: WriteSector(0, 1); else CMD56.
  void EnterSpecialMode2(unsigned int method, unsigned char version);
  void LeaveSpecialMode2(unsigned int method);

  // Fill the first 512 bytes; a smaller buffer is left untouched.
  void CreateMode2EnterPattern(Bulk<unsigned char> &buffer);
  void CreateMode2LeavePattern(Bulk<unsigned char> &buffer);
  bool SpcEnterLeaveWrite(unsigned int lba, unsigned int method, unsigned char *data);

  // size must be a nonzero multiple of 512 (Cmd27: exactly 512), checked
  // before anything reaches the card.
  void Cmd18(unsigned int lba, void *buffer, unsigned int size);
  void Cmd25(unsigned int lba, void *buffer, unsigned int size);
  void Cmd27(unsigned int lba, void *buffer, unsigned int size);
  void Cmd18(void *buffer, unsigned int size);
  void Cmd25(void *buffer, unsigned int size);
  void Cmd27(void *buffer, unsigned int size);

  unsigned char GetSmartVersion();
  bool IsUsbTransport();

private:
  std::unique_ptr<CSdHostIo> HostIoOwner;
  CSdHostIo *HostIo = nullptr;
  bool NormalReader = true;
  bool UsbTransport = true;
  std::wstring EntryPattern;
  unsigned char SmartVersion = 2;
};
