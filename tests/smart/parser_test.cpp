// SPDX-License-Identifier: MIT
// Detail page parsers on data already in memory (the form the host-file
// method hands them), and the table sizing checks that guard them.
#include "sdsmart/sdsmart.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/usb_drive.h"
#include "support.h"

#include <gmock/gmock.h>

#include <cstring>
#include <iterator>
#include <vector>

using namespace sdtest;
using ::testing::ElementsAre;

namespace {

// The header fields the parsers look at.
struct HeaderFields {
  unsigned char type = 1;
  unsigned int base = 8;       // BaseVBEntryCount
  unsigned int extra = 0;      // ExtraVBEntriesPerUnit
  unsigned int total = 0;      // TotalVBCount
  unsigned int perUnit = 0;    // VBsPerUnit
  unsigned int sectors = 1;    // DetailSectorCountEx (DetailSectorCount when 0 or 0xFFFF)
  unsigned char remainder = 0; // GlobalRemainderSectorCount
  unsigned int offset = 0;     // EraseCountOffset
};

// The header in host form, converted from a card-form sector.
_SMART_INFO_HEADER HostHeader(const HeaderFields &s) {
  std::array<unsigned char, 512> b{};
  b[0] = 'S', b[1] = 'I', b[2] = '0';
  PutBe32(b.data(), 46, s.base);
  b[70] = s.type;
  PutBe32(b.data(), 78, s.total);
  PutBe16(b.data(), 82, s.perUnit);
  PutBe16(b.data(), 84, s.extra);
  b[94] = s.remainder;
  PutBe16(b.data(), 138, s.sectors);
  PutBe16(b.data(), 144, s.offset);
  b[510] = 2; // HeaderVersion
  return *CSmartInfoHeader(b.data()).Get();
}

// Big-endian 16-bit entries padded to whole sectors.
std::vector<unsigned char> Entries(const std::vector<unsigned int> &values) {
  std::vector<unsigned char> out(512, 0);
  for (size_t i = 0; i < values.size(); ++i)
    PutBe16(out.data(), 2 * i, values[i]);
  return out;
}

class ParserTest : public ::testing::Test {
protected:
  CUsbDrive drive; // never opened: the parsers under test do not reach a card
  CSpecialMode2Cmd channel{drive, L"ABCDEFGH"};
  bool terminated = false;
  unsigned char version = 3;
  CSmartInfoReader reader{channel, L"ABCDEFGH", L"/dev/null-card", terminated, version};

  void Load(const HeaderFields &s) { reader.LoadHeader(HostHeader(s)); }
  // Feeds data to the parser the loaded header's type names; the error code, 0 when none.
  int64_t Parse(const std::vector<unsigned char> &data, unsigned char source = 3) {
    try {
      reader.ReadDetailData(source, data.data(), data.size());
    } catch (const CError &e) {
      return e.GetCode();
    }
    return 0;
  }
};

HeaderFields Fields(unsigned char type, unsigned base, unsigned sectors = 1,
                    unsigned char remainder = 0) {
  HeaderFields s;
  s.type = type, s.base = base, s.sectors = sectors, s.remainder = remainder;
  return s;
}

} // namespace

// (The minimum and maximum over such a table: EraseCountRangeLeavesTheMarkersOut.)
TEST_F(ParserTest, EraseCountsApplyOffsetUpToTheCeiling) {
  HeaderFields s = Fields(1, 4);
  s.offset = 500;
  Load(s);
  ASSERT_EQ(Parse(Entries({0xFFFE, 1000, 7, 65000})), 0);
  EXPECT_THAT(reader.GetDetailEraseCount(), ElementsAre(0xFFFFFFFEu, 1500u, 507u, 65500u));

  s.offset = 40000;
  Load(s);
  ASSERT_EQ(Parse(Entries({65000, 60000, 60001, 0xFFFF})), 0);
  EXPECT_THAT(reader.GetDetailEraseCount(), ElementsAre(65000u, 100000u, 60001u, 0xFFFFu));
  EXPECT_THAT(reader.GetMarks(), ElementsAre(1, 1, 1, 1));
  EXPECT_EQ(reader.GetVBEntryCount(), 4u);
}

// Both ends come from one pass, wide enough for vector lanes and a tail:
// the markers must lose on either side, even beside the largest count in use.
TEST_F(ParserTest, EraseCountRangeLeavesTheMarkersOut) {
  struct Case {
    const char *what;
    std::vector<unsigned int> counts;
    unsigned int min, max;
  };
  std::vector<unsigned int> wide(1001, 0xFFFFFFFE);
  wide[17] = 900, wide[530] = 3, wide[1000] = 70000;
  const Case cases[] = {
      {"markers only", {0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFE}, 0xFFFFFFFF, 0},
      {"largest count in use", {0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFE}, 0xFFFFFFFD, 0xFFFFFFFD},
      {"zero among markers", {0xFFFFFFFF, 0, 0xFFFFFFFE}, 0, 0},
      {"wide table, ends anywhere", wide, 3, 70000},
  };
  for (const Case &c : cases) {
    reader.GetDetailEraseCount() = c.counts;
    EXPECT_EQ(reader.GetMinEraseCount(), c.min) << c.what;
    EXPECT_EQ(reader.GetMaxEraseCount(), c.max) << c.what;
  }
}

TEST_F(ParserTest, NativeReadCountsAreUnitsOf255AndOnlyStatusTwoIsAnEccError) {
  Load(Fields(2, 3));
  ASSERT_EQ(Parse(Entries({4, 0xFFFE, 0x1011})), 0);
  EXPECT_THAT(reader.GetDetailReadCount(), ElementsAre(1020u, 0xFFFFEu, 1048815u));
  // 1048815 lies above the largest count taken as real (0xFFFFD).
  EXPECT_EQ(reader.GetMaxReadCount(), 1020u);
  EXPECT_FALSE(reader.IsGlobalReadCount());

  Load(Fields(3, 4));
  ASSERT_EQ(Parse(Entries({0x0002, 0x0102, 0x0000, 0x0002})), 0);
  EXPECT_THAT(reader.GetRuntimeBadStatus(), ElementsAre(2, 2, 0, 2));
  EXPECT_EQ(reader.GetECCUncorrectableCnt(), 2u);
}

// Detail sectors: index sector, value sector, index sector (unpaired: odd
// count, not used), then one remainder sector.
TEST_F(ParserTest, GlobalReadCountsPairIndicesWithValuesAndAddRemainders) {
  Load(Fields(2, 8, 3, 1));
  ASSERT_TRUE(reader.IsGlobalReadCount());
  std::vector<unsigned char> data(4 * 512, 0xFF);
  unsigned char *index = data.data(), *value = data.data() + 512, *rem = data.data() + 1536;
  const unsigned int pairs[][2] = {
      {3, 2}, {8, 5} /* == entry count */, {0xFFFF, 1}, {5, 0xFFFF}, {6, 1}, {1, 0}};
  for (size_t j = 0; j < std::size(pairs); ++j) {
    PutBe16(index, 2 * j, pairs[j][0]);
    PutBe16(value, 2 * j, pairs[j][1]);
  }
  PutBe16(data.data(), 1024, 7); // the unpaired index sector would name VB 7
  std::memset(rem, 0, 512);
  rem[3] = 10;
  rem[4] = 9;    // VB 4 is named by no pair
  rem[6] = 0xFF; // no remainder
  rem[7] = 1;
  ASSERT_EQ(Parse(data), 0);
  EXPECT_THAT(reader.GetDetailReadCount(),
              ElementsAre(0xFFFFEu, 0u, 0xFFFFEu, 520u, 0xFFFFEu, 0xFFFFEu, 255u, 0xFFFFEu));
  // VBs past 511 share the remainder sector: DirectMethod.GlobalReadCounts*.
}

// A header may not announce more entries than its detail sectors carry, nor
// the data be shorter than the sectors announced; the tables are never sized
// beyond the data.
TEST_F(ParserTest, HeadersAnnouncingMoreEntriesThanTheirDataAreRejected) {
  struct Case {
    const char *what;
    HeaderFields fields;
    int64_t code;
    size_t bytes = 0; // 0: the announced sectors, at most 4096 bytes
  };
  auto units = [](HeaderFields s, unsigned extra, unsigned total, unsigned perUnit) {
    s.extra = extra, s.total = total, s.perUnit = perUnit;
    return s;
  };
  const Case cases[] = {
      {"exactly full", Fields(1, 512, 2), 0},
      {"one entry too many", Fields(1, 513, 2), SDSMART_E_SMART_CONTENTS},
      {"units add entries beyond the data", units(Fields(3, 256, 2), 100, 4000, 1000),
       SDSMART_E_SMART_CONTENTS},
      {"zero units wrap the count", units(Fields(1, 0, 255), 1, 10, 1000),
       SDSMART_E_SMART_CONTENTS},
      {"zero units, no extra entries", units(Fields(1, 8), 0, 10, 1000), SDSMART_E_SMART_CONTENTS},
      {"count near 2^32", Fields(1, 0xFFFFFFF0, 0xFFFE), SDSMART_E_SMART_CONTENTS},
      {"product overflows 32 bits", units(Fields(2, 16), 0xFFFF, 0xFFFFFFFF, 1),
       SDSMART_E_SMART_CONTENTS},
      {"no detail sectors, no entries", Fields(1, 0, 0), 0},
      // Global format: 256 VBs a pair plus 512 a remainder sector.
      {"global: pairs and remainder cover", Fields(2, 1024, 5, 1), 0},
      {"global: sparse pairs, wide remainder", Fields(2, 2000, 2, 4), 0},
      {"global: more VBs than any detail table", Fields(2, 0xFFFF * 256 + 1, 1, 1),
       SDSMART_E_SMART_CONTENTS},
      {"data a byte short", Fields(1, 10, 2), SDSMART_E_SMART_CONTENTS, 1023},
      {"global data a byte short", Fields(2, 10, 2, 1), SDSMART_E_SMART_CONTENTS, 3 * 512 - 1},
  };
  for (const Case &c : cases) {
    Load(c.fields);
    const size_t announced = (c.fields.sectors + c.fields.remainder) * size_t{512};
    const std::vector<unsigned char> data(c.bytes ? c.bytes : std::min<size_t>(announced, 4096), 0);
    EXPECT_EQ(Parse(data), c.code) << c.what;
    if (c.code != 0) {
      EXPECT_LE(reader.GetVBEntryCount(), 2000u) << c.what << ": no table sized";
    }
  }
}
