// SPDX-License-Identifier: MIT
// One SCSI command as the drives build it: direction, logical unit, data
// length and command descriptor block. It can also render itself as the
// 31-byte USB Mass Storage Command Block Wrapper.
#pragma once

class CCbwParam {
public:
  static constexpr unsigned int WrapperLength = 31;
  static constexpr unsigned int CbdCapacity = 15;

  // Fields are undefined until Reset() is called.
  CCbwParam();

  void Reset();
  void SetTransLenInByte(unsigned int n);
  void SetFlag(bool in);
  void SetLun(unsigned char lun);
  void SetCbdLen(unsigned int n);
  // No bound check: i must be below 15.
  void SetCbd(unsigned int i, unsigned char v);
  void SetOpCode(unsigned char op, unsigned char b1);
  // The multi-byte setters copy their argument byte for byte in host memory
  // order; callers convert to big-endian first.
  void SetLba(unsigned int v);
  void SetCount(unsigned int v);
  void SetArg(unsigned int v);

  unsigned int GetTransLenInByte();
  bool GetFlag();
  unsigned char GetLun();
  unsigned short GetCbdLen();
  unsigned char *GetCbd();
  void GetCbd(unsigned char *dst, unsigned int n);
  // Builds the wrapper in the record and returns its address.
  unsigned char *GetCmdWrapper();

private:
  unsigned char wrapper[WrapperLength];
  unsigned int transLen;
  bool flag;
  unsigned char lun;
  unsigned short cbdLen;
  unsigned char cbd[CbdCapacity];
};
