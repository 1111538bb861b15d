#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registers/crc.h"

namespace {

using Bytes = std::vector<unsigned char>;

unsigned int Crc7(const Bytes &d) { return CCRC7().Generate(d.data(), unsigned(d.size())); }
unsigned int Crc16(const Bytes &d) { return CCRC16().Generate(d.data(), unsigned(d.size())); }

// Polynomial division one bit at a time, as the standard describes it.
unsigned int Model(const Bytes &data, unsigned int width, unsigned int poly) {
  unsigned int reg = 0;
  for (unsigned char byte : data)
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned int top = ((reg >> (width - 1)) ^ (byte >> bit)) & 1u;
      reg = (reg << 1) & ((1u << width) - 1);
      if (top)
        reg ^= poly;
    }
  return reg;
}

Bytes RandomBytes(std::mt19937 &rng, size_t most) {
  Bytes data(rng() % most);
  for (auto &b : data)
    b = static_cast<unsigned char>(rng());
  return data;
}

TEST(Crc7, CheckValuesAndBitwiseModel) {
  EXPECT_EQ(Crc7({0x40, 0x00, 0x00, 0x00, 0x00}) & 0xFFu, 0x95u); // CMD0
  EXPECT_EQ(Crc7({0x48, 0x00, 0x00, 0x01, 0xAA}) & 0xFFu, 0x87u); // CMD8
  EXPECT_EQ(Crc7({}), 0x01u);
  // CRC-7/MMC check value 0x75 over "123456789", shifted up with the end bit.
  const std::string check = "123456789";
  EXPECT_EQ(Crc7(Bytes(check.begin(), check.end())) & 0xFFu, (0x75u << 1) | 1u);
  std::mt19937 rng(1);
  for (int i = 0; i < 500; ++i) {
    const Bytes data = RandomBytes(rng, 40);
    ASSERT_EQ(Crc7(data) & 0xFFu, (Model(data, 7, 0x09) << 1) | 1u);
  }
}

TEST(Crc16, CheckValuesBitwiseModelAndClosedBlocks) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16(Bytes(check.begin(), check.end())), 0x31C3u);
  EXPECT_EQ(Crc16(Bytes(512, 0xFF)), 0x7FA1u);
  EXPECT_EQ(Crc16({}), 0u);
  std::mt19937 rng(2);
  for (int i = 0; i < 300; ++i) {
    Bytes data = RandomBytes(rng, 600);
    const unsigned int crc = Crc16(data);
    ASSERT_EQ(crc, Model(data, 16, 0x1021));
    // A block followed by its CRC, high byte first, leaves a zero remainder.
    data.push_back(static_cast<unsigned char>(crc >> 8));
    data.push_back(static_cast<unsigned char>(crc));
    ASSERT_EQ(Crc16(data), 0u);
  }
}

} // namespace
