#include "card_data.h"
#include "csd_capacity.h"
#include "histogram.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sdsmart_tool {
namespace {

TEST(Histogram, RegionsCoverEveryUsedEntry) {
  std::vector<uint32_t> counts;
  for (uint32_t i = 0; i < 1000; ++i)
    counts.push_back(100 + (i * 37) % 400);
  counts.push_back(kUnusedEraseCount);
  counts.push_back(kUnusedEraseCount);
  std::vector<Region> regions = EraseCountRegions(counts, 10);
  ASSERT_FALSE(regions.empty());
  EXPECT_LE(regions.size(), 10u);
  uint32_t total = 0;
  for (size_t i = 0; i < regions.size(); ++i) {
    total += regions[i].vbs;
    EXPECT_LE(regions[i].low, regions[i].high);
    if (i) {
      EXPECT_GT(regions[i].low, regions[i - 1].high);
    }
  }
  EXPECT_EQ(total, 1000u);
  EXPECT_EQ(regions.front().low, 100u);
  EXPECT_EQ(regions.back().high, 499u);
}

TEST(Histogram, SmallTablesAndEmptyTables) {
  std::vector<Region> regions = EraseCountRegions({10, 20, 30, kUnusedEraseCount}, 10);
  uint32_t total = 0;
  for (const Region &r : regions)
    total += r.vbs;
  EXPECT_EQ(total, 3u);
  EXPECT_TRUE(EraseCountRegions({}, 10).empty());
  EXPECT_TRUE(EraseCountRegions({kUnusedEraseCount}, 10).empty());
}

TEST(BarChart, ScalesToTheWidth) {
  std::vector<Region> regions = {{0, 9, 100}, {10, 19, 50}, {20, 29, 1}, {30, 39, 0}};
  std::vector<std::string> lines = DrawBarChart(regions, 50);
  ASSERT_EQ(lines.size(), 4u);
  size_t bar0 = lines[0].size() - lines[0].find('|') - 1;
  size_t bar1 = lines[1].size() - lines[1].find('|') - 1;
  size_t bar2 = lines[2].size() - lines[2].find('|') - 1;
  size_t bar3 = lines[3].size() - lines[3].find('|') - 1;
  EXPECT_EQ(lines[0].size(), 49u); // the longest bar fills the width but the last column
  EXPECT_EQ(bar1 * 2, bar0 + (bar0 % 2));
  EXPECT_EQ(bar2, 1u); // a non-empty region always shows
  EXPECT_EQ(bar3, 0u);
  // Columns line up.
  for (const std::string &l : lines)
    EXPECT_EQ(l.find('|'), lines[0].find('|'));
  EXPECT_NE(lines[0].find("100 VBs"), std::string::npos);
}

TEST(BarChart, NarrowTerminalKeepsAMinimumBar) {
  std::vector<std::string> lines = DrawBarChart({{1000000, 2000000, 4000000}}, 10);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size() - lines[0].find('|') - 1, 10u);
}

TEST(TerminalWidth, FallsBackToColumnsThenEighty) {
  const char *saved = std::getenv("COLUMNS");
  std::string keep = saved ? saved : "";
  ::setenv("COLUMNS", "132", 1);
  EXPECT_EQ(TerminalWidth(-1), 132u);
  ::setenv("COLUMNS", "junk", 1);
  EXPECT_EQ(TerminalWidth(-1), 80u);
  ::unsetenv("COLUMNS");
  EXPECT_EQ(TerminalWidth(-1), 80u);
  if (saved)
    ::setenv("COLUMNS", keep.c_str(), 1);
}

TEST(CsdCapacity, VersionOneAndTwo) {
  // CSD 2.0 with C_SIZE 0x3B37 (about 7.4 GiB card): (C_SIZE + 1) * 512 KiB.
  uint8_t v2[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                    0x3B, 0x37, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  EXPECT_EQ(CapacityFromCsd(v2), (0x3B37ull + 1) * 512 * 1024);
  // CSD 1.0: READ_BL_LEN 9, C_SIZE 0xF03, C_SIZE_MULT 7 -> 1 GB class.
  uint8_t v1[16] = {0x00, 0x26, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC0,
                    0xFE, 0xFF, 0xFF, 0xFF, 0x16, 0x80, 0x00, 0x00};
  uint64_t c_size = ((0x83ull & 3) << 10) | (0xC0ull << 2) | (0xFEull >> 6);
  uint64_t mult = ((0xFFull & 3) << 1) | (0xFFull >> 7);
  EXPECT_EQ(CapacityFromCsd(v1), (c_size + 1) << (mult + 2 + 9));
}

} // namespace
} // namespace sdsmart_tool
