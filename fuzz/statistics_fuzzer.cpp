// SPDX-License-Identifier: MIT
// The erase-count statistics over tables a card sent: arbitrary 32-bit
// values (markers for unused blocks included), region counts and weights.
// The regions must cover exactly the values that take part.
#include "fuzz_support.h"

#include "sdsmart/statistics.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CFuzzInput in(data, size);
  const unsigned int regions = in.Byte() % 40;
  const int weight = in.Byte() % 9;
  const bool small = in.Byte() & 1;
  std::vector<unsigned int> values;
  while (in.Left() >= (small ? 2u : 4u) && values.size() < 8192) {
    // Small values make real erase-count tables; full words reach the markers.
    values.push_back(small ? (in.Byte() << 8 | in.Byte()) : in.Word());
  }

  int binCount = -1;
  std::unique_ptr<_TStatisticsRegion[]> result(
      GatherStatistics(values.data(), static_cast<int>(values.size()), regions, weight, binCount));
  FUZZ_CHECK(binCount >= 0, "a region count");
  FUZZ_CHECK((binCount == 0) == (result == nullptr), "regions exactly when the count says so");

  unsigned long long taking = 0;
  for (unsigned int v : values)
    if (v <= 0xFFFFD)
      ++taking;
  unsigned long long counted = 0;
  for (int r = 0; r < binCount; ++r) {
    FUZZ_CHECK(result[r].Low <= result[r].High || result[r].Count == 0,
               "a region's low bound is not above its high bound");
    counted += result[r].Count;
  }
  const unsigned long long w = weight == 0 ? 1 : static_cast<unsigned long long>(weight);
  if (binCount > 0)
    FUZZ_CHECK(counted == taking * w || counted == taking,
               "every value that takes part is counted once (times the weight)");

  std::vector<int> bins(1024, 0);
  const int n = CreateBins(bins.data(), static_cast<int>(bins.size()), values.data(),
                           static_cast<int>(values.size()), static_cast<int>(regions));
  FUZZ_CHECK(n >= 0 && n < 1024, "bins fit the array");
  for (unsigned int v : values)
    (void)FindBinNo(bins.data(), n + 1, v);
  return 0;
}
