#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "register_images.h"
#include "registers/ext_csd.h"

using ::testing::Contains;

namespace {

std::vector<unsigned char> Blank() { return std::vector<unsigned char>(512, 0); }

std::vector<std::wstring> ReportOf(std::vector<unsigned char> data) {
  return Lines(CExtCSD(data.data()).Parse(0));
}

// The report lines after the header and the 32 dump lines.
std::wstring FieldLine(std::vector<unsigned char> data, size_t n) { return ReportOf(data)[34 + n]; }

TEST(ExtCsd, AccessorsReadTheirBytes) {
  std::vector<unsigned char> data(512);
  for (unsigned int i = 0; i < 512; ++i)
    data[i] = static_cast<unsigned char>(i * 7 + 3);
  CExtCSD ext(data.data());
  EXPECT_EQ(ext.GetSupportedCmdSet(), data[504]);
  EXPECT_EQ(ext.GetSectorCount(), data[212] | data[213] << 8u | data[214] << 16u |
                                      static_cast<uint32_t>(data[215]) << 24u);
  EXPECT_EQ(ext.GetMinPerfW_8_52(), data[210]);
  EXPECT_EQ(ext.GetMinPerfR_8_52(), data[209]);
  EXPECT_EQ(ext.GetMinPerfW_8_26_4_52(), data[208]);
  EXPECT_EQ(ext.GetMinPerfR_8_26_4_52(), data[207]);
  EXPECT_EQ(ext.GetMinPerfW_4_26(), data[206]);
  EXPECT_EQ(ext.GetMinPerfR_4_26(), data[205]);
  EXPECT_EQ(ext.GetPowerClass_26_360(), data[203]);
  EXPECT_EQ(ext.GetPowerClass_52_360(), data[202]);
  EXPECT_EQ(ext.GetPowerClass_26_195(), data[201]);
  EXPECT_EQ(ext.GetPowerClass_52_195(), data[200]);
  EXPECT_EQ(ext.GetCardType(), data[196]);
  EXPECT_EQ(ext.GetCSDStructureVersion(), data[194]);
  EXPECT_EQ(ext.GetExtendedCSDRevision(), data[192]);
  EXPECT_EQ(ext.GetCmdSet(), data[191]);
  EXPECT_EQ(ext.GetCmdSetRevision(), data[189]);
  EXPECT_EQ(ext.GetPowerClass(), data[187]);
  EXPECT_EQ(ext.GetHighSpeedTiming(), data[185]);
  EXPECT_EQ(ext.GetBusWidth(), data[183]);
}

TEST(ExtCsd, Report) {
  auto data = Blank();
  data[212] = 0x00;
  data[213] = 0x00;
  data[214] = 0x00;
  data[215] = 0xE9;
  data[196] = 3;
  data[183] = 2;
  data[504] = 1;
  const auto lines = ReportOf(data);
  ASSERT_EQ(lines.size(), 34u + 20u);
  EXPECT_EQ(lines[0], L"Extended CSD Register");
  EXPECT_EQ(lines[1], L"---------------------------------");
  EXPECT_EQ(lines[2], L"0000 : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
  EXPECT_EQ(lines[33], L"01f0 : 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 ");
  EXPECT_EQ(lines[34], L"Supported Command Sets = 1");
  EXPECT_EQ(lines[35], L"Sector Count = 3909091328");
  EXPECT_EQ(lines[36], L"Min Write Performance for 8bit @52MHz = 0");
  EXPECT_EQ(lines[39], L"Min Read  Performance for 8bit @26MHz / 4bit @52MHz = 0");
  EXPECT_EQ(lines[45], L"Power Class for 52MHz @1.95V = 0");
  EXPECT_EQ(lines[46], L"Card Type                    = High Speed MultiMediaCard @ 26MHz/52MHz");
  EXPECT_EQ(lines[47], L"CSD Structure Version        = 1.0 - 1.2");
  EXPECT_EQ(lines[48], L"Extended CSD Revision        = 1.0");
  EXPECT_EQ(lines[53], L"Bus Width Mode               = 8 bit data bus");
  for (const auto &line : Lines(CExtCSD(data.data()).Parse(2)))
    ASSERT_EQ(line.substr(0, 2), L"  ");
}

TEST(ExtCsd, CodedLines) {
  auto line = [](unsigned int byte, unsigned char value, size_t n) {
    auto data = Blank();
    data[byte] = value;
    return FieldLine(data, n);
  };
  EXPECT_EQ(line(196, 0, 12), L"Card Type                    = 0");
  EXPECT_EQ(line(196, 1, 12), L"Card Type                    = High Speed MultiMediaCard @ 26MHz");
  EXPECT_EQ(line(196, 2, 12), L"Card Type                    = High Speed MultiMediaCard @ 52MHz");
  EXPECT_EQ(line(196, 7, 12), L"Card Type                    = 7");
  EXPECT_EQ(line(194, 1, 13), L"CSD Structure Version        = 1.4 - 2.2");
  EXPECT_EQ(line(194, 2, 13), L"CSD Structure Version        = 3.1 - 3.2 - 3.31");
  EXPECT_EQ(line(194, 3, 13), L"CSD Structure Version        = 4.0");
  EXPECT_EQ(line(194, 9, 13), L"CSD Structure Version        = 9");
  EXPECT_EQ(line(192, 5, 14), L"Extended CSD Revision        = 5");
  EXPECT_EQ(line(191, 4, 15), L"Command Set                  = 4");
  EXPECT_EQ(line(189, 6, 16), L"Command Set Revision         = 6");
  EXPECT_EQ(line(187, 8, 17), L"Power Class                  = 8");
  EXPECT_EQ(line(185, 1, 18), L"High Speed Interface Timing  = 1");
  EXPECT_EQ(line(183, 0, 19), L"Bus Width Mode               = 1 bit data bus");
  EXPECT_EQ(line(183, 1, 19), L"Bus Width Mode               = 4 bit data bus");
  EXPECT_EQ(line(183, 5, 19), L"Bus Width Mode               = 5");
}

TEST(ExtCsd, EveryFieldValueBuilds) {
  for (const ExtCsdField &field : ExtCsdFieldOf::All)
    for (unsigned int value = 0; value < 256; ++value) {
      auto data = Blank();
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
