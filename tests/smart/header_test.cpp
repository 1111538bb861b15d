#include "smart_test_support.h"

#include <gtest/gtest.h>

#include <utility>

using namespace smarttest;

namespace {

Sector PatternSector() {
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<unsigned char>(i * 7 + 3);
  s[3] = 'A';
  s[4] = 0; // hardware text ends here
  return s;
}

} // namespace

// Every swapped field is reversed, every other byte is kept as sent.
TEST(SmartHeader, InvertReversesExactlyTheSwappedFields) {
  EXPECT_EQ(sizeof(_SMART_INFO_HEADER), 512u);
  EXPECT_EQ(sizeof(CSmartInfoHeader), 512u);
  const std::pair<size_t, size_t> swapped[] = {
      {42, 4},  {46, 4},  {50, 2},  {52, 2},  {54, 2},  {57, 4}, {61, 4}, {65, 4},
      {74, 2},  {76, 2},  {78, 4},  {82, 2},  {84, 2},  {86, 4}, {90, 2}, {92, 2},
      {138, 2}, {140, 2}, {142, 2}, {144, 2}, {146, 4}, {150, 2}};
  const Sector card = PatternSector();
  CSmartInfoHeader h(card.data());
  const unsigned char *host = reinterpret_cast<const unsigned char *>(h.Get());
  std::array<bool, 512> covered{};
  for (auto [off, width] : swapped) {
    for (size_t i = 0; i < width; ++i) {
      EXPECT_EQ(host[off + i], card[off + width - 1 - i]) << "field at " << off;
      covered[off + i] = true;
    }
  }
  for (size_t i = 0; i < 512; ++i) {
    if (!covered[i]) {
      EXPECT_EQ(host[i], card[i]) << "byte " << i;
    }
  }
}

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

TEST(SmartHeader, HostToCardAndBackIsIdentity) {
  Sector card = PatternSector();
  CSmartInfoHeader fromCard(card.data());
  CSmartInfoHeader copy(*fromCard.Get());
  EXPECT_EQ(std::memcmp(copy.Get(), fromCard.Get(), 512), 0);
  Bulk<unsigned char> out(512);
  copy.ToBuffer(out);
  EXPECT_EQ(std::memcmp(out.Data(), card.data(), 512), 0);

  _SMART_INFO_HEADER twice;
  InvertSmartHeader(fromCard.Get(), &twice);
  InvertSmartHeader(&twice, &twice); // in place
  EXPECT_EQ(std::memcmp(&twice, fromCard.Get(), 512), 0);

  Bulk<unsigned char> small(100);
  std::memset(small.Data(), 0x5A, 100);
  copy.ToBuffer(small);
  for (unsigned i = 0; i < 100; ++i)
    ASSERT_EQ(small[i], 0x5A);
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

TEST(SmartHeader, EntryCountAndDetailSectorRules) {
  struct Case {
    unsigned base, extra, total, perUnit, expected, units;
  };
  const Case cases[] = {
      {1000, 0, 0, 0, 1000, 1}, // no units: U = 1
      {1000, 24, 4096, 1024, 1072, 4},
      {1000, 24, 1023, 1024, 976, 0}, // U = 0 wraps: 1000 + 24 * 0xFFFFFFFF
  };
  for (const Case &c : cases) {
    HeaderFields s;
    s.base = c.base, s.extra = c.extra, s.total = c.total, s.perUnit = c.perUnit;
    unsigned units = 99;
    EXPECT_EQ(SmartVBEntryCount(HostHeader(s), &units), c.expected);
    EXPECT_EQ(units, c.units);
  }
  HeaderFields s;
  s.sectors = 0xFFFF, s.sectorsByte = 4;
  EXPECT_EQ(SmartDetailSectors(HostHeader(s)), 4u);
  s.sectors = 0;
  EXPECT_EQ(SmartDetailSectors(HostHeader(s)), 4u);
  s.sectors = 600;
  EXPECT_EQ(SmartDetailSectors(HostHeader(s)), 600u);
}
