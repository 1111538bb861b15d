#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "registers/bit_array.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const CBitArray &a) {
  return Bytes(a.GetArray().Data(), a.GetArray().Data() + a.GetArray().Size());
}

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

TEST(BitArray, SingleBitsAndWholeArrayOperations) {
  CBitArray a(12, false);
  a.Set(12, true).Set(1000, true); // out of range: ignored
  EXPECT_FALSE(a.Test(12));
  EXPECT_EQ(BytesOf(a), (Bytes{0x00, 0x00}));
  a.Set(11, true).Flip(0);
  EXPECT_TRUE(a[11] && a[0]);
  a.Reset(11);
  EXPECT_EQ(a.Count(), 1u);
  // Setting every bit leaves the spare bits of the last byte clear.
  a.Set();
  EXPECT_EQ(BytesOf(a), (Bytes{0xFF, 0x0F}));
  EXPECT_TRUE(a.IsFullFill());
  EXPECT_TRUE(CBitArray().IsFullFill());
  a.Flip();
  EXPECT_TRUE(a.None());
}

TEST(BitArray, InitKeepsRawBytesAndResizeStartsCleared) {
  CBitArray raw = FromBytes({0xFF, 0xFF}, 12);
  EXPECT_EQ(BytesOf(raw), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(raw.Count(), 12u);
  EXPECT_FALSE(raw == CBitArray(12, true));
  raw.Trim();
  EXPECT_TRUE(raw == CBitArray(12, true));
  // A short source leaves the rest of the (cleared) storage alone.
  EXPECT_EQ(BytesOf(FromBytes({0xAB}, 24)), (Bytes{0xAB, 0x00, 0x00}));
  for (unsigned int bits : {1u, 8u, 9u, 100u, 4096u}) {
    CBitArray a(bits);
    EXPECT_TRUE(a.None()) << bits;
    EXPECT_EQ(a.GetArray().Size(), (bits + 7) / 8);
    a.Set();
    a.Resize(bits + 8); // a new byte length: fresh, cleared storage
    EXPECT_TRUE(a.None()) << bits;
  }
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

TEST(BitArray, LogicOverTheCommonPrefix) {
  std::mt19937 rng(6);
  for (int round = 0; round < 500; ++round) {
    const CBitArray a = RandomArray(rng, false), b = RandomArray(rng, false);
    const Bytes ab = BytesOf(a), bb = BytesOf(b);
    CBitArray andA = a, orA = a, xorA = a;
    andA &= b;
    orA |= b;
    xorA ^= b;
    const Bytes andB = BytesOf(andA), orB = BytesOf(orA), xorB = BytesOf(xorA);
    // | and ^ end with a trim of the last byte; & does not need one.
    const unsigned int spare = a.GetBitCount() % 8;
    auto trimmed = [&](size_t i, unsigned int v) {
      return i + 1 == ab.size() && spare ? (v & ((1u << spare) - 1)) : v;
    };
    for (size_t i = 0; i < ab.size(); ++i) {
      const bool common = i < bb.size();
      ASSERT_EQ(andB[i], common ? (ab[i] & bb[i]) : ab[i]);
      ASSERT_EQ(orB[i], trimmed(i, common ? (ab[i] | bb[i]) : ab[i]));
      ASSERT_EQ(xorB[i], trimmed(i, common ? (ab[i] ^ bb[i]) : ab[i]));
    }
    ASSERT_TRUE((a & b) == andA);
    ASSERT_EQ((~a).GetBitCount(), a.GetBitCount());
    ASSERT_EQ((~a).Count() + a.Count(), a.GetBitCount());
  }
}

TEST(BitArray, Comparisons) {
  CBitArray a(16, false), b(24, false);
  a.Set(1, true).Set(9, true);
  b.Set(20, true).Set(2, true);
  EXPECT_FALSE(a < b || a > b); // the population counts are compared
  b.Set(3, true);
  EXPECT_TRUE(a < b && b > a && a != b);
  CBitArray c(a);
  c = c; // self-assignment keeps everything
  EXPECT_TRUE(c == a);
  c.Flip(1);
  EXPECT_TRUE(c != a);
  EXPECT_TRUE(CBitArray(9, false) != CBitArray(10, false)); // same bytes, other counts
}

TEST(BitArray, TextDumps) {
  EXPECT_EQ(FromBytes({0x0F}, 8).ToString(2), L"  0000 - 1111\r\n");
  EXPECT_EQ(FromBytes({0xA5, 0x01}, 16).ToString(0), L"0000 - 0001\r\n1010 - 0101\r\n");
  Bytes bytes(17);
  for (unsigned int i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 16 + 1);
  EXPECT_EQ(FromBytes(bytes, 17 * 8).ToByteString(1),
            L" 01 11 21 31 41 51 61 71 81 91 a1 b1 c1 d1 e1 f1 \r\n 01 \r\n");
  EXPECT_EQ(CBitArray().ToByteString(3) + CBitArray().ToString(3), L"");
}

} // namespace
