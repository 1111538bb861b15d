#include "transport/cbw_param.h"
#include "util/endian.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(const unsigned char *p, size_t n) {
  return std::vector<unsigned char>(p, p + n);
}

CCbwParam Cleared() {
  CCbwParam cmd;
  std::memset(static_cast<void *>(&cmd), 0xA5, sizeof cmd);
  cmd.Reset();
  return cmd;
}

} // namespace

TEST(CCbwParamTest, ResetClearsEveryField) {
  CCbwParam cmd = Cleared();
  EXPECT_EQ(cmd.GetTransLenInByte(), 0u);
  EXPECT_FALSE(cmd.GetFlag());
  EXPECT_EQ(cmd.GetLun(), 0);
  EXPECT_EQ(cmd.GetCbdLen(), 0);
  EXPECT_EQ(Bytes(cmd.GetCbd(), 15), std::vector<unsigned char>(15, 0));
}

TEST(CCbwParamTest, SettersPlaceBytesInHostOrder) {
  CCbwParam cmd = Cleared();
  cmd.SetTransLenInByte(0x01020304);
  cmd.SetFlag(true);
  cmd.SetLun(3);
  cmd.SetCbdLen(0x1000A); // only 16 bits are kept
  cmd.SetOpCode(0x2A, 0x08);
  cmd.SetLba(0x11223344);
  cmd.SetCount(0x12345); // upper bits lost
  cmd.SetArg(0x55667788);
  cmd.SetCbd(14, 0xEE);
  EXPECT_EQ(cmd.GetTransLenInByte(), 0x01020304u);
  EXPECT_TRUE(cmd.GetFlag());
  EXPECT_EQ(cmd.GetLun(), 3);
  EXPECT_EQ(cmd.GetCbdLen(), 0x000A);

  unsigned int lba = 0x11223344, arg = 0x55667788;
  unsigned short count = 0x2345;
  std::vector<unsigned char> expect(15, 0);
  expect[0] = 0x2A;
  expect[1] = 0x08;
  std::memcpy(&expect[2], &lba, 4);
  std::memcpy(&expect[7], &count, 2);
  std::memcpy(&expect[9], &arg, 4); // SetArg overlaps the count's second byte
  expect[14] = 0xEE;
  EXPECT_EQ(Bytes(cmd.GetCbd(), 15), expect);

  unsigned char out[16];
  std::memset(out, 0x77, sizeof out);
  cmd.GetCbd(out, 4);
  EXPECT_EQ(Bytes(out, 5), (std::vector<unsigned char>{0x2A, 0x08, expect[2], expect[3], 0x77}));
}

TEST(CCbwParamTest, Read10BlockFromBigEndianFields) {
  const CEndian endian;
  if (endian.IsBigEndian())
    GTEST_SKIP() << "the example is for a little-endian host";
  CCbwParam cmd = Cleared();
  cmd.SetOpCode(0x28, 0);
  cmd.SetLba(endian.SwapDWord(0x00012345));
  cmd.SetCount(endian.SwapWord(8));
  EXPECT_EQ(Bytes(cmd.GetCbd(), 10),
            (std::vector<unsigned char>{0x28, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x08, 0}));
}

TEST(CCbwParamTest, CommandBlockWrapper) {
  struct Case {
    unsigned int len;
    bool in;
    unsigned char lun;
    unsigned int cbdLen;
    unsigned char lenLo, lenHi, flags;
  };
  const Case cases[] = {
      {0x00012345, true, 0, 10, 0x45, 0x23, 0x80},
      {512, false, 1, 6, 0x00, 0x02, 0x00},
      {0, true, 0, 0x10A, 0x00, 0x00, 0x80},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.len);
    CCbwParam cmd = Cleared();
    cmd.SetTransLenInByte(c.len);
    cmd.SetFlag(c.in);
    cmd.SetLun(c.lun);
    cmd.SetCbdLen(c.cbdLen);
    for (unsigned int i = 0; i < 15; ++i)
      cmd.SetCbd(i, static_cast<unsigned char>(0xC0 + i));
    const unsigned char *w = cmd.GetCmdWrapper();
    std::vector<unsigned char> expect = {
        0x55, 0x53, 0x42,    0x43,    0x08,
        0x90, 0xF1, 0x81,    c.lenLo, c.lenHi,
        0,    0,    c.flags, c.lun,   static_cast<unsigned char>(c.cbdLen & 0xFF)};
    for (unsigned int i = 0; i < 12; ++i)
      expect.push_back(static_cast<unsigned char>(0xC0 + i));
    expect.insert(expect.end(), 4, 0);
    EXPECT_EQ(Bytes(w, 31), expect);
  }
}

TEST(CCbwParamTest, WrapperIsRebuiltFromScratch) {
  CCbwParam cmd = Cleared();
  cmd.SetTransLenInByte(0xFFFF);
  cmd.SetFlag(true);
  cmd.GetCmdWrapper();
  cmd.SetTransLenInByte(0);
  cmd.SetFlag(false);
  const unsigned char *w = cmd.GetCmdWrapper();
  EXPECT_EQ(w[8], 0);
  EXPECT_EQ(w[9], 0);
  EXPECT_EQ(w[12], 0);
}
