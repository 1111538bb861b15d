// SMART value accessors over a header the test fills in.
#include "session_fixture.h"

#include "sdsmart/sdsmart.h"

#include <cmath>
#include <cstring>
#include <vector>

using namespace sdsmart_test;

namespace {

using ValueAccessorTest = SessionTest;

TEST_F(ValueAccessorTest, EmptySessionGivesZerosAndNaN) {
  EXPECT_EQ(GetAbnormalShutdownCount(), 0u);
  EXPECT_EQ(GetTotalEraseCount(), 0u);
  EXPECT_EQ(GetAverageEraseCount(), 0u);
  EXPECT_TRUE(std::isnan(GetLifeMonitor()));
  EXPECT_TRUE(std::isnan(GetRemainingLife()));
  EXPECT_EQ(GetMinEraseCount(), 0u);
  EXPECT_EQ(GetMaxEraseCount(), 0u);
  unsigned int bytes = 77;
  EXPECT_EQ(GetDetailEraseCount(nullptr, 0, bytes), 0);
  EXPECT_EQ(bytes, 0u);
  bytes = 77;
  EXPECT_EQ(GetDetailReadCount(nullptr, 0, bytes), 0);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(ValueAccessorTest, FieldsAtTheirOffsets) {
  // Fill the header through its raw bytes, so the offsets are checked too.
  unsigned char raw[512] = {};
  auto put32 = [&raw](size_t at, uint32_t v) { std::memcpy(raw + at, &v, 4); };
  auto put16 = [&raw](size_t at, uint16_t v) { std::memcpy(raw + at, &v, 2); };
  put32(42, 3000);        // PECycleCount
  put16(50, 0xFFF1);      // InitialBadBlockCount
  put16(52, 7);           // LaterBadBlockCount
  put16(54, 11);          // MinSpareBlockCount
  raw[56] = 0x48;         // ECCCapacity
  put32(57, 123456789);   // TotalEraseCount (odd offset)
  put32(61, 0x80000001u); // AbnormalShutdownCount
  put32(65, 4242);        // PowerCycleCount
  raw[71] = 4;            // CECount
  raw[72] = 2;            // BlocksPerVB
  put32(78, 0x01020304);  // TotalVBCount
  put16(140, 17);         // MinEraseCount
  put16(142, 0xFFFE);     // MaxEraseCount
  put16(144, 0x1234);     // EraseCountOffset
  raw[508] = 1;           // WPStatus
  raw[510] = 3;           // HeaderVersion
  std::memcpy(&_Header, raw, 512);
  _ECCUncorrectableCnt = 99;
  _MinEraseCount = 5;
  _MaxEraseCount = 500;

  EXPECT_EQ(GetPECycleCount(), 3000u);
  EXPECT_EQ(GetInitialBadBlockCount(), 0xFFF1u);
  EXPECT_EQ(GetLaterBadBlockCount(), 14u);
  EXPECT_EQ(GetMinSpareBlockCount(), 22u);
  EXPECT_EQ(GetECCCapacity(), 0x48);
  EXPECT_EQ(GetTotalEraseCount(), 246913578u);
  EXPECT_EQ(GetAbnormalShutdownCount(), 0x80000001u);
  EXPECT_EQ(GetPowerCycleCount(), 4242u);
  EXPECT_EQ(GetTotalCECount(), 8u);
  EXPECT_EQ(GetTotalVBCountOfFlash(), 0x01020304u);
  EXPECT_EQ(GetTotalPhysicalBlockCountOfFlash(), 0x02040608u);
  EXPECT_EQ(GetMinEraseCountFromHeader(), 17);
  EXPECT_EQ(GetMaxEraseCountFromHeader(), 0xFFFE);
  EXPECT_EQ(GetEraseCountOffset(), 0x1234);
  EXPECT_EQ(GetWPStatus(), 1);
  EXPECT_EQ(GetHeaderVersion(), 3);
  EXPECT_EQ(GetECCUncorrectableCount(), 99u);
  EXPECT_EQ(GetMinEraseCount(), 5u);
  EXPECT_EQ(GetMaxEraseCount(), 500u);
}

TEST_F(ValueAccessorTest, BlockProductsWrapIn32Bits) {
  _Header.BlocksPerVB = 255;
  _Header.TotalEraseCount = 0xFFFFFFFFu;
  _Header.TotalVBCount = 0x80000000u;
  EXPECT_EQ(GetTotalEraseCount(), 0xFFFFFFFFu * 255u);
  EXPECT_EQ(GetTotalPhysicalBlockCountOfFlash(), 0x80000000u * 255u);
}

TEST_F(ValueAccessorTest, AverageEraseCountRoundsUp) {
  const struct {
    uint32_t total, blocks, average;
  } cases[] = {
      {1000, 300, 4},
      {900, 300, 3},
      {0, 300, 0},
      {1, 0xFFFFFFFFu, 1},
      {0xFFFFFFFFu, 1, 0xFFFFFFFFu}, // past 2^31: no signed truncation
      {0xFFFFFFFFu, 2, 0x80000000u},
      {0x80000001u, 1, 0x80000001u},
      {3000000000u, 7, 428571429u},
      {1000, 0, 0}, // no blocks named: 0
      {0, 0, 0},
  };
  for (const auto &c : cases) {
    _Header.TotalEraseCount = c.total;
    _Header.TotalVBCount = c.blocks;
    EXPECT_EQ(GetAverageEraseCount(), c.average) << c.total << " / " << c.blocks;
  }
}

TEST_F(ValueAccessorTest, LifeMonitorAndRemainingLife) {
  const struct {
    uint32_t total, cycles, blocks;
    double used;
  } cases[] = {
      {1500, 30, 1000, 5.0},
      {500000000u, 100000, 50000, 10.0}, // cycles x blocks is 5e9, past 2^32
      {0, 3000, 1000, 0.0},
      {6000000, 3000, 1000, 200.0}, // worn past the rating: not clamped
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 100.0 * 4294967295.0 / (4294967295.0 * 4294967295.0)},
  };
  for (const auto &c : cases) {
    _Header.TotalEraseCount = c.total;
    _Header.PECycleCount = c.cycles;
    _Header.TotalVBCount = c.blocks;
    EXPECT_DOUBLE_EQ(GetLifeMonitor(), c.used) << c.total;
    EXPECT_FLOAT_EQ(GetRemainingLife(), static_cast<float>(100.0 - c.used)) << c.total;
  }
  // No rating: IEEE results.
  _Header.TotalEraseCount = 10;
  _Header.PECycleCount = 0;
  EXPECT_TRUE(std::isinf(GetLifeMonitor()));
  EXPECT_TRUE(std::isinf(GetRemainingLife()) && GetRemainingLife() < 0);
}

TEST_F(ValueAccessorTest, DetailTablesReportTheirSizeAndCopyOnlyWhenTheyFit) {
  std::vector<unsigned int> table(1024);
  for (unsigned int i = 0; i < table.size(); ++i)
    table[i] = i * 0x01010101u;
  _EraseCount = table;
  _ReadCount = std::vector<unsigned int>(3, 0xFFFFE);

  using Getter = int (*)(char *, unsigned int, unsigned int &);
  const struct {
    Getter get;
    const std::vector<unsigned int> &source;
  } tables[] = {{GetDetailEraseCount, _EraseCount}, {GetDetailReadCount, _ReadCount}};
  for (const auto &t : tables) {
    const unsigned int need = static_cast<unsigned int>(t.source.size() * 4);
    std::vector<char> buffer(need + 8, 'x');
    unsigned int bytes = 0;
    EXPECT_EQ(t.get(buffer.data(), 0, bytes), 1);
    EXPECT_EQ(bytes, need);
    EXPECT_EQ(t.get(buffer.data(), need - 1, bytes), 1);
    EXPECT_EQ(bytes, need);
    EXPECT_EQ(buffer[0], 'x'); // nothing copied
    EXPECT_EQ(t.get(buffer.data(), need, bytes), 0);
    EXPECT_EQ(bytes, need);
    EXPECT_EQ(std::memcmp(buffer.data(), t.source.data(), need), 0);
    EXPECT_EQ(buffer[need], 'x'); // nothing beyond the table
  }
}

} // namespace
