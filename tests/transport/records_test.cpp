// SPDX-License-Identifier: MIT
// The USB command block wrapper around a SCSI command block: rebuilt whole
// each time, so a previous length or direction does not survive.
#include "sdsmart/cbw_param.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CCbwParamTest, CommandBlockWrapper) {
  const struct {
    unsigned int len;
    bool in;
    unsigned char lun, lenLo, lenHi, flags;
  } cases[] = {{0x00012345, true, 0, 0x45, 0x23, 0x80}, {512, false, 1, 0x00, 0x02, 0x00}};
  CCbwParam cmd;
  cmd.Reset();
  for (unsigned int i = 0; i < 15; ++i)
    cmd.SetCbd(i, static_cast<unsigned char>(0xC0 + i));
  cmd.SetCbdLen(10);
  for (const auto &c : cases) {
    cmd.SetTransLenInByte(c.len);
    cmd.SetFlag(c.in);
    cmd.SetLun(c.lun);
    std::vector<unsigned char> expect = {0x55,    0x53,    0x42, 0x43, 0x08,    0x90,  0xF1, 0x81,
                                         c.lenLo, c.lenHi, 0,    0,    c.flags, c.lun, 10};
    for (unsigned int i = 0; i < 12; ++i)
      expect.push_back(static_cast<unsigned char>(0xC0 + i));
    expect.insert(expect.end(), 4, 0);
    const unsigned char *wrapper = cmd.GetCmdWrapper();
    EXPECT_EQ(std::vector<unsigned char>(wrapper, wrapper + 31), expect) << c.len;
  }
}
