#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "register_images.h"
#include "registers/scr.h"

using ::testing::Contains;
using ::testing::Not;

namespace {

using Image = std::array<unsigned char, 8>;

Image Scr(std::initializer_list<std::pair<RegisterField, uint32_t>> fields) {
  return ImageWith<8>(fields);
}

std::vector<std::wstring> ReportOf(const Image &image) {
  return Lines(CSCR(image.data()).Parse(0));
}

TEST(ScrRealCards, Sn512IsVersion6) {
  CSCR scr(kSn512Scr.data());
  EXPECT_EQ(scr.GetSCRVersion(), 0u);
  EXPECT_EQ(scr.GetSDMemoryCardSpec(), 2u);
  EXPECT_FALSE(scr.GetDataAfterErase());
  EXPECT_EQ(scr.GetSDSecurityVersion(), 4u);
  EXPECT_EQ(scr.GetDataBusWidth(), 5u);
  EXPECT_TRUE(scr.IsSdSpec3());
  EXPECT_TRUE(scr.IsSdSpec4());
  EXPECT_EQ(scr.GetSDSpecX(), 2u);
  EXPECT_EQ(scr.GetCmdSupport(), 0x0700u);
  EXPECT_FALSE(scr.IsSdSpec5());
  EXPECT_EQ(scr.Parse(1), L" SCR Register\r\n"
                          L" ---------------------------------\r\n"
                          L" 02 45 84 87 00 00 00 00 \r\n"
                          L" SCR Version No.              = 1.0-2.0\r\n"
                          L" SD Memory Card Spec. Version = 6.xx\r\n"
                          L" SD_SPEC4                     = True\r\n"
                          L" Data Status After Erases     = 0\r\n"
                          L" SD Security Support          = Security Protocol 3.0\r\n"
                          L" DAT Bus Widths Supported     = 1 bit(DAT0), 4 bit(DAT0-3)\r\n"
                          L" Cmd Support                  = CMD20, CMD23, CMD48, CMD49\r\n");
}

TEST(ScrRealCards, Sd16gIsVersion3) {
  CSCR scr(kSd16gScr.data());
  EXPECT_EQ(scr.GetSDSecurityVersion(), 3u);
  EXPECT_TRUE(scr.IsSdSpec3());
  EXPECT_FALSE(scr.IsSdSpec4());
  EXPECT_EQ(scr.GetSDSpecX(), 0u);
  EXPECT_EQ(scr.GetCmdSupport(), 0x0201u);
  const auto lines = ReportOf(kSd16gScr);
  EXPECT_EQ(lines[4], L"SD Memory Card Spec. Version = 3.0x");
  EXPECT_EQ(lines[5], L"Data Status After Erases     = 0");
  EXPECT_EQ(lines[6], L"SD Security Support          = Security Protocol 2.0");
  EXPECT_EQ(lines[8], L"Cmd Support                  = CMD23");
}

// The version lines for every SD_SPEC, SD_SPEC3, SD_SPEC4 and SD_SPECX.
TEST(ScrReport, SpecificationVersion) {
  for (uint32_t spec = 0; spec < 16; ++spec)
    for (uint32_t spec3 = 0; spec3 < 2; ++spec3)
      for (uint32_t spec4 = 0; spec4 < 2; ++spec4)
        for (uint32_t specX = 0; specX < 16; ++specX) {
          std::vector<std::wstring> expected;
          const std::wstring label = L"SD Memory Card Spec. Version = ";
          const std::wstring spec4Line = spec4 ? L"SD_SPEC4                     = True"
                                               : L"SD_SPEC4                     = False";
          if (spec == 0)
            expected = {label + L"1.0-1.01"};
          else if (spec == 1)
            expected = {label + L"1.10"};
          else if (spec == 2 && !spec3)
            expected = {label + L"2.0"};
          else if (spec == 2 && specX >= 1 && specX <= 5)
            expected = {label + std::to_wstring(specX + 4) + L".xx", spec4Line};
          else if (spec == 2)
            expected = {label + (spec4 ? L"4.xx" : L"3.0x")};
          else
            expected = {label + std::to_wstring(spec) + L" (Reserved)"};
          const auto lines = ReportOf(Scr({{ScrField::SD_SPEC, spec},
                                           {ScrField::SD_SPEC3, spec3},
                                           {ScrField::SD_SPEC4, spec4},
                                           {ScrField::SD_SPECX, specX}}));
          const std::vector<std::wstring> got(lines.begin() + 4,
                                              lines.begin() + 4 + expected.size());
          EXPECT_EQ(got, expected) << spec << " " << spec3 << " " << spec4 << " " << specX;
          EXPECT_EQ(lines[4 + expected.size()].rfind(L"Data Status After Erases", 0), 0u);
        }
  const Image five =
      Scr({{ScrField::SD_SPEC, 2}, {ScrField::SD_SPEC3, 1}, {ScrField::SD_SPECX, 1}});
  EXPECT_TRUE(CSCR(five.data()).IsSdSpec5());
}

TEST(ScrReport, StructureSecurityAndBusWidths) {
  EXPECT_EQ(ReportOf(Scr({{ScrField::SCR_STRUCTURE, 3}}))[3],
            L"SCR Structure                = 3 (reserved)");
  const wchar_t *const security[] = {L"No Security",
                                     L"Not used",
                                     L"Security Protocol 1.01",
                                     L"Security Protocol 2.0",
                                     L"Security Protocol 3.0",
                                     L"5 (Reserved)",
                                     L"6 (Reserved)",
                                     L"7 (Reserved)"};
  for (uint32_t v = 0; v < 8; ++v)
    EXPECT_EQ(ReportOf(Scr({{ScrField::SD_SECURITY, v}}))[6],
              L"SD Security Support          = " + std::wstring(security[v]));
  for (uint32_t v = 0; v < 16; ++v) {
    const std::wstring text = v == 1   ? L"1 bit(DAT0)"
                              : v == 4 ? L"4 bit(DAT0-3)"
                              : v == 5 ? L"1 bit(DAT0), 4 bit(DAT0-3)"
                                       : std::to_wstring(v) + L" (Reserved)";
    EXPECT_EQ(ReportOf(Scr({{ScrField::SD_BUS_WIDTHS, v}}))[7],
              L"DAT Bus Widths Supported     = " + text);
  }
  Image bytes{};
  bytes[1] = 0x05;
  EXPECT_EQ(ReportOf(bytes)[7], L"DAT Bus Widths Supported     = 1 bit(DAT0), 4 bit(DAT0-3)");
  bytes[1] = 0x80;
  EXPECT_EQ(ReportOf(bytes)[5], L"Data Status After Erases     = 1");
}

TEST(ScrReport, CommandSupportBits) {
  auto cmdLine = [](unsigned char byte3, unsigned char byte4) {
    Image image{};
    image[3] = byte3;
    image[4] = byte4;
    return ReportOf(image);
  };
  EXPECT_EQ(cmdLine(0x03, 0x00).back(), L"Cmd Support                  = CMD20, CMD23");
  // Register bit 34 is CMD48/CMD49, bit 35 CMD58/CMD59.
  EXPECT_EQ(cmdLine(0x04, 0x00).back(), L"Cmd Support                  = CMD48, CMD49");
  EXPECT_EQ(cmdLine(0x08, 0x00).back(), L"Cmd Support                  = CMD58, CMD59");
  EXPECT_EQ(cmdLine(0x0F, 0x00).back(),
            L"Cmd Support                  = CMD20, CMD23, CMD48, CMD49, CMD58, CMD59");
  // Only bits around the four: the label alone.
  EXPECT_EQ(cmdLine(0x30, 0x01).back(), L"Cmd Support                  = ");
  EXPECT_EQ(CSCR(Scr({}).data()).GetCmdSupport(), 0u);
  EXPECT_THAT(cmdLine(0xC0, 0x00), Not(Contains(testing::StartsWith(L"Cmd Support"))));
}

TEST(ScrReport, EveryFieldValueBuilds) {
  for (const RegisterField &field : ScrField::All)
    for (uint32_t value : ValuesOf(field)) {
      Image image = kSn512Scr;
      WriteField(image.data(), 8, field, value);
      bool terminated = false;
      const auto lines = Lines(CSCR(image.data()).Parse(2), &terminated);
      ASSERT_TRUE(terminated);
      ASSERT_GE(lines.size(), 8u) << field.name << " = " << value;
      ASSERT_LE(lines.size(), 10u) << field.name << " = " << value;
    }
}

} // namespace
