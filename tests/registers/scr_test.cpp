#include <gtest/gtest.h>
#include <memory>

#include "register_images.h"
#include "registers/scr.h"

namespace {

using Image = std::array<unsigned char, 8>;

std::vector<std::wstring> ReportOf(FieldValues fields) {
  return Lines(CSCR(ImageWith<8>(fields).data()).Parse(0));
}

TEST(ScrRealCards, Sn512IsVersion6) {
  CSCR scr(kSn512Scr.data());
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
  EXPECT_EQ(scr.GetSDSpecX(), 0u);
  EXPECT_EQ(scr.GetCmdSupport(), 0x0201u);
  const auto lines = Lines(scr.Parse(0));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[4], L"SD Memory Card Spec. Version = 3.0x");
  EXPECT_EQ(lines[6], L"SD Security Support          = Security Protocol 2.0");
  EXPECT_EQ(lines[8], L"Cmd Support                  = CMD23");
}

// SD_SPECX 1 to 5 name versions 5.xx to 9.xx, each followed by the SD_SPEC4 line.
TEST(ScrReport, SpecificationVersion) {
  const std::wstring label = L"SD Memory Card Spec. Version = ";
  for (uint32_t spec = 0; spec < 16; ++spec)
    for (uint32_t spec3 = 0; spec3 < 2; ++spec3)
      for (uint32_t spec4 = 0; spec4 < 2; ++spec4)
        for (uint32_t specX = 0; specX < 16; ++specX) {
          std::vector<std::wstring> expected;
          if (spec == 0)
            expected = {label + L"1.0-1.01"};
          else if (spec == 1)
            expected = {label + L"1.10"};
          else if (spec == 2 && !spec3)
            expected = {label + L"2.0"};
          else if (spec == 2 && specX >= 1 && specX <= 5)
            expected = {label + std::to_wstring(specX + 4) + L".xx",
                        spec4 ? L"SD_SPEC4                     = True"
                              : L"SD_SPEC4                     = False"};
          else if (spec == 2)
            expected = {label + (spec4 ? L"4.xx" : L"3.0x")};
          else
            expected = {label + std::to_wstring(spec) + L" (Reserved)"};
          const auto image = ImageWith<8>({{ScrField::SD_SPEC, spec},
                                           {ScrField::SD_SPEC3, spec3},
                                           {ScrField::SD_SPEC4, spec4},
                                           {ScrField::SD_SPECX, specX}});
          CSCR scr(image.data());
          EXPECT_EQ(scr.IsSdSpec5(), spec == 2 && spec3 && specX == 1);
          const auto lines = Lines(scr.Parse(0));
          ASSERT_EQ(lines.size(), 7 + expected.size());
          EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 4, lines.end() - 3), expected)
              << spec << " " << spec3 << " " << spec4 << " " << specX;
        }
}

TEST(ScrReport, StructureSecurityAndBusWidths) {
  EXPECT_EQ(ReportOf({{ScrField::SCR_STRUCTURE, 3}})[3],
            L"SCR Structure                = 3 (reserved)");
  EXPECT_EQ(ReportOf({{ScrField::DATA_STAT_AFTER_ERASE, 1}})[5],
            L"Data Status After Erases     = 1");
  const wchar_t *const security[] = {L"No Security",
                                     L"Not used",
                                     L"Security Protocol 1.01",
                                     L"Security Protocol 2.0",
                                     L"Security Protocol 3.0",
                                     L"5 (Reserved)",
                                     L"6 (Reserved)",
                                     L"7 (Reserved)"};
  for (uint32_t v = 0; v < 8; ++v)
    EXPECT_EQ(ReportOf({{ScrField::SD_SECURITY, v}})[6],
              L"SD Security Support          = " + std::wstring(security[v]));
  for (uint32_t v = 0; v < 16; ++v) {
    const std::wstring text = v == 1   ? L"1 bit(DAT0)"
                              : v == 4 ? L"4 bit(DAT0-3)"
                              : v == 5 ? L"1 bit(DAT0), 4 bit(DAT0-3)"
                                       : std::to_wstring(v) + L" (Reserved)";
    EXPECT_EQ(ReportOf({{ScrField::SD_BUS_WIDTHS, v}})[7],
              L"DAT Bus Widths Supported     = " + text);
  }
}

// Register bit 34 is CMD48/CMD49, bit 35 CMD58/CMD59.
TEST(ScrReport, CommandSupportBits) {
  // Image bytes 3 and 4 (register bits 39..24).
  const RegisterField bytes34{"bytes 3-4", 39, 24};
  const std::pair<uint32_t, const wchar_t *> cases[] = {
      {0x300, L"CMD20, CMD23"},
      {0x400, L"CMD48, CMD49"},
      {0x800, L"CMD58, CMD59"},
      {0xF00, L"CMD20, CMD23, CMD48, CMD49, CMD58, CMD59"},
      {0x3001, L""}, // only bits around the four: the label alone
  };
  for (const auto &[bits, text] : cases)
    EXPECT_EQ(ReportOf({{bytes34, bits}}).back(),
              L"Cmd Support                  = " + std::wstring(text));
  // No bit at all: no line.
  EXPECT_EQ(ReportOf({}).size(), 8u);
}

TEST(ScrReport, EveryFieldValueBuilds) {
  CheckEveryFieldValue(
      kSn512Scr, ScrField::All, [](const unsigned char *p) { return CSCR(p).Parse(1); },
      [](const unsigned char *p) {
        CSCR scr(p);
        const bool spec4Line = scr.GetSDMemoryCardSpec() == 2 && scr.IsSdSpec3() &&
                               scr.GetSDSpecX() >= 1 && scr.GetSDSpecX() <= 5;
        return 8 + spec4Line + (scr.GetCmdSupport() != 0);
      });
}

} // namespace
