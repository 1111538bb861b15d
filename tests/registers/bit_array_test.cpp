// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "sdsmart/bit_array.h"

namespace {

using Bytes = std::vector<unsigned char>;

CBitArray FromBytes(Bytes bytes, unsigned int bits) {
  CBitArray a;
  a.Init(bytes.data(), static_cast<unsigned int>(bytes.size()), bits);
  return a;
}

// The plain model: one bool per valid bit, read through Test or from the raw storage.
std::vector<bool> Valid(const CBitArray &a, bool raw = false) {
  std::vector<bool> bits(a.GetBitCount());
  for (unsigned int i = 0; i < bits.size(); ++i)
    bits[i] = raw ? (a.GetArray()[i / 8] >> (i % 8)) & 1u : a.Test(i);
  return bits;
}

// Random contents; with spareBitsToo the bits above the count may be set as well.
CBitArray RandomArray(std::mt19937 &rng, bool spareBitsToo) {
  const unsigned int bits = rng() % 200;
  Bytes bytes((bits + 7) / 8);
  for (auto &b : bytes)
    b = static_cast<unsigned char>(rng());
  CBitArray a = FromBytes(bytes, bits);
  if (!spareBitsToo)
    a.Trim();
  return a;
}

TEST(BitArray, ShiftsMatchTheModel) {
  std::mt19937 rng(3);
  for (int round = 0; round < 3000; ++round) {
    CBitArray a = RandomArray(rng, round % 3 == 0);
    const unsigned int n = rng() % (a.GetBitCount() + 20);
    const std::vector<bool> bits = Valid(a);
    std::vector<bool> left(bits.size()), right(bits.size());
    for (size_t k = 0; k < bits.size(); ++k) {
      if (k + n < bits.size())
        left[k + n] = bits[k];
      if (k >= n)
        right[k - n] = bits[k];
    }
    const CBitArray l = a << n;
    ASSERT_EQ(Valid(a >> n), right) << a.GetBitCount() << " >> " << n;
    // Left shifts trim: no spare bit stays set.
    ASSERT_EQ(Valid(l, true), left) << a.GetBitCount() << " << " << n;
    ASSERT_EQ(l.Count(), unsigned(std::count(left.begin(), left.end(), true)));
    // The assigning forms agree with the copying ones.
    CBitArray r = a;
    a <<= n;
    r >>= n;
    ASSERT_TRUE(a == l);
    ASSERT_EQ(Valid(r), right);
  }
}

TEST(BitArray, CountsMatchTheModel) {
  std::mt19937 rng(4);
  for (int round = 0; round < 3000; ++round) {
    const CBitArray a = RandomArray(rng, round % 2 == 0);
    const std::vector<bool> bits = Valid(a);
    auto modelCount = [&](uint64_t first, uint64_t end) {
      unsigned int c = 0;
      for (uint64_t k = first; k < end && k < bits.size(); ++k)
        c += bits[k];
      return c;
    };
    ASSERT_EQ(a.Count(), modelCount(0, bits.size()));
    ASSERT_EQ(a.Any(), modelCount(0, bits.size()) != 0);
    // Ranges may run past the bit count (they are cut there).
    const unsigned int last = rng() % (a.GetBitCount() + 40);
    ASSERT_EQ(a.Count(last), modelCount(0, uint64_t{last} + 1)) << a.GetBitCount() << " " << last;
    const unsigned int first = rng() % (a.GetBitCount() + 40);
    const unsigned int n = rng() % 250;
    ASSERT_EQ(a.Count(first, n), modelCount(first, uint64_t{first} + n));
  }
  const CBitArray full(64, true);
  EXPECT_EQ(full.Count(0xFFFFFFFFu), 64u);
  EXPECT_EQ(full.Count(10, 0xFFFFFFFFu), 54u);
  EXPECT_EQ(full.Count(0xFFFFFFF0u, 0x20u), 0u);
}

} // namespace
