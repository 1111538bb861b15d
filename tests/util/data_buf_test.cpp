// SPDX-License-Identifier: MIT
#include "sdsmart/data_buf.h"

#include <gtest/gtest.h>

namespace {
struct Bytes {
  unsigned char b[0x40];
  Bytes() {
    for (unsigned i = 0; i < sizeof b; ++i)
      b[i] = static_cast<unsigned char>(i);
  }
};
} // namespace

TEST(CDataBufTest, AddressDumpWithPartialLine) {
  Bytes d;
  CDataBuf buf(16, 1, 1, false, 2);
  EXPECT_EQ(buf.Dump(0, 20, d.b), L"  0000 : 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \r\n"
                                  L"  0010 : 10 11 12 13 " +
                                      std::wstring(36, L' ') + L"\r\n");
  EXPECT_EQ(buf.Dump(0, 0, d.b), L"");
  // 0xFFF8 + 16 reaches 0x10000: eight address digits.
  EXPECT_EQ(buf.Dump(0xFFF8, 16, d.b).substr(0, 13), L"  0000fff8 : ");
  EXPECT_EQ(buf.Dump(0xFFEF, 16, d.b).substr(0, 9), L"  ffef : ");
  // Near the top of the address space the width must not wrap back to 4.
  EXPECT_EQ(buf.Dump(0xFFFFFFF0u, 32, d.b).substr(0, 13), L"  fffffff0 : ");
}

TEST(CDataBufTest, PlainDumpIndentsAllButABareFirstLine) {
  Bytes d;
  CDataBuf buf(16, 1, 1, false, 2);
  const std::wstring full = L"00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \r\n";
  EXPECT_EQ(buf.Dump(d.b, 20, true), full + L"  10 11 12 13 \r\n");
  EXPECT_EQ(buf.Dump(d.b, 20, false), L"  " + full + L"  10 11 12 13 \r\n");
  EXPECT_EQ(buf.Dump(d.b, 3, true), L"00 01 02 \r\n");
  EXPECT_EQ(buf.Dump(d.b, 0, false), L"\r\n");
}

TEST(CDataBufTest, GroupsAndTextColumn) {
  const unsigned char three[] = {1, 2, 3};
  EXPECT_EQ(CDataBuf(16, 2, 0, false, 0).ToText(three, 3), L"0201 03 ");
  EXPECT_EQ(CDataBuf(16, 2, 1, false, 0).ToText(three, 3), L"0102 03 ");
  EXPECT_EQ(CDataBuf(16, 4, 0, false, 0).ToText(three, 3), L"030201 ");
  EXPECT_EQ(CDataBuf(16, 1, 1, false, 0).ToText(three, 0), L"");

  const unsigned char text[] = {0x41, 0x00, 0x7E, 0x7F, 0xE9};
  CDataBuf ascii(4, 1, 1, true, 1);
  EXPECT_EQ(ascii.ToAscii(text, 5), L"A.~..");
  EXPECT_EQ(ascii.Dump(text, 5, false),
            L" 41 00 7e 7f  ;A.~.\r\n e9 " + std::wstring(9, L' ') + L" ;.\r\n");
  // Grouped units count as one address step each.
  Bytes d;
  CDataBuf words(4, 2, 1, false, 0);
  EXPECT_EQ(words.Dump(0x10, 8, d.b), L"0010 : 0001 0203 \r\n0012 : 0405 0607 \r\n");
}
