#include <gtest/gtest.h>
#include <memory>

#include <random>
#include <tuple>

#include "register_images.h"
#include "registers/cid.h"
#include "registers/crc.h"

namespace {

using Image = std::array<unsigned char, 16>;
// MID, OID, name, revision, serial number, year, month.
using Fields = std::tuple<unsigned, unsigned, std::string, unsigned, unsigned, unsigned, unsigned>;

Fields FieldsOf(CCID &c) {
  return {c.GetMID(),          c.GetOID(),  c.GetProductName(), c.GetProductRevision(),
          c.GetSerialNumber(), c.GetYear(), c.GetMonth()};
}

Image ToImage(CCID &cid) {
  Image out{};
  cid.ToBuffer(out.data());
  return out;
}

unsigned int Crc7Of(const Image &image) { return CCRC7().Generate(image.data(), 15); }

TEST(CidRealCards, Sn512) {
  std::unique_ptr<CCID> cid(CCID::Create(false, kSn512Cid.data()));
  ASSERT_NE(dynamic_cast<CSdCID *>(cid.get()), nullptr);
  EXPECT_EQ(FieldsOf(*cid), Fields(0x03, 0x5344, "SN512", 0x80, 0xfff7b17b, 2021, 7));
  EXPECT_EQ(cid->GetCRC7(), 0x00u); // the card sent no CRC
  EXPECT_EQ(cid->Parse(2), L"  Manufacturer ID       = 0x03\r\n"
                           L"  OEM/Application ID    = 0x5344\r\n"
                           L"  Product Name          = SN512\r\n"
                           L"  Product Revision      = 8.0\r\n"
                           L"  Product Serial Number = 0xfff7b17b\r\n"
                           L"  Manufacturing Date    = July 2021\r\n"
                           L"  CRC7 Checksum         = 0x00\r\n");
  // Rebuilding gives the same fields and a real CRC in place of the 00.
  Image expected = kSn512Cid;
  expected[15] = static_cast<unsigned char>(Crc7Of(kSn512Cid));
  EXPECT_EQ(ToImage(*cid), expected);
  EXPECT_EQ(expected[15] & 1u, 1u);
}

TEST(CidRealCards, Sd16gRebuildsByteForByte) {
  std::unique_ptr<CCID> cid(CCID::Create(false, kSd16gCid.data()));
  EXPECT_EQ(FieldsOf(*cid), Fields(0x27, 0x5048, "SD16G", 0x30, 0xda89b829, 2015, 11));
  EXPECT_EQ(cid->GetCRC7(), 0x61u);
  // This card sent its CRC: the recomputed one and the whole rebuilt image are the card's.
  EXPECT_EQ(Crc7Of(kSd16gCid), 0x61u);
  EXPECT_EQ(ToImage(*cid), kSd16gCid);
  const auto lines = Lines(cid->Parse(0));
  EXPECT_EQ(lines[3], L"Product Revision      = 3.0");
  EXPECT_EQ(lines[5], L"Manufacturing Date    = November 2015");
  EXPECT_EQ(lines[6], L"CRC7 Checksum         = 0x61");
}

TEST(CidSd, DateAndNameDecoding) {
  Image image = kSd16gCid;
  image[13] = 0x10; // reserved bits above the year count as high bits of the offset
  image[14] = 0x01;
  CSdCID reserved(image.data());
  EXPECT_EQ(reserved.GetYear(), 2256u);
  EXPECT_EQ(reserved.GetMonth(), 1u);
  EXPECT_EQ(ToImage(reserved)[13], 0x00); // ... and are written back as zero
  // Every name byte counts, zero bytes included.
  image[3] = 'A';
  image[4] = 'B';
  image[5] = image[6] = image[7] = 0;
  CSdCID named(image.data());
  EXPECT_EQ(named.GetProductName(), std::string("AB\0\0\0", 5));
  EXPECT_EQ(Lines(named.Parse(0))[2], L"Product Name          = AB");
}

TEST(CidMmc, FieldsAndPrintableName) {
  Image image = {0x15, 0x01, 0x00, 'M',  'M',  'C',  '3',  '2',
                 'G',  0x21, 0x12, 0x34, 0x56, 0x78, 0x9F, 0x00};
  std::unique_ptr<CCID> cid(CCID::Create(true, image.data()));
  ASSERT_NE(dynamic_cast<CMmcCID *>(cid.get()), nullptr);
  EXPECT_EQ(FieldsOf(*cid), Fields(0x15, 0x0100, "MMC32G", 0x21, 0x12345678, 2012, 9));
  Image expected = image;
  expected[15] = static_cast<unsigned char>(Crc7Of(image));
  EXPECT_EQ(ToImage(*cid), expected);
  // Only printable ASCII characters of the name are kept.
  const unsigned char name[6] = {'M', 0x00, ' ', 0x7F, 0xC8, 'C'};
  std::copy(name, name + 6, image.begin() + 3);
  EXPECT_EQ(CMmcCID(image.data()).GetProductName(), "M C");
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
    std::unique_ptr<CCID> cid(CCID::Create(mmc));
    std::string name;
    for (unsigned int k = 0; k < (mmc ? 6u : 5u); ++k)
      name += static_cast<char>('A' + rng() % 26);
    const Fields fields(rng() & 0xFF, rng() & 0xFFFF, name, rng() & 0xFF, rng(),
                        mmc ? 1997 + rng() % 16 : 2000 + rng() % 256, 1 + rng() % 12);
    cid->SetMID(std::get<0>(fields));
    cid->SetOID(std::get<1>(fields));
    cid->SetProductName(name);
    cid->SetProductRevision(std::get<3>(fields));
    cid->SetSerialNumber(std::get<4>(fields));
    cid->SetYear(std::get<5>(fields));
    cid->SetMonth(std::get<6>(fields));
    EXPECT_EQ(cid->GetCRC7(), 0u); // setters leave the stored CRC alone
    const Image image = ToImage(*cid);
    EXPECT_EQ(image[15], Crc7Of(image));
    std::unique_ptr<CCID> back(CCID::Create(mmc, image.data()));
    EXPECT_EQ(FieldsOf(*back), fields);
    EXPECT_EQ(back->GetCRC7(), image[15]);
  }
  // Short names are padded with zeros, long ones cut.
  CSdCID sd;
  sd.SetProductName("AB");
  EXPECT_EQ(Lines(CSdCID(ToImage(sd).data()).Parse(0))[2], L"Product Name          = AB");
  EXPECT_EQ(ToImage(sd)[5], 0);
  CMmcCID mmc;
  mmc.SetProductName("ABCDEFGH");
  const Image image = ToImage(mmc);
  EXPECT_EQ(std::string(image.begin() + 3, image.begin() + 10), std::string("ABCDEF\0", 7));
}

TEST(CidReport, EveryFieldValueBuilds) {
  auto seven = [](const unsigned char *) { return 7; };
  CheckEveryFieldValue(
      kSn512Cid, SdCidField::All, [](const unsigned char *p) { return CSdCID(p).Parse(1); }, seven);
  CheckEveryFieldValue(
      kSn512Cid, MmcCidField::All, [](const unsigned char *p) { return CMmcCID(p).Parse(1); },
      seven);
}

} // namespace
