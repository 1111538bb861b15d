// SPDX-License-Identifier: MIT
// The SMART header's conversion from card form and its signature rules.
#include "sdsmart/smart_info_header.h"
#include "support.h"

#include <cstring>

using namespace sdtest;

namespace {

using Sector = std::array<unsigned char, 512>;

// Packed fields are copied out before gtest takes them by reference.
template <typename T> T V(T v) { return v; }

} // namespace

TEST(SmartHeader, ModelNv6461KeepsUnitFieldsInCardOrder) {
  struct Case {
    const char *text; // bytes from offset 3 on
    size_t textLen;
    bool keep;
  };
  const Case cases[] = {
      {"NV6461", 6, true},
      {"XX-NV6461-A", 11, true},
      {"NV6462", 6, false},
      {"AB\0NV6461", 9, false},             // after the end of the text
      {"0123456789ABCDEFNV6461", 22, true}, // runs on past HWVersion
      {"0123456789ABCDE\0NV6461", 22, false},
  };
  for (const Case &c : cases) {
    Sector s{};
    s[0] = 'S', s[1] = 'I', s[2] = '0';
    std::memcpy(&s[3], c.text, c.textLen);
    s[82] = 0x01, s[83] = 0x00;
    s[84] = 0x00, s[85] = 0x02;
    PutBe32(s.data(), 42, 10000);
    CSmartInfoHeader h(s.data());
    EXPECT_EQ(V(h.Get()->VBsPerUnit), c.keep ? 1u : 256u) << c.text;
    EXPECT_EQ(V(h.Get()->ExtraVBEntriesPerUnit), c.keep ? 512u : 2u) << c.text;
    EXPECT_EQ(V(h.Get()->PECycleCount), 10000u) << "other fields are converted as usual";
  }
}

TEST(SmartHeader, SignatureAndBusyRules) {
  Sector s{};
  s[0] = 0x53, s[1] = 0x49, s[2] = 0x31;
  EXPECT_FALSE(CSmartInfoHeader(s.data()).CheckContentRight());
  s[1] = 0x48, s[2] = 0x30;
  EXPECT_FALSE(CSmartInfoHeader(s.data()).CheckContentRight());
  s[1] = 0x49;
  s[73] = 2;
  EXPECT_TRUE(CSmartInfoHeader(s.data()).CheckContentRight());
  EXPECT_FALSE(IsBusySmartHeader(s.data()));
  s[73] = 1;
  EXPECT_TRUE(IsBusySmartHeader(s.data()));
  s[2] = 0x31;
  EXPECT_FALSE(IsBusySmartHeader(s.data())) << "not a header, so not busy";
}
