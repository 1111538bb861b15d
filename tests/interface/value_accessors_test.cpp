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
      {0, 300, 0},
      {1, 0xFFFFFFFFu, 1},
      {0xFFFFFFFFu, 1, 0xFFFFFFFFu}, // past 2^31: no signed truncation
      {0xFFFFFFFFu, 2, 0x80000000u}, // total + blocks - 1 passes 2^32
      {3000000000u, 7, 428571429u},
      {1000, 0, 0}, // no blocks named: 0
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

// Both tables are copied by one function (which table each getter serves is
// in the accessor goldens): the empty session's size of 0, and a copy only
// into a buffer large enough, nothing beyond the table.
TEST_F(ValueAccessorTest, DetailTablesReportTheirSizeAndCopyOnlyWhenTheyFit) {
  unsigned int bytes = 77;
  EXPECT_EQ(GetDetailEraseCount(nullptr, 0, bytes), 0);
  EXPECT_EQ(bytes, 0u);
  for (unsigned int i = 0; i < 1024; ++i)
    _EraseCount.push_back(i * 0x01010101u);
  const unsigned int need = 1024 * 4;
  std::vector<char> buffer(need + 8, 'x');
  for (unsigned int size : {0u, need - 1}) {
    EXPECT_EQ(GetDetailEraseCount(buffer.data(), size, bytes), 1);
    EXPECT_EQ(bytes, need);
  }
  EXPECT_EQ(buffer[0], 'x'); // nothing copied
  EXPECT_EQ(GetDetailEraseCount(buffer.data(), need, bytes), 0);
  EXPECT_EQ(bytes, need);
  EXPECT_EQ(std::memcmp(buffer.data(), _EraseCount.data(), need), 0);
  EXPECT_EQ(buffer[need], 'x'); // nothing beyond the table
}

} // namespace
