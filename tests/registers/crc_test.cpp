#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registers/crc.h"

namespace {

unsigned int Crc7(const std::vector<unsigned char> &data) {
  return CCRC7().Generate(data.data(), static_cast<unsigned int>(data.size()));
}

unsigned short Crc16(const std::vector<unsigned char> &data) {
  return CCRC16().Generate(data.data(), static_cast<unsigned int>(data.size()));
}

std::vector<unsigned char> Ascii(const std::string &s) { return {s.begin(), s.end()}; }

// Polynomial division one bit at a time, as the standard describes it.
unsigned int Crc7Model(const std::vector<unsigned char> &data) {
  unsigned int reg = 0;
  for (unsigned char byte : data)
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned int top = ((reg >> 6) ^ (byte >> bit)) & 1u;
      reg = (reg << 1) & 0x7Fu;
      if (top)
        reg ^= 0x09u;
    }
  return (reg << 1) | 1u;
}

unsigned short Crc16Model(const std::vector<unsigned char> &data) {
  unsigned int reg = 0;
  for (unsigned char byte : data)
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned int top = ((reg >> 15) ^ (byte >> bit)) & 1u;
      reg = (reg << 1) & 0xFFFFu;
      if (top)
        reg ^= 0x1021u;
    }
  return static_cast<unsigned short>(reg);
}

TEST(Crc7, CommandFramesAndCheckValue) {
  EXPECT_EQ(Crc7({0x40, 0x00, 0x00, 0x00, 0x00}) & 0xFFu, 0x95u); // CMD0
  EXPECT_EQ(Crc7({0x48, 0x00, 0x00, 0x01, 0xAA}) & 0xFFu, 0x87u); // CMD8
  EXPECT_EQ(Crc7({}), 0x01u);
  // CRC-7/MMC check value 0x75 over "123456789", shifted up with the end bit.
  EXPECT_EQ(Crc7(Ascii("123456789")) & 0xFFu, (0x75u << 1) | 1u);
}

TEST(Crc7, MatchesBitwiseModel) {
  std::mt19937 rng(1);
  for (int i = 0; i < 500; ++i) {
    std::vector<unsigned char> data(rng() % 40);
    for (auto &b : data)
      b = static_cast<unsigned char>(rng());
    EXPECT_EQ(Crc7(data) & 0xFFu, Crc7Model(data));
  }
}

TEST(Crc16, CheckValues) {
  EXPECT_EQ(Crc16(Ascii("123456789")), 0x31C3);
  EXPECT_EQ(Crc16(std::vector<unsigned char>(512, 0xFF)), 0x7FA1);
  EXPECT_EQ(Crc16({}), 0);
  EXPECT_EQ(CCRC16::CRC16Table[0], 0);
  EXPECT_EQ(CCRC16::CRC16Table[1], 0x1021);
  EXPECT_EQ(CCRC16::CRC16Table[2], 0x2042);
}

TEST(Crc16, MatchesBitwiseModelAndClosesItsBlock) {
  std::mt19937 rng(2);
  for (int i = 0; i < 300; ++i) {
    std::vector<unsigned char> data(rng() % 600);
    for (auto &b : data)
      b = static_cast<unsigned char>(rng());
    const unsigned short crc = Crc16(data);
    EXPECT_EQ(crc, Crc16Model(data));
    // A block followed by its CRC, high byte first, leaves a zero remainder.
    data.push_back(static_cast<unsigned char>(crc >> 8));
    data.push_back(static_cast<unsigned char>(crc));
    EXPECT_EQ(Crc16(data), 0);
  }
}

} // namespace
