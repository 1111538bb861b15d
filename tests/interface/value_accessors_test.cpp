// SPDX-License-Identifier: MIT
// SMART value accessors over a header the test fills in.
#include "session.h"

#include <cmath>
#include <cstring>
#include <vector>

using namespace sdtest;

namespace {

using ValueAccessorTest = SessionTest;

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
  // Empty tables (the empty session): nothing to copy, a size of 0.
  using Getter = int (*)(char *, unsigned int, unsigned int &);
  for (Getter get : {GetDetailEraseCount, GetDetailReadCount}) {
    unsigned int none = 77;
    EXPECT_EQ(get(nullptr, 0, none), 0);
    EXPECT_EQ(none, 0u);
  }

  std::vector<unsigned int> table(1024);
  for (unsigned int i = 0; i < table.size(); ++i)
    table[i] = i * 0x01010101u;
  _EraseCount = table;
  _ReadCount = std::vector<unsigned int>(3, 0xFFFFE);

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
