#include "util/mersenne.h"

#include <cstring>
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
  // The 10000th output of the default seed, fixed by the C++ standard.
  TRandomMersenne standard(5489);
  for (int i = 0; i < 9999; ++i)
    standard.BRandom();
  EXPECT_EQ(standard.BRandom(), 4123659995u);
  // Reseeding starts the sequence again.
  standard.RandomInit(5489);
  EXPECT_EQ(standard.BRandom(), 3499211612u);
}

TEST(TRandomMersenneTest, CopiesContinueTheSameSequence) {
  TRandomMersenne a(42);
  for (int i = 0; i < 700; ++i)
    a.BRandom();
  TRandomMersenne copy(a);
  TRandomMersenne assigned(7);
  assigned = a;
  for (int i = 0; i < 1000; ++i) {
    const uint32_t v = a.BRandom();
    ASSERT_EQ(copy.BRandom(), v);
    ASSERT_EQ(assigned.BRandom(), v);
  }
}

TEST(TRandomMersenneTest, RangesFollowTheRawStream) {
  TRandomMersenne r(99), raw(99);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t b = raw.BRandom();
    const unsigned int v = r.IRandom(0, 255);
    ASSERT_EQ(v, b >> 24); // floor(b / 2^32 * 256)
  }
  EXPECT_EQ(r.IRandom(7, 7), 7u);
  EXPECT_EQ(r.IRandom(10, 9), 10u);         // span wraps to 0
  EXPECT_EQ(r.IRandom(0, 0xFFFFFFFFu), 0u); // the same for the full range
  TRandomMersenne d(5), rawD(5);            // in [0, 1): the draw over 2^32
  for (int i = 0; i < 1000; ++i)
    ASSERT_DOUBLE_EQ(d.Random(), rawD.BRandom() / 4294967296.0);
}

TEST(TRandomMersenneTest, GenerateDrawsWordsThenBytes) {
  unsigned char buf[6];
  TRandomMersenne g(1234), expect(1234);
  g.Generate(buf, 6);
  uint32_t word;
  std::memcpy(&word, buf, 4);
  EXPECT_EQ(word, expect.IRandom(0, 0x7FFFFFFE));
  EXPECT_EQ(buf[4], expect.IRandom(0, 254));
  EXPECT_EQ(buf[5], expect.IRandom(0, 254));
  EXPECT_EQ(g.BRandom(), expect.BRandom()); // exactly three draws were made

  TRandomMersenne many(77);
  unsigned char big[4096];
  many.Generate(big, sizeof big);
  for (size_t i = 0; i < sizeof big; i += 4)
    ASSERT_LT(big[i + 3], 0x80); // the top bit of every word is clear
}
