#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "smart/statistics.h"
#include "transport/usb_drive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
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
      {"two values", {1, 2}, 10, 1, {{1, 1, 1}, {2, 2, 1}}},
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
      {"no value takes part", {0xFFFFFFFE, 0xFFFFE}, 10, 1, {}},
      {"empty table", {}, 10, 1, {}},
      // Clamped requests and weights.
      {"zero regions requested", {1, 2, 3}, 0, 1, {{1, 3, 3}}},
      {"weight zero counts as one", {5, 6, 7}, 10, 0, {{5, 5, 1}, {6, 7, 2}}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Gather(c.values, c.requested, c.weight), c.expected) << c.what;
}

TEST(Statistics, LargeRequestsAreClampedToTheBoundaryArray) {
  std::vector<unsigned> values;
  for (unsigned v = 0; v < 5000; ++v)
    values.push_back(v);
  for (unsigned requested : {5000u, 1024u, 0x80000000u, 0xFFFFFFFFu}) {
    const auto regions = Gather(values, requested, 1);
    ASSERT_LE(regions.size(), 1023u) << requested;
    EXPECT_GE(regions.size(), 1000u) << requested;
    unsigned total = 0, next = 0;
    for (const auto &[low, high, count] : regions) {
      EXPECT_EQ(low, next) << "regions follow each other";
      next = high + 1;
      total += count;
    }
    EXPECT_EQ(total, 5000u) << "every value lands in one region";
    EXPECT_EQ(next, 5000u);
  }
}

TEST(Statistics, BinsBoundariesAndRealBoundaries) {
  int bins[16];
  std::vector<unsigned> values = {10, 20, 30, 0xFFFFFFFE};
  ASSERT_EQ(CreateBins(bins, 16, values.data(), 4, 10), 7);
  EXPECT_EQ(std::vector<int>(bins, bins + 8), (std::vector<int>{10, 13, 16, 19, 22, 25, 28, 30}));
  EXPECT_EQ(FindBinNo(bins, 7, 12), 0);
  EXPECT_EQ(FindBinNo(bins, 7, 13), 1);
  EXPECT_EQ(FindBinNo(bins, 7, 30), 6);
  EXPECT_EQ(FindBinNo(bins, 7, 5), 0) << "below every boundary";
  // The request is reduced below the array size: 16 slots give 15 regions.
  std::vector<unsigned> many;
  for (unsigned v = 0; v < 100; ++v)
    many.push_back(v);
  EXPECT_LE(CreateBins(bins, 16, many.data(), 100, 1000), 15);

  values = {12, 14, 30, 0xFFFFE};
  _TStatisticsRegion r{20, 10, 0}, empty{29, 20, 0};
  FitRealBoundary(values.data(), 4, r);
  FitRealBoundary(values.data(), 4, empty);
  EXPECT_EQ(std::make_pair(r.Low, r.High), std::make_pair(12u, 14u)) << "narrowed to the values";
  EXPECT_EQ(std::make_pair(empty.Low, empty.High), std::make_pair(20u, 29u)) << "none inside";
}

TEST(Statistics, ShowStatisticsPrintsVbsAndPhysicalBlocks) {
  CUsbDrive drive;
  CSpecialMode2Cmd channel(drive, L"ABCDEFGH");
  bool terminated = false;
  unsigned char version = 2;
  CSmartInfoReader reader(channel, L"ABCDEFGH", L"/dev/none", terminated, version);
  std::vector<unsigned> values = {5, 6, 7};
  testing::internal::CaptureStdout();
  reader.ShowStatistics(values.data(), 3, 4);
  reader.ShowStatistics(values.data(), 3, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "     5     -     5 : 1 VBs (4 Physical Blocks)\n"
            "     6     -     7 : 2 VBs (8 Physical Blocks)\n"
            "     5     -     5 : 1 VBs (1 Physical Blocks)\n"
            "     6     -     7 : 2 VBs (2 Physical Blocks)\n");
}
