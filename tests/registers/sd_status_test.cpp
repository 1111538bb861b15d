#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "register_images.h"
#include "registers/sd_status.h"
#include "registers/switch_status.h"

using ::testing::Contains;

namespace {

using Image = std::array<unsigned char, 64>;

Image Status(std::initializer_list<std::pair<RegisterField, uint32_t>> fields) {
  return ImageWith<64>(fields);
}

std::vector<std::wstring> ReportOf(const Image &image, bool extended = true, bool inBytes = true) {
  return Lines(CSdStatus(extended, inBytes, image.data()).Parse(0));
}

// Lines of the report after the header and the four dump lines.
std::wstring FieldLine(const Image &image, size_t n) { return ReportOf(image)[6 + n]; }

// A UHS-I card: 4 bit bus, class 10, U1, A1, 4 MB AU.
Image UhsCard() {
  return Status({{SdStatusField::DAT_BUS_WIDTH, 2},
                 {SdStatusField::SIZE_OF_PROTECTED_AREA, 0x05000000},
                 {SdStatusField::SPEED_CLASS, 4},
                 {SdStatusField::PERFORMANCE_MOVE, 20},
                 {SdStatusField::AU_SIZE, 9},
                 {SdStatusField::ERASE_SIZE, 0x0100},
                 {SdStatusField::ERASE_TIMEOUT, 10},
                 {SdStatusField::ERASE_OFFSET, 1},
                 {SdStatusField::UHS_SPEED_GRADE, 1},
                 {SdStatusField::UHS_AU_SIZE, 9},
                 {SdStatusField::VIDEO_SPEED_CLASS, 10},
                 {SdStatusField::VSC_AU_SIZE, 4},
                 {SdStatusField::APP_PERF_CLASS, 1},
                 {SdStatusField::DISCARD_SUPPORT, 1}});
}

TEST(SdStatus, WholeReport) {
  const Image image = UhsCard();
  CSdStatus status(true, true, image.data());
  EXPECT_EQ(status.Parse(1), L" SD Status Register\r\n"
                             L" ---------------------------------\r\n"
                             L" 80 00 00 00 05 00 00 00 04 14 90 01 00 29 19 0a \r\n"
                             L" 00 04 00 00 00 01 00 00 02 00 00 00 00 00 00 00 \r\n"
                             L" 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
                             L" 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
                             L" Current DAT Bus Width  = 4 bit(DAT0-3)\r\n"
                             L" Secured Mode           = Not in the Mode\r\n"
                             L" SD Card Type           = Regular SD RD/WR Card\r\n"
                             L" Size of Protected Area = 83886080 Bytes\r\n"
                             L" Speed Class            = Class 10\r\n"
                             L" Performance Move       = 20 MB/sec\r\n"
                             L" AU Size                = 4 MB\r\n"
                             L" Erase Size             = 256 AU (0x40000000)\r\n"
                             L" Erase Timeout          = 10 sec\r\n"
                             L" Erase Offset           = 1 sec\r\n"
                             L" UHS Speed Grade        = 10MB/sec and above\r\n"
                             L" UHS AU Size            = 4 MB\r\n"
                             L" Video Speed Class      = 10\r\n"
                             L" VSC AU SIZE            = 4 MB, SU Size = 8 MB\r\n"
                             L" Suspention Address     = No valid suspention address\r\n"
                             L" App. Performance Class = 1 A1\r\n"
                             L" DISCARD Operation      = Supported\r\n"
                             L" FULE Operation         = None Supported\r\n");
  // Without the extended fields the report ends after the UHS AU size.
  const auto shortReport = ReportOf(image, false);
  EXPECT_EQ(shortReport.size(), 18u);
  EXPECT_EQ(shortReport.back(), L"UHS AU Size            = 4 MB");
  EXPECT_EQ(ReportOf(image, false, false)[9],
            L"Size of Protected Area = 83886080 * (MULT * BLOCK_LEN)");
}

TEST(SdStatus, AccessorsReadTheirFields) {
  const Image image = UhsCard();
  CSdStatus s(true, true, image.data());
  EXPECT_EQ(s.GetDataBusWidth(), 2);
  EXPECT_FALSE(s.GetSecuredMode());
  EXPECT_EQ(s.GetCardType(), 0);
  EXPECT_EQ(s.GetProtectedAreaSize(), 0x05000000u);
  EXPECT_EQ(s.GetSpeedClass(), 4);
  EXPECT_EQ(s.GetPerformanceMove(), 20);
  EXPECT_EQ(s.Get_AU_Size(), 9);
  EXPECT_EQ(s.GetEraseSize(), 0x0100);
  EXPECT_EQ(s.GetEraseTimeout(), 10);
  EXPECT_EQ(s.GetEraseOffset(), 1);
  EXPECT_EQ(s.Get_UHS_SpeedGrade(), 1);
  EXPECT_EQ(s.Get_UHS_AU_Size(), 9);
  EXPECT_EQ(s.GetVideoSpeedClass(), 10);
  EXPECT_EQ(s.Get_VSC_AU_Size(), 4);
  EXPECT_EQ(s.GetSuspentionAddress(), 0u);
  EXPECT_EQ(s.GetAppPerformanceClass(), 1);
  EXPECT_EQ(s.Get_Discard_Support(), 1);
  EXPECT_EQ(s.Get_FULE_Support(), 0);
  unsigned char out[80] = {};
  s.GetContent(out, 80);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), out));
  EXPECT_EQ(out[64], 0);
  unsigned char small[3] = {};
  s.GetContent(small, 3);
  EXPECT_EQ(small[0], 0x80);
}

TEST(SdStatus, AuSizeTexts) {
  const wchar_t *const texts[] = {
      L"Not Defined", L"16 KB", L"32 KB", L"64 KB", L"128 KB", L"256 KB", L"512 KB", L"1 MB",
      L"2 MB",        L"4 MB",  L"8 MB",  L"12 MB", L"16 MB",  L"24 MB",  L"32 MB",  L"64 MB"};
  for (uint32_t code = 0; code < 16; ++code) {
    EXPECT_EQ(FieldLine(Status({{SdStatusField::AU_SIZE, code}}), 6),
              L"AU Size                = " + std::wstring(texts[code]));
    EXPECT_EQ(FieldLine(Status({{SdStatusField::UHS_AU_SIZE, code}}), 11),
              L"UHS AU Size            = " + std::wstring(texts[code]));
  }
}

TEST(SdStatus, EraseSizeCoversWholeAus) {
  // (AU code, AU bytes)
  const std::pair<uint32_t, uint64_t> aus[] = {{1, 16384},     {2, 32768},     {6, 524288},
                                               {7, 1 << 20},   {9, 4 << 20},   {10, 8 << 20},
                                               {11, 12 << 20}, {13, 24 << 20}, {15, 64 << 20}};
  for (const auto &[code, bytes] : aus) {
    const Image image =
        Status({{SdStatusField::AU_SIZE, code}, {SdStatusField::ERASE_SIZE, 0x0100}});
    std::wostringstream hex;
    hex << std::hex << 0x100 * bytes;
    EXPECT_EQ(FieldLine(image, 7), L"Erase Size             = 256 AU (0x" + hex.str() + L")")
        << code;
  }
  EXPECT_EQ(FieldLine(Status({{SdStatusField::AU_SIZE, 9}}), 7),
            L"Erase Size             = Not Defined");
  EXPECT_EQ(
      FieldLine(Status({{SdStatusField::ERASE_SIZE, 0xFFFF}, {SdStatusField::AU_SIZE, 15}}), 7),
      L"Erase Size             = 65535 AU (0x3fffc000000)");
}

TEST(SdStatus, CodedLines) {
  auto line = [](RegisterField f, uint32_t v, size_t n) { return FieldLine(Status({{f, v}}), n); };
  EXPECT_EQ(line(SdStatusField::DAT_BUS_WIDTH, 0, 0), L"Current DAT Bus Width  = 1 bit(DAT0)");
  EXPECT_EQ(line(SdStatusField::DAT_BUS_WIDTH, 3, 0), L"Current DAT Bus Width  = 3(reserved)");
  EXPECT_EQ(line(SdStatusField::SECURED_MODE, 1, 1), L"Secured Mode           = In Secured Mode");
  EXPECT_EQ(line(SdStatusField::SD_CARD_TYPE, 1, 2), L"SD Card Type           = SD ROM Card");
  EXPECT_EQ(line(SdStatusField::SD_CARD_TYPE, 0x102, 2), L"SD Card Type           = 258(reserved)");
  EXPECT_EQ(line(SdStatusField::SPEED_CLASS, 0, 4), L"Speed Class            = Class 0");
  EXPECT_EQ(line(SdStatusField::SPEED_CLASS, 3, 4), L"Speed Class            = Class 6");
  EXPECT_EQ(line(SdStatusField::SPEED_CLASS, 5, 4), L"Speed Class            = 5 (Reserved)");
  EXPECT_EQ(line(SdStatusField::PERFORMANCE_MOVE, 0, 5), L"Performance Move       = Not Defined");
  EXPECT_EQ(line(SdStatusField::PERFORMANCE_MOVE, 255, 5), L"Performance Move       = Infinity");
  EXPECT_EQ(line(SdStatusField::ERASE_TIMEOUT, 0, 8), L"Erase Timeout          = Not Defined");
  EXPECT_EQ(line(SdStatusField::ERASE_OFFSET, 3, 9), L"Erase Offset           = 3 sec");
  EXPECT_EQ(line(SdStatusField::UHS_SPEED_GRADE, 0, 10),
            L"UHS Speed Grade        = Less than 10MB/sec");
  EXPECT_EQ(line(SdStatusField::UHS_SPEED_GRADE, 2, 10), L"UHS Speed Grade        = Reserved");
  EXPECT_EQ(line(SdStatusField::UHS_SPEED_GRADE, 3, 10),
            L"UHS Speed Grade        = 30MB/sec and above");
  EXPECT_EQ(line(SdStatusField::UHS_SPEED_GRADE, 15, 10), L"UHS Speed Grade        = Reserved");
  EXPECT_EQ(line(SdStatusField::VIDEO_SPEED_CLASS, 90, 12), L"Video Speed Class      = 90");
  EXPECT_EQ(line(SdStatusField::VIDEO_SPEED_CLASS, 91, 12), L"Video Speed Class      = Others");
  EXPECT_EQ(line(SdStatusField::VSC_AU_SIZE, 27, 13),
            L"VSC AU SIZE            = 27 MB, SU Size = 9 MB");
  EXPECT_EQ(line(SdStatusField::SUS_ADDR, 0x3FFFFF, 14),
            L"Suspention Address     = 4194303 (512KB)");
  EXPECT_EQ(line(SdStatusField::APP_PERF_CLASS, 0, 15), L"App. Performance Class = Not Supported");
  EXPECT_EQ(line(SdStatusField::APP_PERF_CLASS, 2, 15), L"App. Performance Class = Invalid Value");
  EXPECT_EQ(line(SdStatusField::FULE_SUPPORT, 1, 17), L"FULE Operation         = Supported");
}

TEST(SdStatus, SpeedUnitSize) {
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(16), 8);
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(27), 9);
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(7), 7);
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(11), 8);
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(0), 10);
  EXPECT_EQ(CSdStatus::Get_SU_Size_By_AU_Size(40), 10);
}

TEST(SdStatus, SettersKeepTheirNeighbours) {
  std::mt19937 rng(9);
  Image noise{};
  for (auto &b : noise)
    b = static_cast<unsigned char>(rng());
  struct Case {
    RegisterField field;
    void (*set)(CSdStatus &, uint32_t);
    RegisterField cleared; // reserved bits the setter clears as well (width 0: none)
  };
  const RegisterField none{"", 0, 0};
  const Case cases[] = {
      {SdStatusField::SIZE_OF_PROTECTED_AREA,
       [](CSdStatus &s, uint32_t v) { s.SetProtectedAreaSize(v); }, none},
      {SdStatusField::SPEED_CLASS,
       [](CSdStatus &s, uint32_t v) { s.SetSpeedClass(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::PERFORMANCE_MOVE,
       [](CSdStatus &s, uint32_t v) { s.SetPerformanceMove(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::AU_SIZE,
       [](CSdStatus &s, uint32_t v) { s.Set_AU_Size(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::ERASE_SIZE,
       [](CSdStatus &s, uint32_t v) { s.SetEraseSize(static_cast<unsigned short>(v)); }, none},
      {SdStatusField::ERASE_TIMEOUT,
       [](CSdStatus &s, uint32_t v) { s.SetEraseTimeout(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::ERASE_OFFSET,
       [](CSdStatus &s, uint32_t v) { s.SetEraseOffset(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::UHS_SPEED_GRADE,
       [](CSdStatus &s, uint32_t v) { s.Set_UHS_SpeedGrade(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::UHS_AU_SIZE,
       [](CSdStatus &s, uint32_t v) { s.Set_UHS_AU_Size(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::VIDEO_SPEED_CLASS,
       [](CSdStatus &s, uint32_t v) { s.SetVideoSpeedClass(static_cast<unsigned char>(v)); }, none},
      {SdStatusField::VSC_AU_SIZE,
       [](CSdStatus &s, uint32_t v) { s.Set_VSC_AU_Size(static_cast<unsigned short>(v)); },
       SdStatusField::RESERVED_383_378},
      {SdStatusField::SUS_ADDR, [](CSdStatus &s, uint32_t v) { s.SetSuspentionAddress(v); },
       SdStatusField::RESERVED_345_344},
      {SdStatusField::APP_PERF_CLASS,
       [](CSdStatus &s, uint32_t v) { s.SetAppPerformanceClass(static_cast<unsigned char>(v)); },
       SdStatusField::RESERVED_343_340},
      {SdStatusField::DISCARD_SUPPORT,
       [](CSdStatus &s, uint32_t v) { s.Set_Discard_Support(static_cast<unsigned char>(v)); },
       SdStatusField::RESERVED_319_314},
      {SdStatusField::FULE_SUPPORT,
       [](CSdStatus &s, uint32_t v) { s.Set_FULE_Support(static_cast<unsigned char>(v)); },
       SdStatusField::RESERVED_319_314},
  };
  for (const Case &c : cases)
    for (uint32_t value : ValuesOf(c.field)) {
      CSdStatus s(true, false, noise.data());
      c.set(s, value);
      Image expected = noise;
      WriteField(expected.data(), 64, c.field, value);
      if (c.cleared.high != 0)
        WriteField(expected.data(), 64, c.cleared, 0);
      Image got{};
      s.GetContent(got.data(), 64);
      ASSERT_EQ(got, expected) << c.field.name << " = " << value;
    }
  // The byte-level examples: discard and FULE share byte 24.
  Image image{};
  image[24] = 0x03;
  CSdStatus a(true, true, image.data());
  a.Set_Discard_Support(0);
  a.GetContent(image.data(), 64);
  EXPECT_EQ(image[24], 0x01);
  image[24] = 0x02;
  CSdStatus b(true, true, image.data());
  b.Set_FULE_Support(1);
  b.GetContent(image.data(), 64);
  EXPECT_EQ(image[24], 0x03);
}

TEST(SdStatus, EveryFieldValueBuilds) {
  for (const RegisterField &field : SdStatusField::All)
    for (uint32_t value : ValuesOf(field))
      for (bool extended : {false, true}) {
        Image image = UhsCard();
        WriteField(image.data(), 64, field, value);
        bool terminated = false;
        const auto lines =
            Lines(CSdStatus(extended, value % 2 == 0, image.data()).Parse(2), &terminated);
        ASSERT_TRUE(terminated);
        ASSERT_EQ(lines.size(), extended ? 24u : 18u) << field.name << " = " << value;
      }
}

TEST(SwitchStatus, Report) {
  Image image{};
  image[0] = 0x00;
  image[1] = 0xC8; // 200 mA
  image[12] = 0x80;
  image[13] = 0x03; // group 1 supports 0, 1 and 15
  image[3] = 0x01;  // group 6 supports 0
  image[14] = 0x21; // group 6 selects 2, group 5 selects 1
  image[16] = 0x0F; // group 1 selects 15
  CSwitchStatus status(image.data());
  EXPECT_EQ(status.GetMaxCurrent(), 200u);
  EXPECT_EQ(status.GetGroupSupport(1), 0x8003u);
  EXPECT_EQ(status.GetGroupSelection(6), 2u);
  EXPECT_EQ(status.GetGroupSelection(0), 0u);
  EXPECT_EQ(status.Parse(0), L"Switch Function Status\r\n"
                             L"Maximum current consumption = 200 mA\r\n"
                             L"Function group 6 support    = 0 \r\n"
                             L"Function group 5 support    = None\r\n"
                             L"Function group 4 support    = None\r\n"
                             L"Function group 3 support    = None\r\n"
                             L"Function group 2 support    = None\r\n"
                             L"Function group 1 support    = 0 1 15 \r\n"
                             L"Function set of group 6     = 2\r\n"
                             L"Function set of group 5     = 1\r\n"
                             L"Function set of group 4     = 0\r\n"
                             L"Function set of group 3     = 0\r\n"
                             L"Function set of group 2     = 0\r\n"
                             L"Function set of group 1     = 15\r\n");
  image[1] = 0;
  EXPECT_THAT(Lines(CSwitchStatus(image.data()).Parse(0)),
              Contains(L"Maximum current consumption = Error"));
}

TEST(SwitchStatus, GroupsMatchTheirBytes) {
  std::mt19937 rng(10);
  for (int round = 0; round < 200; ++round) {
    Image image{};
    for (auto &b : image)
      b = static_cast<unsigned char>(rng());
    CSwitchStatus status(image.data());
    EXPECT_EQ(status.GetMaxCurrent(), (image[0] << 8u) | image[1]);
    for (unsigned int g = 1; g <= 6; ++g) {
      const unsigned int at = 2 * (7 - g);
      EXPECT_EQ(status.GetGroupSupport(g), (image[at] << 8u) | image[at + 1]);
      const unsigned char byte = image[14 + (6 - g) / 2];
      EXPECT_EQ(status.GetGroupSelection(g), (g % 2 == 0) ? byte >> 4 : byte & 15u);
    }
    ASSERT_EQ(Lines(status.Parse(1)).size(), 14u);
  }
}

} // namespace
