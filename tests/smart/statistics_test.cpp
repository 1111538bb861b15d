// SPDX-License-Identifier: MIT
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/statistics.h"
#include "sdsmart/usb_drive.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

namespace {

using Region = std::tuple<unsigned, unsigned, unsigned>; // low, high, count

std::vector<Region> Gather(std::vector<unsigned> values, unsigned requested, int weight) {
  int n = -1;
  std::unique_ptr<_TStatisticsRegion[]> regions(
      GatherStatistics(values.data(), static_cast<int>(values.size()), requested, weight, n));
  std::vector<Region> out;
  for (int i = 0; i < n; ++i)
    out.emplace_back(regions[i].Low, regions[i].High, regions[i].Count);
  if (n == 0) {
    EXPECT_EQ(regions, nullptr);
  }
  return out;
}

} // namespace

TEST(Statistics, RegionsOfTheTable) {
  struct Case {
    const char *what;
    std::vector<unsigned> values;
    unsigned requested;
    int weight;
    std::vector<Region> expected;
  };
  const std::vector<Case> cases = {
      {"ten requested, step 3",
       {10, 20, 30, 0xFFFFFFFE},
       10,
       1,
       {{10, 12, 1}, {13, 15, 0}, {16, 18, 0}, {19, 21, 1}, {22, 24, 0}, {25, 27, 0}, {28, 30, 1}}},
      {"range below the request", {5, 6, 7}, 10, 1, {{5, 5, 1}, {6, 7, 2}}},
      {"weight multiplies", {5, 6, 7}, 10, 4, {{5, 5, 4}, {6, 7, 8}}},
      {"read-count marker left out", {100, 0xFFFFE, 101}, 10, 1, {{100, 100, 1}, {101, 101, 1}}},
      // A single region covers L..H.
      {"all values equal", {9, 9, 9}, 10, 1, {{9, 9, 3}}},
      {"one region requested", {3, 50, 100}, 1, 2, {{3, 100, 6}}},
      // Values between 0xFFFE and 0xFFFFD still count; their range starts
      // at the smallest of them.
      {"only values above 0xFFFD",
       {0x10000, 0x10001},
       10,
       1,
       {{0x10000, 0x10000, 1}, {0x10001, 0x10001, 1}}},
      {"empty table", {}, 10, 1, {}},
      // Clamped requests and weights.
      {"zero regions requested", {1, 2, 3}, 0, 1, {{1, 3, 3}}},
      {"weight zero counts as one", {5, 6, 7}, 10, 0, {{5, 5, 1}, {6, 7, 2}}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Gather(c.values, c.requested, c.weight), c.expected) << c.what;
}
