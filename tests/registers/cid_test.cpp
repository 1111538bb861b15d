#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "register_images.h"
#include "registers/cid.h"
#include "registers/crc.h"

using ::testing::ElementsAre;

namespace {

using Image = std::array<unsigned char, 16>;

Image ToImage(CCID &cid) {
  Image out{};
  cid.ToBuffer(out.data());
  return out;
}

TEST(CidRealCards, Sn512) {
  auto cid = CCID::Create(false, kSn512Cid.data());
  ASSERT_NE(dynamic_cast<CSdCID *>(cid.get()), nullptr);
  EXPECT_EQ(cid->GetMID(), 0x03u);
  EXPECT_EQ(cid->GetOID(), 0x5344u);
  EXPECT_EQ(cid->GetProductName(), "SN512");
  EXPECT_EQ(cid->GetProductRevision(), 0x80u);
  EXPECT_EQ(cid->GetSerialNumber(), 0xfff7b17bu);
  EXPECT_EQ(cid->GetYear(), 2021u);
  EXPECT_EQ(cid->GetMonth(), 7u);
  EXPECT_EQ(cid->GetCRC7(), 0x00u); // the card sent no CRC
  EXPECT_EQ(cid->Parse(2), L"  Manufacturer ID       = 0x03\r\n"
                           L"  OEM/Application ID    = 0x5344\r\n"
                           L"  Product Name          = SN512\r\n"
                           L"  Product Revision      = 8.0\r\n"
                           L"  Product Serial Number = 0xfff7b17b\r\n"
                           L"  Manufacturing Date    = July 2021\r\n"
                           L"  CRC7 Checksum         = 0x00\r\n");
  // Rebuilding gives the same fields and a real CRC in place of the 00.
  Image rebuilt = ToImage(*cid);
  EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.begin() + 15, kSn512Cid.begin()));
  EXPECT_EQ(rebuilt[15], CCRC7().Generate(kSn512Cid.data(), 15));
  EXPECT_EQ(rebuilt[15] & 1u, 1u);
}

TEST(CidRealCards, Sd16gRebuildsByteForByte) {
  auto cid = CCID::Create(false, kSd16gCid.data());
  EXPECT_EQ(cid->GetMID(), 0x27u);
  EXPECT_EQ(cid->GetOID(), 0x5048u);
  EXPECT_EQ(cid->GetProductName(), "SD16G");
  EXPECT_EQ(cid->GetProductRevision(), 0x30u);
  EXPECT_EQ(cid->GetSerialNumber(), 0xda89b829u);
  EXPECT_EQ(cid->GetYear(), 2015u);
  EXPECT_EQ(cid->GetMonth(), 11u);
  EXPECT_EQ(cid->GetCRC7(), 0x61u);
  // This card sent its CRC: the rebuilt image, CRC included, is the card's.
  EXPECT_EQ(ToImage(*cid), kSd16gCid);
  const auto lines = Lines(cid->Parse(0));
  EXPECT_EQ(lines[3], L"Product Revision      = 3.0");
  EXPECT_EQ(lines[5], L"Manufacturing Date    = November 2015");
  EXPECT_EQ(lines[6], L"CRC7 Checksum         = 0x61");
}

TEST(CidSd, DateDecoding) {
  Image image = kSd16gCid;
  image[13] = 0x00;
  image[14] = 0xF3;
  CSdCID march(image.data());
  EXPECT_EQ(march.GetYear(), 2015u);
  EXPECT_EQ(march.GetMonth(), 3u);
  EXPECT_EQ(Lines(march.Parse(0))[5], L"Manufacturing Date    = March 2015");
  // The reserved bits above the year count as high bits of the offset.
  image[13] = 0x10;
  image[14] = 0x01;
  CSdCID reserved(image.data());
  EXPECT_EQ(reserved.GetYear(), 2256u);
  EXPECT_EQ(reserved.GetMonth(), 1u);
  // ... and are written back as zero.
  EXPECT_EQ(ToImage(reserved)[13], 0x00);
}

TEST(CidSd, NameKeepsZeroBytes) {
  Image image = kSd16gCid;
  image[3] = 'A';
  image[4] = 'B';
  image[5] = image[6] = image[7] = 0;
  CSdCID cid(image.data());
  EXPECT_EQ(cid.GetProductName(), std::string("AB\0\0\0", 5));
  EXPECT_EQ(Lines(cid.Parse(0))[2], L"Product Name          = AB");
}

TEST(CidMmc, NameKeepsPrintableAsciiOnly) {
  Image image{};
  const unsigned char name[6] = {'M', 0x00, ' ', 0x7F, 0xC8, 'C'};
  std::copy(name, name + 6, image.begin() + 3);
  auto cid = CCID::Create(true, image.data());
  ASSERT_NE(dynamic_cast<CMmcCID *>(cid.get()), nullptr);
  EXPECT_EQ(cid->GetProductName(), "M C");
}

TEST(CidMmc, Fields) {
  const Image image = {0x15, 0x01, 0x00, 'M',  'M',  'C',  '3',  '2',
                       'G',  0x21, 0x12, 0x34, 0x56, 0x78, 0x9F, 0x00};
  CMmcCID cid(image.data());
  EXPECT_EQ(cid.GetMID(), 0x15u);
  EXPECT_EQ(cid.GetOID(), 0x0100u);
  EXPECT_EQ(cid.GetProductName(), "MMC32G");
  EXPECT_EQ(cid.GetProductRevision(), 0x21u);
  EXPECT_EQ(cid.GetSerialNumber(), 0x12345678u);
  EXPECT_EQ(cid.GetMonth(), 9u);
  EXPECT_EQ(cid.GetYear(), 2012u);
  const Image rebuilt = ToImage(cid);
  EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.begin() + 15, image.begin()));
  EXPECT_EQ(rebuilt[14], 0x9F);
  EXPECT_EQ(rebuilt[15], CCRC7().Generate(image.data(), 15));
}

TEST(CidReport, MonthNames) {
  const wchar_t *const names[] = {L"January",   L"Feburary", L"March",    L"April",
                                  L"May",       L"June",     L"July",     L"August",
                                  L"September", L"Octobor",  L"November", L"December"};
  CSdCID cid;
  cid.SetYear(2015);
  for (unsigned int month = 0; month <= 15; ++month) {
    cid.SetMonth(month);
    const std::wstring expected = month >= 1 && month <= 12 ? std::wstring(names[month - 1])
                                                            : L"month = " + std::to_wstring(month);
    EXPECT_EQ(Lines(cid.Parse(0))[5], L"Manufacturing Date    = " + expected + L" 2015") << month;
  }
}

TEST(CidSetters, RoundTripThroughTheImage) {
  std::mt19937 rng(5);
  for (int i = 0; i < 500; ++i) {
    const bool mmc = i % 2 == 1;
    auto cid = CCID::Create(mmc);
    const unsigned int mid = rng() & 0xFF, oid = rng() & 0xFFFF, prv = rng() & 0xFF;
    const unsigned int psn = rng(), month = 1 + rng() % 12;
    const unsigned int year = mmc ? 1997 + rng() % 16 : 2000 + rng() % 256;
    std::string name;
    for (unsigned int k = 0; k < (mmc ? 6u : 5u); ++k)
      name += static_cast<char>('A' + rng() % 26);
    cid->SetMID(mid);
    cid->SetOID(oid);
    cid->SetProductName(name);
    cid->SetProductRevision(prv);
    cid->SetSerialNumber(psn);
    cid->SetYear(year);
    cid->SetMonth(month);
    EXPECT_EQ(cid->GetCRC7(), 0u); // setters leave the stored CRC alone
    const Image image = ToImage(*cid);
    EXPECT_EQ(image[15], CCRC7().Generate(image.data(), 15));
    auto back = CCID::Create(mmc, image.data());
    EXPECT_EQ(back->GetMID(), mid);
    EXPECT_EQ(back->GetOID(), oid);
    EXPECT_EQ(back->GetProductName(), name);
    EXPECT_EQ(back->GetProductRevision(), prv);
    EXPECT_EQ(back->GetSerialNumber(), psn);
    EXPECT_EQ(back->GetYear(), year);
    EXPECT_EQ(back->GetMonth(), month);
    EXPECT_EQ(back->GetCRC7(), image[15]);
  }
}

TEST(CidSetters, ShortAndLongNames) {
  CSdCID sd;
  sd.SetProductName("AB");
  Image image = ToImage(sd);
  EXPECT_THAT(std::vector<unsigned char>(image.begin() + 3, image.begin() + 8),
              ElementsAre('A', 'B', 0, 0, 0));
  CMmcCID mmc;
  mmc.SetProductName("ABCDEFGH");
  image = ToImage(mmc);
  EXPECT_THAT(std::vector<unsigned char>(image.begin() + 3, image.begin() + 9),
              ElementsAre('A', 'B', 'C', 'D', 'E', 'F'));
  EXPECT_EQ(image[9], 0); // PRV
}

TEST(CidReport, EveryFieldValueBuilds) {
  auto run = [](bool mmc, const RegisterField *fields, size_t n) {
    for (size_t i = 0; i < n; ++i)
      for (uint32_t value : ValuesOf(fields[i])) {
        Image image = kSn512Cid;
        WriteField(image.data(), 16, fields[i], value);
        bool terminated = false;
        const auto lines = Lines(CCID::Create(mmc, image.data())->Parse(1), &terminated);
        ASSERT_TRUE(terminated);
        ASSERT_EQ(lines.size(), 7u) << fields[i].name << " = " << value;
      }
  };
  run(false, SdCidField::All, std::size(SdCidField::All));
  run(true, MmcCidField::All, std::size(MmcCidField::All));
}

} // namespace
