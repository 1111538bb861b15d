// SPDX-License-Identifier: MIT
#include "sdsmart/cbw_param.h"

#include <cstring>

void CCbwParam::Reset() {
  std::memset(wrapper, 0, sizeof wrapper);
  transLen = 0;
  flag = false;
  lun = 0;
  cbdLen = 0;
  std::memset(cbd, 0, sizeof cbd);
}

void CCbwParam::SetOpCode(unsigned char op, unsigned char b1) {
  cbd[0] = op;
  cbd[1] = b1;
}

void CCbwParam::SetLba(unsigned int v) { std::memcpy(cbd + 2, &v, 4); }

void CCbwParam::SetCount(unsigned int v) {
  const unsigned short low = static_cast<unsigned short>(v);
  std::memcpy(cbd + 7, &low, 2);
}

void CCbwParam::SetArg(unsigned int v) { std::memcpy(cbd + 9, &v, 4); }

void CCbwParam::GetCbd(unsigned char *dst, unsigned int n) {
  if (n > CbdCapacity)
    n = CbdCapacity;
  std::memcpy(dst, cbd, n);
}

unsigned char *CCbwParam::GetCmdWrapper() {
  std::memset(wrapper, 0, sizeof wrapper);
  static const unsigned char signature[4] = {0x55, 0x53, 0x42, 0x43}; // "USBC"
  static const unsigned char tag[4] = {0x08, 0x90, 0xF1, 0x81};
  std::memcpy(wrapper, signature, 4);
  std::memcpy(wrapper + 4, tag, 4);
  // Only the low 16 bits of the length travel, little-endian.
  wrapper[8] = static_cast<unsigned char>(transLen & 0xFF);
  wrapper[9] = static_cast<unsigned char>((transLen >> 8) & 0xFF);
  wrapper[12] = flag ? 0x80 : 0x00;
  wrapper[13] = lun;
  wrapper[14] = static_cast<unsigned char>(cbdLen & 0xFF);
  std::memcpy(wrapper + 15, cbd, 12);
  return wrapper;
}

CCbwParam::CCbwParam() {}

void CCbwParam::SetTransLenInByte(unsigned int n) { transLen = n; }

void CCbwParam::SetFlag(bool in) { flag = in; }

void CCbwParam::SetLun(unsigned char lun) { this->lun = lun; }

void CCbwParam::SetCbdLen(unsigned int n) { cbdLen = static_cast<unsigned short>(n); }

void CCbwParam::SetCbd(unsigned int i, unsigned char v) { cbd[i] = v; }

unsigned int CCbwParam::GetTransLenInByte() { return transLen; }

bool CCbwParam::GetFlag() { return flag; }

unsigned char CCbwParam::GetLun() { return lun; }

unsigned short CCbwParam::GetCbdLen() { return cbdLen; }

unsigned char *CCbwParam::GetCbd() { return cbd; }
