#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "registers/register_field.h"

namespace {

// Bit b of a big-endian image, counted from the last bit.
bool BitOf(const std::vector<unsigned char> &image, unsigned int b) {
  return (image[image.size() - 1 - b / 8] >> (b % 8)) & 1u;
}

TEST(RegisterField, ReadAndWriteMatchTheBitModel) {
  std::mt19937 rng(12);
  for (int round = 0; round < 5000; ++round) {
    std::vector<unsigned char> image(1 + rng() % 64);
    for (auto &b : image)
      b = static_cast<unsigned char>(rng());
    const unsigned int bits = static_cast<unsigned int>(image.size() * 8);
    const unsigned int low = rng() % bits;
    const unsigned int high = std::min(bits - 1, low + static_cast<unsigned int>(rng() % 32));
    const RegisterField field{"f", high, low};
    uint32_t expected = 0;
    for (unsigned int b = high + 1; b-- > low;)
      expected = (expected << 1) | BitOf(image, b);
    ASSERT_EQ(ReadField(image.data(), image.size(), field), expected);

    const uint32_t value = static_cast<uint32_t>(rng());
    std::vector<unsigned char> written = image;
    WriteField(written.data(), written.size(), field, value);
    for (unsigned int b = 0; b < bits; ++b)
      ASSERT_EQ(BitOf(written, b),
                b >= low && b <= high ? ((value >> (b - low)) & 1u) : BitOf(image, b))
          << b;
  }
}

TEST(RegisterField, Geometry) {
  constexpr RegisterField cSize{"C_SIZE", 73, 62};
  static_assert(cSize.Width() == 12 && cSize.Max() == 0xFFF);
  static_assert(cSize.FirstByte(16) == 6 && cSize.ByteCount() == 3);
  static_assert(RegisterField{"PSN", 55, 24}.Max() == 0xFFFFFFFFu);
  // A field beyond the image reads 0 and writes nothing.
  unsigned char image[2] = {0xAB, 0xCD};
  EXPECT_EQ(ReadField(image, RegisterField{"far", 16, 16}), 0u);
  WriteField(image, RegisterField{"far", 20, 10}, 0);
  EXPECT_EQ(image[0] << 8 | image[1], 0xABCD);
}

} // namespace
