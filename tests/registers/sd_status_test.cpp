#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

#include <random>
#include <sstream>

#include "register_images.h"
#include "registers/sd_status.h"
#include "registers/switch_status.h"

using ::testing::Contains;
namespace F = SdStatusField;

namespace {

using Image = std::array<unsigned char, 64>;

Image Status(FieldValues fields) { return ImageWith<64>(fields); }

Image ContentOf(CSdStatus &s) {
  Image out{};
  s.GetContent(out.data(), 64);
  return out;
}

// Line n of the report after the header and the four dump lines.
std::wstring FieldLine(const Image &image, size_t n) {
  return Lines(CSdStatus(true, true, image.data()).Parse(0))[6 + n];
}

// A UHS-I card: 4 bit bus, class 10, U1, A1, 4 MB AU.
const Image kUhsCard = Status({{F::DAT_BUS_WIDTH, 2},
                               {F::SIZE_OF_PROTECTED_AREA, 0x05000000},
                               {F::SPEED_CLASS, 4},
                               {F::PERFORMANCE_MOVE, 20},
                               {F::AU_SIZE, 9},
                               {F::ERASE_SIZE, 0x0100},
                               {F::ERASE_TIMEOUT, 10},
                               {F::ERASE_OFFSET, 1},
                               {F::UHS_SPEED_GRADE, 1},
                               {F::UHS_AU_SIZE, 9},
                               {F::VIDEO_SPEED_CLASS, 10},
                               {F::VSC_AU_SIZE, 4},
                               {F::APP_PERF_CLASS, 1},
                               {F::DISCARD_SUPPORT, 1}});

TEST(SdStatus, WholeReport) {
  CSdStatus status(true, true, kUhsCard.data());
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
  const auto shortReport = Lines(CSdStatus(false, false, kUhsCard.data()).Parse(0));
  EXPECT_EQ(shortReport.size(), 18u);
  EXPECT_EQ(shortReport[9], L"Size of Protected Area = 83886080 * (MULT * BLOCK_LEN)");
  EXPECT_EQ(shortReport.back(), L"UHS AU Size            = 4 MB");
  // The content copies out at most the 64 bytes, and no more than asked for.
  unsigned char out[80] = {}, small[3] = {};
  status.GetContent(out, 80);
  EXPECT_TRUE(std::equal(kUhsCard.begin(), kUhsCard.end(), out));
  EXPECT_EQ(out[64], 0);
  status.GetContent(small, 3);
  EXPECT_EQ(small[0], 0x80);
}

// The AU size texts, and the erase size: its bracket gives ERASE_SIZE times the
// AU size in bytes, for every AU size.
TEST(SdStatus, AuSizesAndEraseSize) {
  const std::pair<const wchar_t *, uint64_t> aus[] = {
      {L"Not Defined", 0}, {L"16 KB", 16},    {L"32 KB", 32},    {L"64 KB", 64},
      {L"128 KB", 128},    {L"256 KB", 256},  {L"512 KB", 512},  {L"1 MB", 1024},
      {L"2 MB", 2048},     {L"4 MB", 4096},   {L"8 MB", 8192},   {L"12 MB", 12288},
      {L"16 MB", 16384},   {L"24 MB", 24576}, {L"32 MB", 32768}, {L"64 MB", 65536}};
  for (uint32_t code = 0; code < 16; ++code) {
    const auto &[text, kib] = aus[code];
    EXPECT_EQ(FieldLine(Status({{F::AU_SIZE, code}}), 6),
              L"AU Size                = " + std::wstring(text));
    EXPECT_EQ(FieldLine(Status({{F::UHS_AU_SIZE, code}}), 11),
              L"UHS AU Size            = " + std::wstring(text));
    for (uint32_t size : {1u, 0x100u, 0xFFFFu}) {
      std::wostringstream hex;
      hex << std::hex << size * kib * 1024;
      EXPECT_EQ(FieldLine(Status({{F::AU_SIZE, code}, {F::ERASE_SIZE, size}}), 7),
                L"Erase Size             = " + std::to_wstring(size) + L" AU (0x" + hex.str() +
                    L")")
          << code;
    }
  }
  EXPECT_EQ(FieldLine(Status({{F::ERASE_SIZE, 0xFFFF}, {F::AU_SIZE, 15}}), 7),
            L"Erase Size             = 65535 AU (0x3fffc000000)");
  EXPECT_EQ(FieldLine(Status({{F::AU_SIZE, 9}}), 7), L"Erase Size             = Not Defined");
}

TEST(SdStatus, CodedLines) {
  const std::tuple<RegisterField, uint32_t, size_t, const wchar_t *> cases[] = {
      {F::DAT_BUS_WIDTH, 0, 0, L"Current DAT Bus Width  = 1 bit(DAT0)"},
      {F::DAT_BUS_WIDTH, 3, 0, L"Current DAT Bus Width  = 3(reserved)"},
      {F::SECURED_MODE, 1, 1, L"Secured Mode           = In Secured Mode"},
      {F::SD_CARD_TYPE, 1, 2, L"SD Card Type           = SD ROM Card"},
      {F::SD_CARD_TYPE, 0x102, 2, L"SD Card Type           = 258(reserved)"},
      {F::SPEED_CLASS, 0, 4, L"Speed Class            = Class 0"},
      {F::SPEED_CLASS, 3, 4, L"Speed Class            = Class 6"},
      {F::SPEED_CLASS, 5, 4, L"Speed Class            = 5 (Reserved)"},
      {F::PERFORMANCE_MOVE, 0, 5, L"Performance Move       = Not Defined"},
      {F::PERFORMANCE_MOVE, 255, 5, L"Performance Move       = Infinity"},
      {F::ERASE_TIMEOUT, 0, 8, L"Erase Timeout          = Not Defined"},
      {F::ERASE_OFFSET, 3, 9, L"Erase Offset           = 3 sec"},
      {F::UHS_SPEED_GRADE, 0, 10, L"UHS Speed Grade        = Less than 10MB/sec"},
      {F::UHS_SPEED_GRADE, 2, 10, L"UHS Speed Grade        = Reserved"},
      {F::UHS_SPEED_GRADE, 3, 10, L"UHS Speed Grade        = 30MB/sec and above"},
      {F::UHS_SPEED_GRADE, 15, 10, L"UHS Speed Grade        = Reserved"},
      {F::VIDEO_SPEED_CLASS, 90, 12, L"Video Speed Class      = 90"},
      {F::VIDEO_SPEED_CLASS, 91, 12, L"Video Speed Class      = Others"},
      {F::VSC_AU_SIZE, 27, 13, L"VSC AU SIZE            = 27 MB, SU Size = 9 MB"},
      {F::VSC_AU_SIZE, 7, 13, L"VSC AU SIZE            = 7 MB, SU Size = 7 MB"},
      {F::VSC_AU_SIZE, 40, 13, L"VSC AU SIZE            = 40 MB, SU Size = 10 MB"},
      {F::SUS_ADDR, 0x3FFFFF, 14, L"Suspention Address     = 4194303 (512KB)"},
      {F::APP_PERF_CLASS, 0, 15, L"App. Performance Class = Not Supported"},
      {F::APP_PERF_CLASS, 2, 15, L"App. Performance Class = Invalid Value"},
      {F::FULE_SUPPORT, 1, 17, L"FULE Operation         = Supported"},
  };
  for (const auto &[field, value, n, text] : cases)
    EXPECT_EQ(FieldLine(Status({{field, value}}), n), text) << field.name << " = " << value;
}

TEST(SdStatus, SettersKeepTheirNeighbours) {
  std::mt19937 rng(9);
  Image noise{};
  for (auto &b : noise)
    b = static_cast<unsigned char>(rng());
  const RegisterField none{"", 0, 0};
  // The field, its setter, and the reserved bits the setter clears as well, if any.
#define SETTER(field, call, cleared)                                                               \
  std::tuple<RegisterField, void (*)(CSdStatus &, uint32_t), RegisterField> {                      \
    F::field, [](CSdStatus &s, uint32_t v) { s.call(v); }, cleared                                 \
  }
  const std::tuple<RegisterField, void (*)(CSdStatus &, uint32_t), RegisterField> cases[] = {
      SETTER(SIZE_OF_PROTECTED_AREA, SetProtectedAreaSize, none),
      SETTER(SPEED_CLASS, SetSpeedClass, none),
      SETTER(PERFORMANCE_MOVE, SetPerformanceMove, none),
      SETTER(AU_SIZE, Set_AU_Size, none),
      SETTER(ERASE_SIZE, SetEraseSize, none),
      SETTER(ERASE_TIMEOUT, SetEraseTimeout, none),
      SETTER(ERASE_OFFSET, SetEraseOffset, none),
      SETTER(UHS_SPEED_GRADE, Set_UHS_SpeedGrade, none),
      SETTER(UHS_AU_SIZE, Set_UHS_AU_Size, none),
      SETTER(VIDEO_SPEED_CLASS, SetVideoSpeedClass, none),
      SETTER(VSC_AU_SIZE, Set_VSC_AU_Size, F::RESERVED_383_378),
      SETTER(SUS_ADDR, SetSuspentionAddress, F::RESERVED_345_344),
      SETTER(APP_PERF_CLASS, SetAppPerformanceClass, F::RESERVED_343_340),
      SETTER(DISCARD_SUPPORT, Set_Discard_Support, F::RESERVED_319_314),
      SETTER(FULE_SUPPORT, Set_FULE_Support, F::RESERVED_319_314),
  };
#undef SETTER
  for (const auto &[field, set, cleared] : cases)
    for (uint32_t value : ValuesOf(field)) {
      CSdStatus s(true, false, noise.data());
      set(s, value);
      Image expected = noise;
      WriteField(expected.data(), 64, field, value);
      if (cleared.high != 0)
        WriteField(expected.data(), 64, cleared, 0);
      ASSERT_EQ(ContentOf(s), expected) << field.name << " = " << value;
    }
}

TEST(SdStatus, EveryFieldValueBuilds) {
  for (bool extended : {false, true})
    CheckEveryFieldValue(
        kUhsCard, F::All,
        [extended](const unsigned char *p) { return CSdStatus(extended, extended, p).Parse(1); },
        [extended](const unsigned char *) { return extended ? 24 : 18; });
}

TEST(SwitchStatus, Report) {
  Image image{};
  image[1] = 0xC8; // 200 mA
  image[12] = 0x80;
  image[13] = 0x03; // group 1 supports 0, 1 and 15
  image[3] = 0x01;  // group 6 supports 0
  image[14] = 0x21; // group 6 selects 2, group 5 selects 1
  image[16] = 0x0F; // group 1 selects 15
  CSwitchStatus status(image.data());
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
    for (unsigned int g = 0; g <= 7; ++g) {
      const bool valid = g >= 1 && g <= 6;
      const unsigned int at = 2 * (7 - g);
      const unsigned char byte = valid ? image[14 + (6 - g) / 2] : 0;
      EXPECT_EQ(status.GetGroupSupport(g), valid ? (image[at] << 8u) | image[at + 1] : 0u);
      EXPECT_EQ(status.GetGroupSelection(g), valid ? (g % 2 == 0 ? byte >> 4 : byte & 15u) : 0u);
    }
    ASSERT_EQ(Lines(status.Parse(1)).size(), 14u);
  }
}

} // namespace
