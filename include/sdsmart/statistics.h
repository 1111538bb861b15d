// SPDX-License-Identifier: MIT
// Erase-count statistics: split a per-VB count table into at most a requested
// number of equally wide value ranges and count the blocks in each.
#pragma once

struct _TStatisticsRegion {
  unsigned int High; // largest value of the region
  unsigned int Low;  // smallest value of the region
  unsigned int Count;
};

// Values above 0xFFFFD never take part; values above 0xFFFD do not lower L.
// `requested` is clamped to 1 .. maxBins - 1 (maxBins at most 1024 is the
// useful size). Returns the number of regions (0 when no value takes part);
// bins[0 .. result] are the boundaries.
int CreateBins(int *bins, int maxBins, unsigned int *values, int count, int requested);
// Largest i < binCount with bins[i] <= value (unsigned); 0 when none.
int FindBinNo(int *bins, int binCount, unsigned int value);
// Caller owns the result (delete[]); binCount receives the region count, and
// the result is nullptr when it is 0. A weight of 0 counts as 1.
_TStatisticsRegion *GatherStatistics(unsigned int *values, int count, unsigned int MaxRegionNum,
                                     int weight, int &binCount);
void FitRealBoundary(unsigned int *values, int count, _TStatisticsRegion &region);
