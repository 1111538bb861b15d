#include <gtest/gtest.h>
#include <memory>

#include <random>

#include "register_images.h"
#include "registers/ocr.h"
#include "registers/spi_response.h"

namespace {

using Image = std::array<unsigned char, 4>;

Image Ocr(uint32_t value) {
  return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
          static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::vector<std::wstring> ReportOf(uint32_t value, bool mmc) {
  return Lines(std::unique_ptr<COCR>(COCR::Create(mmc, Ocr(value).data()))->Parse(0));
}

std::wstring Volts(unsigned int tenths) {
  return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10);
}

TEST(Ocr, SdHighCapacityCard) {
  const Image image = Ocr(0xC0FF8000);
  std::unique_ptr<COCR> ocr(COCR::Create(false, image.data()));
  auto *sd = dynamic_cast<CSdOCR *>(ocr.get());
  ASSERT_NE(sd, nullptr);
  EXPECT_TRUE(sd->GetHighCapacityEn());
  EXPECT_TRUE(sd->IsCardInitFinished());
  EXPECT_EQ(ocr->Parse(2), L"  OCR Register\r\n"
                           L"  ---------------------------------\r\n"
                           L"  c0 ff 80 00 \r\n"
                           L"  Operating Votage Range = 2.7 V ~ 3.6 V\r\n"
                           L"  High Capacity Enable   = 1\r\n"
                           L"  Card Init Finished     = 1\r\n");
}

TEST(Ocr, VoltageLine) {
  const std::wstring label = L"Operating Votage Range = ";
  // Each window bit on its own: (k + 12) / 10 V to (k + 13) / 10 V.
  for (unsigned int k = 8; k <= 23; ++k)
    EXPECT_EQ(ReportOf(1u << k, false)[3], label + Volts(k + 12) + L" V ~ " + Volts(k + 13) + L" V")
        << k;
  const std::tuple<uint32_t, bool, const wchar_t *> cases[] = {
      {0x01FF8000, false, L"2.7 V ~ 3.6 V"},              // bit 24 is not a window bit
      {0x00C03000, false, L"2.4 V ~ 2.6 V"},              // the first run of bits wins
      {0x80FF8080, true, L"1.65V ~ 1.95V 2.7 V ~ 3.6 V"}, // a dual-voltage device
      {0x00000080, false, L"1.65V ~ 1.95V"},
      // No voltage bit: the line ends after the label.
      {0x00000000, false, L""},
      {0xC100000F, true, L""},
  };
  for (const auto &[value, mmc, text] : cases)
    EXPECT_EQ(ReportOf(value, mmc)[3], label + text) << std::hex << value;
}

TEST(Ocr, MmcAccessMode) {
  const wchar_t *const modes[] = {L"Byte mode", L"1", L"Sector mode", L"3"};
  for (uint32_t mode = 0; mode < 4; ++mode) {
    const Image image = Ocr(0x00FF8000 | (mode << 29));
    std::unique_ptr<COCR> ocr(COCR::Create(true, image.data()));
    auto *mmc = dynamic_cast<CMmcOCR *>(ocr.get());
    ASSERT_NE(mmc, nullptr);
    EXPECT_EQ(mmc->GetAccessMode(), mode);
    const auto lines = Lines(ocr->Parse(0));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], L"Access Mode            = " + std::wstring(modes[mode]));
    EXPECT_EQ(lines[5], L"Card Init Finished     = 0");
  }
}

TEST(Ocr, EveryRegisterBuilds) {
  std::mt19937 rng(8);
  for (int i = 0; i < 5000; ++i) {
    const Image image = Ocr(i < 64 ? (1u << (i % 32)) : static_cast<uint32_t>(rng()));
    for (bool mmc : {false, true}) {
      bool terminated = false;
      ASSERT_EQ(Lines(std::unique_ptr<COCR>(COCR::Create(mmc, image.data()))->Parse(1), &terminated)
                    .size(),
                6u);
      ASSERT_TRUE(terminated);
    }
  }
}

TEST(SpiResponse, R2Report) {
  const unsigned char r2[2] = {0x05, 0x81};
  EXPECT_EQ(CSpiR2(r2).Parse(1), L" SPI R1\r\n"
                                 L" Card State           : Idle\r\n"
                                 L" Erase Reset          : 0\r\n"
                                 L" Illegal Command      : 1\r\n"
                                 L" Com CRC Error        : 0\r\n"
                                 L" Erase Sequence Error : 0\r\n"
                                 L" Address Error        : 0\r\n"
                                 L" Parameter Error      : 0\r\n"
                                 L" \r\n"
                                 L" SPI R2\r\n"
                                 L" Card Is Locked                         : 1\r\n"
                                 L" WP Erase Skip | Lock/Unlock Cmd Failed : 0\r\n"
                                 L" Error                                  : 0\r\n"
                                 L" CC Error                               : 0\r\n"
                                 L" Card ECC Failed                        : 0\r\n"
                                 L" WP Violation                           : 0\r\n"
                                 L" Erase Param                            : 0\r\n"
                                 L" Out of Range | CSD OverWrite           : 1\r\n");
}

// Every bit of either byte shows on its own line.
TEST(SpiResponse, EveryByteBuilds) {
  for (unsigned int v = 0; v < 256; ++v) {
    const auto r1 = Lines(CSpiR1(static_cast<unsigned char>(v)).Parse(0));
    ASSERT_EQ(r1.size(), 8u);
    EXPECT_EQ(r1[0], L"SPI R1");
    EXPECT_EQ(r1[1].back(), (v & 1u) ? L'e' : L'y'); // Idle or Ready
    for (unsigned int bit = 1; bit < 7; ++bit)
      EXPECT_EQ(r1[1 + bit].back(), ((v >> bit) & 1u) ? L'1' : L'0') << v;
    const unsigned char bytes[2] = {0x00, static_cast<unsigned char>(v)};
    const auto r2 = Lines(CSpiR2(bytes).Parse(0));
    ASSERT_EQ(r2.size(), 18u);
    for (unsigned int bit = 0; bit < 8; ++bit)
      EXPECT_EQ(r2[10 + bit].back(), ((v >> bit) & 1u) ? L'1' : L'0') << v;
  }
}

} // namespace
