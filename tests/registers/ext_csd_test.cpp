#include <gtest/gtest.h>

#include <vector>

#include "register_images.h"
#include "registers/ext_csd.h"

namespace {

using Data = std::vector<unsigned char>;

// The report lines after the header and the 32 dump lines.
std::vector<std::wstring> FieldLines(Data data) {
  const auto lines = Lines(CExtCSD(data.data()).Parse(0));
  return std::vector<std::wstring>(lines.begin() + 34, lines.end());
}

TEST(ExtCsd, Report) {
  // Every field holds a value of its own, so each line shows which byte it read.
  Data data(512, 0);
  const std::pair<unsigned int, unsigned char> bytes[] = {
      {504, 1},  {215, 0xE9}, {212, 0x01}, {210, 10}, {209, 11}, {208, 12}, {207, 13},
      {206, 14}, {205, 15},   {203, 20},   {202, 21}, {201, 22}, {200, 23}, {196, 3},
      {194, 2},  {192, 5},    {191, 6},    {189, 7},  {187, 8},  {185, 9},  {183, 2}};
  for (const auto &[at, value] : bytes)
    data[at] = value;
  const auto lines = Lines(CExtCSD(data.data()).Parse(0));
  ASSERT_EQ(lines.size(), 34u + 20u);
  EXPECT_EQ(lines[0], L"Extended CSD Register");
  EXPECT_EQ(lines[1], L"---------------------------------");
  EXPECT_EQ(lines[2], L"0000 : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
  EXPECT_EQ(lines[33], L"01f0 : 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 ");
  EXPECT_EQ(FieldLines(data),
            (std::vector<std::wstring>{
                L"Supported Command Sets = 1",
                L"Sector Count = 3909091329",
                L"Min Write Performance for 8bit @52MHz = 10",
                L"Min Read  Performance for 8bit @52MHz = 11",
                L"Min Write Performance for 8bit @26MHz / 4bit @52MHz = 12",
                L"Min Read  Performance for 8bit @26MHz / 4bit @52MHz = 13",
                L"Min Write Performance for 4bit @26MHz = 14",
                L"Min Read  Performance for 4bit @26MHz = 15",
                L"Power Class for 26MHz @3.6V  = 20",
                L"Power Class for 52MHz @3.6V  = 21",
                L"Power Class for 26MHz @1.95V = 22",
                L"Power Class for 52MHz @1.95V = 23",
                L"Card Type                    = High Speed MultiMediaCard @ 26MHz/52MHz",
                L"CSD Structure Version        = 3.1 - 3.2 - 3.31",
                L"Extended CSD Revision        = 5",
                L"Command Set                  = 6",
                L"Command Set Revision         = 7",
                L"Power Class                  = 8",
                L"High Speed Interface Timing  = 9",
                L"Bus Width Mode               = 8 bit data bus"}));
  EXPECT_EQ(CExtCSD(data.data()).GetSectorCount(), 0xE9000001u);
}

TEST(ExtCsd, CodedLines) {
  const std::tuple<unsigned int, unsigned char, const wchar_t *> cases[] = {
      {196, 0, L"Card Type                    = 0"},
      {196, 1, L"Card Type                    = High Speed MultiMediaCard @ 26MHz"},
      {196, 2, L"Card Type                    = High Speed MultiMediaCard @ 52MHz"},
      {196, 7, L"Card Type                    = 7"},
      {194, 0, L"CSD Structure Version        = 1.0 - 1.2"},
      {194, 1, L"CSD Structure Version        = 1.4 - 2.2"},
      {194, 3, L"CSD Structure Version        = 4.0"},
      {194, 9, L"CSD Structure Version        = 9"},
      {192, 0, L"Extended CSD Revision        = 1.0"},
      {183, 0, L"Bus Width Mode               = 1 bit data bus"},
      {183, 1, L"Bus Width Mode               = 4 bit data bus"},
      {183, 5, L"Bus Width Mode               = 5"},
  };
  for (const auto &[byte, value, text] : cases) {
    Data data(512, 0);
    data[byte] = value;
    // The card type, structure, revision and bus width lines.
    const size_t n = byte == 196 ? 12 : byte == 194 ? 13 : byte == 192 ? 14 : 19;
    EXPECT_EQ(FieldLines(data)[n], text) << byte << " = " << int(value);
  }
}

TEST(ExtCsd, EveryFieldValueBuilds) {
  for (const ExtCsdField &field : ExtCsdFieldOf::All)
    for (unsigned int value = 0; value < 256; ++value) {
      Data data(512, 0);
      for (unsigned int i = 0; i < field.bytes; ++i)
        data[field.offset + i] = static_cast<unsigned char>(value);
      CExtCSD ext(data.data());
      ASSERT_EQ(ext.Get(field) & 0xFFu, value) << field.name;
      bool terminated = false;
      ASSERT_EQ(Lines(ext.Parse(1), &terminated).size(), 54u) << field.name << " = " << value;
      ASSERT_TRUE(terminated);
    }
}

} // namespace
