// SPDX-License-Identifier: MIT
#include "sdsmart/statistics.h"
#include "smart/card_protocol.h"

#include "sdsmart/smart_info_reader.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned int kCountLimit = CardProtocol::LargestCount; // larger values are markers
constexpr unsigned int kLowLimit = 0xFFFD;                       // larger values never lower L
constexpr int kMaxBins = 1024;

} // namespace

int CreateBins(int *bins, int maxBins, unsigned int *values, int count, int requested) {
  if (maxBins < 2)
    return 0;
  if (requested >= maxBins)
    requested = maxBins - 1;
  if (requested < 1)
    requested = 1;

  bool anyCounted = false;
  unsigned int high = 0;
  unsigned int low = 0xFFFFFFFF;
  unsigned int lowCounted = 0xFFFFFFFF;
  for (int i = 0; i < count; ++i) {
    const unsigned int v = values[i];
    if (v <= kCountLimit) {
      anyCounted = true;
      if (v > high)
        high = v;
      if (v < lowCounted)
        lowCounted = v;
    }
    if (v <= kLowLimit && v < low)
      low = v;
  }
  std::memset(bins, 0, sizeof(int) * static_cast<size_t>(maxBins));
  if (!anyCounted)
    return 0;
  // Only values between the two limits: they still get counted, so the range
  // starts at the smallest of them rather than wrapping around.
  if (low > high)
    low = lowCounted;

  const unsigned int range = high - low + 1;
  unsigned int n;
  unsigned int step;
  if (static_cast<unsigned int>(requested) >= range) {
    n = range;
    step = 1;
  } else {
    n = static_cast<unsigned int>(requested);
    step = (range + n - 1) / n;
  }

  bins[0] = static_cast<int>(low);
  int last = 0;
  for (unsigned int i = 1; i < n; ++i) {
    bins[i] = bins[i - 1] + static_cast<int>(step);
    last = static_cast<int>(i);
    if (static_cast<unsigned int>(bins[i]) + step >= high)
      break;
  }
  bins[last + 1] = static_cast<int>(high);
  return last + 1;
}

int FindBinNo(int *bins, int binCount, unsigned int value) {
  int found = 0;
  for (int i = 0; i < binCount; ++i)
    if (static_cast<unsigned int>(bins[i]) <= value)
      found = i;
  return found;
}

_TStatisticsRegion *GatherStatistics(unsigned int *values, int count, unsigned int MaxRegionNum,
                                     int weight, int &binCount) {
  if (MaxRegionNum < 1)
    MaxRegionNum = 1;
  if (MaxRegionNum > kMaxBins - 1)
    MaxRegionNum = kMaxBins - 1;
  if (weight == 0)
    weight = 1;

  int bins[kMaxBins];
  binCount = CreateBins(bins, kMaxBins, values, count, static_cast<int>(MaxRegionNum));
  assert(static_cast<unsigned int>(binCount) <= MaxRegionNum && "binCount <= MaxRegionNum");
  if (binCount <= 0) {
    binCount = 0;
    return nullptr;
  }

  auto regions = std::make_unique<_TStatisticsRegion[]>(static_cast<size_t>(binCount));
  for (int r = 0; r < binCount; ++r) {
    regions[r].Low = static_cast<unsigned int>(bins[r]);
    regions[r].High = static_cast<unsigned int>(bins[r + 1]) - (r + 1 < binCount ? 1 : 0);
    regions[r].Count = 0;
  }
  for (int i = 0; i < count; ++i) {
    if (values[i] > kCountLimit)
      continue;
    const int binIdx = FindBinNo(bins, binCount, values[i]);
    assert(binIdx < binCount && "binIdx < binCount");
    regions[binIdx].Count += static_cast<unsigned int>(weight);
  }
  return regions.release();
}

void FitRealBoundary(unsigned int *values, int count, _TStatisticsRegion &region) {
  bool found = false;
  unsigned int smallest = 0xFFFFFFFF;
  unsigned int largest = 0;
  for (int i = 0; i < count; ++i) {
    const unsigned int v = values[i];
    if (v > kCountLimit || v < region.Low || v > region.High)
      continue;
    found = true;
    if (v < smallest)
      smallest = v;
    if (v > largest)
      largest = v;
  }
  if (found)
    region.Low = smallest;
  if (largest != 0)
    region.High = largest;
}

void CSmartInfoReader::ShowStatistics(unsigned int *values, unsigned int count,
                                      unsigned int weight) {
  if (weight == 0)
    weight = 1;
  int n = 0;
  std::unique_ptr<_TStatisticsRegion[]> regions(
      GatherStatistics(values, static_cast<int>(count), 10, static_cast<int>(weight), n));
  for (int r = 0; r < n; ++r)
    std::printf(" %5d     - %5d : %d VBs (%d Physical Blocks)\n", regions[r].Low, regions[r].High,
                regions[r].Count / weight, regions[r].Count);
}
