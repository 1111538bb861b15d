// SPDX-License-Identifier: MIT
#include "sdsmart/mersenne.h"

#include <random>

#include <gtest/gtest.h>

TEST(TRandomMersenneTest, MatchesStdMt19937OverLongSequences) {
  for (unsigned int seed : {0u, 1u, 5489u, 0x5C1E93A7u, 0xFFFFFFFFu, 123456789u}) {
    SCOPED_TRACE(seed);
    TRandomMersenne ours(seed);
    std::mt19937 reference(seed);
    for (int i = 0; i < 5000; ++i) // several regenerations of the 624-word block
      ASSERT_EQ(ours.BRandom(), reference()) << "draw " << i;
  }
  // Reseeding starts the sequence again.
  TRandomMersenne ours(5489);
  ours.BRandom();
  ours.RandomInit(5489);
  EXPECT_EQ(ours.BRandom(), std::mt19937(5489)());
}
