// SPDX-License-Identifier: MIT
// The card command interface the vendor command channel talks through:
// card-level operations named after SD commands plus host-controller services.
#pragma once

#include <string>

class CHardwareInfo;

class CSdHostIo {
public:
  virtual ~CSdHostIo();
  virtual void ExecCmd(unsigned int cmd, unsigned int arg) = 0;
  virtual void ExecCmd(unsigned int cmd, unsigned int arg, unsigned int len,
                       unsigned char *buf) = 0;
  virtual void CmdDataIn(unsigned int cmd, unsigned int arg, unsigned int len,
                         unsigned char *buf) = 0;
  virtual void CmdDataOut(unsigned int cmd, unsigned int arg, unsigned int len,
                          unsigned char *buf) = 0;
  virtual void CmdSectorDataIn(unsigned int cmd, unsigned int arg, unsigned int count,
                               unsigned char *buf, bool stop) = 0;
  virtual void CmdSectorDataOut(unsigned int cmd, unsigned int arg, unsigned int count,
                                unsigned char *buf, bool stop) = 0;
  virtual void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) = 0;
  virtual void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) = 0;
  virtual void Cmd56Read(unsigned char *buf, unsigned int len) = 0;
  virtual void Cmd56Write(unsigned char *buf, unsigned int len) = 0;
  virtual void Cmd24Write(unsigned int lba, unsigned char *buf) = 0;
  virtual void GetControllerType(CHardwareInfo &info, bool refresh) = 0;
  virtual void DownloadVendorFirmware(const std::wstring &path) = 0;
  virtual void DownloadBindedVendorFirmware(const std::wstring &path) = 0;
  virtual int MeasureSystemClockOfCard(unsigned char a, unsigned char b, unsigned char c) = 0;
  virtual void Reset() = 0;
  virtual int WriteSpeedTest(unsigned int lba, unsigned int count, bool a, bool b) = 0;
  virtual unsigned int ReadCapacity() = 0;
};
