// Detail page parsers on data already in memory (the form the host-file
// method hands them), and the table sizing checks that guard them.
#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "smart_test_support.h"
#include "transport/usb_drive.h"
#include "util/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>

using namespace smarttest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class ParserTest : public ::testing::Test {
protected:
  CUsbDrive drive; // never opened: the parsers under test do not reach a card
  CSpecialMode2Cmd channel{drive, L"ABCDEFGH"};
  bool terminated = false;
  unsigned char version = 3;
  CSmartInfoReader reader{channel, L"ABCDEFGH", L"/dev/null-card", terminated, version};

  void Load(const HeaderFields &s) { reader.LoadHeader(HostHeader(s)); }
};

int64_t CodeOf(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    return e.GetCode();
  }
  return 0;
}

} // namespace

TEST_F(ParserTest, EraseCountsApplyOffsetUpToTheCeiling) {
  HeaderFields s;
  s.base = 4, s.offset = 500;
  Load(s);
  auto data = Entries({0xFFFE, 1000, 0, 65000}, 1);
  reader.ReadEraseCountData(3, data.data(), data.size());
  EXPECT_THAT(reader.GetDetailEraseCount(), ElementsAre(0xFFFFFFFEu, 1500u, 500u, 65500u));

  s.offset = 40000;
  Load(s);
  data = Entries({65000, 60000, 60001, 0xFFFF}, 1);
  reader.ReadEraseCountData(3, data.data(), data.size());
  EXPECT_THAT(reader.GetDetailEraseCount(), ElementsAre(65000u, 100000u, 60001u, 0xFFFFu));
  EXPECT_THAT(reader.GetMarks(), ElementsAre(1, 1, 1, 1));
  EXPECT_EQ(reader.GetVBEntryCount(), 4u);
}

TEST_F(ParserTest, MinAndMaxEraseCountSkipMarkers) {
  EXPECT_EQ(reader.GetMinEraseCount(), 0xFFFFFFFFu);
  EXPECT_EQ(reader.GetMaxEraseCount(), 0u);
  HeaderFields s;
  s.base = 3;
  Load(s);
  auto data = Entries({0xFFFE, 12, 7}, 1);
  reader.ReadEraseCountData(3, data.data(), data.size());
  EXPECT_EQ(reader.GetMinEraseCount(), 7u);
  EXPECT_EQ(reader.GetMaxEraseCount(), 12u);
}

TEST_F(ParserTest, NativeReadCountsAreUnitsOf255) {
  HeaderFields s;
  s.type = 2, s.base = 3;
  Load(s);
  auto data = Entries({4, 0xFFFE, 0x1011}, 1);
  reader.ReadNativeReadCountData(3, data.data(), data.size());
  EXPECT_THAT(reader.GetDetailReadCount(), ElementsAre(1020u, 0xFFFFEu, 1048815u));
  // 1048815 lies above the largest count taken as real (0xFFFFD).
  EXPECT_EQ(reader.GetMaxReadCount(), 1020u);
  EXPECT_FALSE(reader.IsGlobalReadCount());
}

TEST_F(ParserTest, RuntimeStatusCountsOnlyFullValueTwo) {
  HeaderFields s;
  s.type = 3, s.base = 4;
  Load(s);
  auto data = Entries({0x0002, 0x0102, 0x0000, 0x0002}, 1);
  reader.ReadRuntimeBadData(3, data.data(), data.size());
  EXPECT_THAT(reader.GetRuntimeBadStatus(), ElementsAre(2, 2, 0, 2));
  EXPECT_EQ(reader.GetECCUncorrectableCnt(), 2u);
}

// Detail sectors: index sector, value sector, index sector (unpaired: odd
// count, not used), then one remainder sector.
TEST_F(ParserTest, GlobalReadCountsPairIndicesWithValuesAndAddRemainders) {
  HeaderFields s;
  s.type = 2, s.base = 8, s.sectors = 3, s.remainder = 1;
  Load(s);
  ASSERT_TRUE(reader.IsGlobalReadCount());
  std::vector<unsigned char> data(4 * 512, 0xFF);
  unsigned char *index = data.data(), *value = data.data() + 512, *unpaired = data.data() + 1024,
                *rem = data.data() + 1536;
  const unsigned int pairs[][2] = {
      {3, 2}, {8, 5} /* == entry count */, {0xFFFF, 1}, {5, 0xFFFF}, {6, 1}, {1, 0}};
  for (size_t j = 0; j < std::size(pairs); ++j) {
    PutBe16(index, 2 * j, pairs[j][0]);
    PutBe16(value, 2 * j, pairs[j][1]);
  }
  PutBe16(unpaired, 0, 7); // would name VB 7 if it were used
  std::memset(rem, 0, 512);
  rem[3] = 10;
  rem[4] = 9;    // VB 4 is named by no pair
  rem[6] = 0xFF; // no remainder
  rem[7] = 1;
  reader.ReadGlobalReadCountData(3, data.data(), data.size());
  EXPECT_THAT(reader.GetDetailReadCount(),
              ElementsAre(0xFFFFEu, 0u, 0xFFFFEu, 520u, 0xFFFFEu, 0xFFFFEu, 255u, 0xFFFFEu));
}

TEST_F(ParserTest, GlobalRemainderWrapsAroundTheRemainderArea) {
  HeaderFields s;
  s.type = 2, s.base = 700, s.sectors = 6, s.remainder = 1;
  Load(s);
  std::vector<unsigned char> data(7 * 512, 0xFF);
  PutBe16(data.data(), 0, 600);
  PutBe16(data.data() + 512, 0, 1);
  data[6 * 512 + 600 % 512] = 7;
  reader.ReadGlobalReadCountData(3, data.data(), data.size());
  EXPECT_EQ(reader.GetDetailReadCount()[600], 255u + 7);
}

TEST_F(ParserTest, WrongSourceVersionIsRejectedWithTheParsersText) {
  HeaderFields s;
  s.base = 2, s.remainder = 1, s.sectors = 2;
  struct Case {
    unsigned char type;
    std::function<void(CSmartInfoReader &, const unsigned char *)> call;
    const wchar_t *text;
  };
  const Case cases[] = {
      {1, [](CSmartInfoReader &r, const unsigned char *d) { r.ReadEraseCountData(4, d); },
       L"Wrong SmartVer on Read Erase Count Data."},
      {2, [](CSmartInfoReader &r, const unsigned char *d) { r.ReadNativeReadCountData(1, d); },
       L"Wrong SmartVer on Read Native Read Count Data."},
      {2, [](CSmartInfoReader &r, const unsigned char *d) { r.ReadGlobalReadCountData(0, d); },
       L"Wrong SmartVer on Read Global Read Count Data."},
      {3, [](CSmartInfoReader &r, const unsigned char *d) { r.ReadRuntimeBadData(255, d); },
       L"Wrong SmartVer on Read Run time Bad Data."},
  };
  std::vector<unsigned char> data(4 * 512, 0);
  for (const Case &c : cases) {
    s.type = c.type;
    Load(s);
    try {
      c.call(reader, data.data());
      ADD_FAILURE() << "no error";
    } catch (const CError &e) {
      EXPECT_EQ(e.GetCode(), 0x3002);
      EXPECT_EQ(e.GetText(), c.text);
    }
  }
}

// A header may not announce more entries than its detail sectors carry; the
// tables are never sized beyond the data.
TEST_F(ParserTest, HeadersAnnouncingMoreEntriesThanTheirDataAreRejected) {
  struct Case {
    const char *what;
    HeaderFields fields;
    int64_t code;
  };
  auto make = [](unsigned char type, unsigned base, unsigned extra, unsigned total,
                 unsigned perUnit, unsigned sectors, unsigned char remainder) {
    HeaderFields s;
    s.type = type, s.base = base, s.extra = extra, s.total = total, s.perUnit = perUnit;
    s.sectors = sectors, s.remainder = remainder;
    return s;
  };
  const Case cases[] = {
      {"exactly full", make(1, 512, 0, 0, 0, 2, 0), 0},
      {"one entry too many", make(1, 513, 0, 0, 0, 2, 0), 0x3000},
      {"units add entries beyond the data", make(3, 256, 100, 4000, 1000, 2, 0), 0x3000},
      {"zero units wrap the count", make(1, 0, 1, 10, 1000, 255, 0), 0x3000},
      {"zero units, no extra entries", make(1, 8, 0, 10, 1000, 1, 0), 0x3000},
      {"count near 2^32", make(1, 0xFFFFFFF0, 0, 0, 0, 0xFFFE, 0), 0x3000},
      {"product overflows 32 bits", make(2, 16, 0xFFFF, 0xFFFFFFFF, 1, 1, 0), 0x3000},
      {"no detail sectors, no entries", make(1, 0, 0, 0, 0, 0, 0), 0},
      // Global format: 256 VBs a pair plus 512 a remainder sector.
      {"global: pairs and remainder cover", make(2, 1024, 0, 0, 0, 5, 1), 0},
      {"global: one entry beyond", make(2, 1025, 0, 0, 0, 5, 1), 0x3000},
      {"global: sparse pairs, wide remainder", make(2, 2000, 0, 0, 0, 2, 4), 0},
  };
  for (const Case &c : cases) {
    Load(c.fields);
    const size_t bytes = (c.fields.sectors + c.fields.remainder) * size_t{512};
    std::vector<unsigned char> data(bytes > 4096 ? 4096 : bytes, 0);
    const auto call = [&] {
      switch (c.fields.type) {
      case 1:
        reader.ReadEraseCountData(3, data.data(), data.size());
        break;
      case 2:
        if (reader.IsGlobalReadCount())
          reader.ReadGlobalReadCountData(3, data.data(), data.size());
        else
          reader.ReadNativeReadCountData(3, data.data(), data.size());
        break;
      default:
        reader.ReadRuntimeBadData(3, data.data(), data.size());
      }
    };
    EXPECT_EQ(CodeOf(call), c.code) << c.what;
    if (c.code != 0) {
      EXPECT_LE(reader.GetVBEntryCount(), 2000u) << c.what << ": no table sized";
    }
  }
}

TEST_F(ParserTest, DataShorterThanTheAnnouncedSectorsIsRejected) {
  HeaderFields s;
  s.base = 10, s.sectors = 2;
  Load(s);
  std::vector<unsigned char> data(1023, 0);
  EXPECT_EQ(CodeOf([&] { reader.ReadEraseCountData(3, data.data(), data.size()); }), 0x3000);
  s.type = 2, s.sectors = 2, s.remainder = 1;
  Load(s);
  data.assign(2 * 512 + 511, 0);
  EXPECT_EQ(CodeOf([&] { reader.ReadGlobalReadCountData(3, data.data(), data.size()); }), 0x3000);
}

// With the cancel flag already set the direct-method parsers read nothing:
// the global one still merges what it has (nothing) and then reports the stop.
TEST_F(ParserTest, CancelledParsersReportTheStop) {
  __atomic_store_n(&terminated, true, __ATOMIC_SEQ_CST);
  HeaderFields s;
  s.type = 2, s.base = 600, s.sectors = 4, s.remainder = 1;
  Load(s);
  ASSERT_TRUE(reader.IsGlobalReadCount());
  EXPECT_EQ(CodeOf([&] { reader.ReadGlobalReadCountData(2, nullptr); }), 0x9000);
  EXPECT_EQ(reader.GetDetailReadCount(), std::vector<unsigned>(600, 0xFFFFE));

  s.type = 1, s.base = 10, s.sectors = 1, s.remainder = 0;
  Load(s);
  EXPECT_EQ(CodeOf([&] { reader.ReadEraseCountData(2, nullptr); }), 0x9000);
  s.type = 3;
  Load(s);
  EXPECT_EQ(CodeOf([&] { reader.ReadRuntimeBadData(2, nullptr); }), 0x9000);
}
