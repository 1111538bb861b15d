#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "register_images.h"
#include "registers/crc.h"
#include "registers/csd.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using Image = std::array<unsigned char, 16>;

Image Csd(std::initializer_list<std::pair<RegisterField, uint32_t>> fields) {
  return ImageWith<16>(fields);
}

unsigned char Crc7Of(const unsigned char *image) {
  return static_cast<unsigned char>(CCRC7().Generate(image, 15));
}

std::wstring LineStarting(const std::wstring &report, const std::wstring &prefix) {
  for (const auto &line : Lines(report))
    if (line.compare(0, prefix.size(), prefix) == 0)
      return line;
  return L"<no line " + prefix + L">";
}

TEST(CsdRealCards, Sn512DecodesAsVersion20) {
  auto csd = CCSD::Create(false, kSn512Csd.data());
  auto *v20 = dynamic_cast<CSdCSDV20 *>(csd.get());
  ASSERT_NE(v20, nullptr);
  EXPECT_EQ(csd->GetCSDStructure(), 1u);
  EXPECT_EQ(csd->GetTAAC(), 0x0eu);
  EXPECT_EQ(csd->GetNSAC(), 0u);
  EXPECT_EQ(csd->GetTransferSpeed(), 0x32u);
  EXPECT_EQ(csd->GetCardCommandClass(), 0xdb7u);
  EXPECT_EQ(csd->GetMaxReadBlockLength(), 512u);
  EXPECT_FALSE(csd->GetPartialReadEn());
  EXPECT_FALSE(csd->GetDSRImplemented());
  EXPECT_EQ(v20->Get_C_SIZE(), 0x0ee5b7u);
  EXPECT_TRUE(v20->GetErasedBlockEn());
  EXPECT_EQ(v20->GetEraseSectorSize(), 127u);
  EXPECT_EQ(v20->GetWriteProtectGroupSize(), 0u);
  EXPECT_FALSE(csd->GetWriteProtectGroupEnabled());
  EXPECT_EQ(csd->GetWriteSpeedFactor(), 2u);
  EXPECT_EQ(csd->GetMaxWriteBlockLength(), 512u);
  EXPECT_TRUE(csd->GetCopyFlag());
  EXPECT_FALSE(csd->GetPermanentWriteProtection());
  EXPECT_FALSE(csd->GetTemporaryWriteProtection());
  EXPECT_EQ(csd->GetFileFormat(), 0u);
  EXPECT_EQ(csd->GetCapacity(), 511868665856ull);
  EXPECT_EQ(csd->GetErasedUnit(), 512u);
  EXPECT_EQ(csd->GetWriteProtectionUnit(), 512u);
  EXPECT_EQ(csd->GetMaxBlockLength(), 512u);
  EXPECT_EQ(csd->GetTotalErasedGroups(), 511868665856ull / 512);
  EXPECT_EQ(v20->GetProtectedAreaUnit(), 1u);
}

TEST(CsdRealCards, Sd16gCapacityAndCrc) {
  auto csd = CCSD::Create(false, kSd16gCsd.data());
  ASSERT_NE(dynamic_cast<CSdCSDV20 *>(csd.get()), nullptr);
  EXPECT_EQ(csd->GetCapacity(), 15523119104ull);
  EXPECT_EQ(csd->GetCRC7(), 0xebu);
  // The card sent its own CRC: recomputing it gives the same byte.
  EXPECT_EQ(Crc7Of(kSd16gCsd.data()), 0xeb);
  Image copy{};
  csd->UpdateCRC7();
  csd->ToBuffer(copy.data());
  EXPECT_EQ(copy, kSd16gCsd);
}

TEST(CsdRealCards, Sn512Report) {
  auto csd = CCSD::Create(false, kSn512Csd.data());
  const std::wstring expected =
      L"CSD Register Version 2.0\r\n"
      L"---------------------------------\r\n"
      L"40 0e 00 32 db 79 00 0e e5 b7 7f 80 0a 40 40 00 \r\n"
      L"CSD version No. 2.0\r\n"
      L"Data read access-time-1(1ms) = 1.0\r\n"
      L"Data read access-time-2 in CLK cycles(NSAC*100) = 0\r\n"
      L"Max data transfer rate(10Mbit/s) = 2.5\r\n"
      L"Card command class support :\r\n"
      L"Basic\r\n"
      L"class 1\r\n"
      L"Block Read\r\n"
      L"Block Write\r\n"
      L"Erase\r\n"
      L"Lock Card\r\n"
      L"Application Specific\r\n"
      L"Switch\r\n"
      L"class 11\r\n"
      L"Max. read data block length = 512\r\n"
      L"Partial blocks for read not allowed\r\n"
      L"Write block misalignment not allowed\r\n"
      L"Read block misalignment not allowed\r\n"
      L"DSR not implemented\r\n"
      L"Device size = 976311\r\n"
      L"Erase block enabled\r\n"
      L"Erase sector size = 128 write block(s)\r\n"
      L"Write protect group size = 1 erase groups\r\n"
      L"Write protect group disabled\r\n"
      L"Write speed factor = 2\r\n"
      L"Max. write data block length = 512 Bytes\r\n"
      L"Partial blocks for write not allowed\r\n"
      L"File format group = 0\r\n"
      L"Content has been copied\r\n"
      L"Card content not permanently write protected\r\n"
      L"Card content not temporarily write protected\r\n"
      L"File format = Hard disk-like file system with partitioon table\r\n"
      L"CRC7 = 0x00\r\n"
      L"Erase Unit = 0x200\r\n"
      L"Card capacity = 488156 MB = 476.71 GB\r\n"
      L"Block Number = 999743488 (0x3b96e000 ) (Block Length = 512)\r\n";
  EXPECT_EQ(csd->Parse(0), expected);
  // Indentation goes in front of every line.
  for (const auto &line : Lines(csd->Parse(3)))
    EXPECT_EQ(line.substr(0, 3), L"   ") << std::string(line.begin(), line.end());
}

TEST(CsdCreate, ChoosesTheLayout) {
  for (uint32_t structure = 0; structure < 4; ++structure) {
    const Image image = Csd({{CsdField::CSD_STRUCTURE, structure}, {CsdField::READ_BL_LEN, 9}});
    auto sd = CCSD::Create(false, image.data());
    EXPECT_EQ(dynamic_cast<CSdCSDV20 *>(sd.get()) != nullptr, structure == 1) << structure;
    EXPECT_NE(dynamic_cast<CSdCSD *>(sd.get()), nullptr);
    auto mmc = CCSD::Create(true, image.data());
    EXPECT_NE(dynamic_cast<CMmcCSD *>(mmc.get()), nullptr);
  }
  const Image two = Csd({{CsdField::CSD_STRUCTURE, 2}});
  EXPECT_THAT(Lines(CCSD::Create(false, two.data())->Parse(0)), Contains(L"CSD structure = 2"));
}

TEST(CsdVersion10, TwoGigabyteCard) {
  const Image image =
      Csd({{CsdField::C_SIZE, 4095}, {CsdField::C_SIZE_MULT, 7}, {CsdField::READ_BL_LEN, 10}});
  CSdCSD csd(image.data());
  EXPECT_EQ(csd.GetCapacity(), 2147483648ull);
  EXPECT_EQ(csd.GetMaxBlockLength(), 1024u);
  EXPECT_EQ(csd.GetProtectedAreaUnit(), 1024ull << 9);
  const std::wstring report = csd.Parse(0);
  EXPECT_EQ(LineStarting(report, L"Card capacity"),
            L"Card capacity = 2147483648( 0x80000000 ) Bytes = 2048 MB = 2.00 GB");
  EXPECT_EQ(LineStarting(report, L"Block Number"),
            L"Block Number = 4194304 (0x400000 ) (Block Length = 512)");
  EXPECT_EQ(LineStarting(report, L"CSD"), L"CSD Register");
  EXPECT_THAT(Lines(report), Contains(L"CSD version No. 1.0"));
}

TEST(CsdVersion10, OneGibibyteHasNoGigabyteFigure) {
  // (1023 + 1) << (7 + 2) blocks of 2048 bytes = 0x40000000.
  const Image image =
      Csd({{CsdField::C_SIZE, 1023}, {CsdField::C_SIZE_MULT, 7}, {CsdField::READ_BL_LEN, 11}});
  CSdCSD csd(image.data());
  ASSERT_EQ(csd.GetCapacity(), 0x40000000ull);
  EXPECT_EQ(LineStarting(csd.Parse(0), L"Card capacity"),
            L"Card capacity = 1073741824( 0x40000000 ) Bytes = 1024 MB");
}

TEST(CsdVersion20, CapacityLine) {
  const Image image = Csd(
      {{CsdField::CSD_STRUCTURE, 1}, {CsdField::READ_BL_LEN, 9}, {CsdField::C_SIZE_V20, 0x762F}});
  CSdCSDV20 csd(image.data());
  EXPECT_EQ(csd.GetCapacity(), 15862857728ull);
  EXPECT_EQ(LineStarting(csd.Parse(0), L"Card capacity"), L"Card capacity = 15128 MB = 14.77 GB");
  // Version 2.0 reports no currents and no multiplier.
  EXPECT_THAT(csd.Parse(0), Not(HasSubstr(L"current")));
  EXPECT_THAT(csd.Parse(0), Not(HasSubstr(L"multiplier")));
}

TEST(CsdReport, AccessTimeAndClasses) {
  const Image image = Csd({{CsdField::TAAC, 0x26}, {CsdField::CCC, 0x5B5}});
  const auto sdLines = Lines(CSdCSD(image.data()).Parse(0));
  EXPECT_THAT(sdLines, Contains(L"Data read access-time-1(1ms) = 1.5"));
  const std::vector<std::wstring> sdClasses(sdLines.begin() + 8, sdLines.begin() + 15);
  EXPECT_THAT(sdClasses, ElementsAre(L"Basic", L"Block Read", L"Block Write", L"Erase",
                                     L"Lock Card", L"Application Specific", L"Switch"));
  EXPECT_EQ(sdLines[15], L"Max. read data block length = 1");
  const auto mmcLines = Lines(CMmcCSD(image.data()).Parse(0));
  // The MMC report has its system specification line before the classes.
  EXPECT_EQ(mmcLines[4], L"System specification = Version 1.0 - 1.2");
  EXPECT_EQ(mmcLines[15], L"class 10");
}

TEST(CsdMmc, GeometryAndReportLines) {
  const Image image = Csd({{CsdField::SPEC_VERS, 4},
                           {CsdField::C_SIZE, 4095},
                           {CsdField::C_SIZE_MULT, 7},
                           {CsdField::READ_BL_LEN, 9},
                           {CsdField::ERASE_GRP_SIZE, 31},
                           {CsdField::ERASE_GRP_MULT, 31},
                           {CsdField::MMC_WP_GRP_SIZE, 3},
                           {CsdField::DEFAULT_ECC, 2},
                           {CsdField::CONTENT_PROT_APP, 1},
                           {CsdField::ECC, 1}});
  CMmcCSD csd(image.data());
  EXPECT_EQ(csd.GetCapacity(), 1073741824ull);
  EXPECT_EQ(csd.GetErasedUnit(), 32u * 32u * 512u);
  EXPECT_EQ(csd.GetWriteProtectionUnit(), 4u * 32u * 32u * 512u);
  EXPECT_EQ(csd.GetTotalErasedGroups(), 1073741824ull / (32 * 32 * 512));
  EXPECT_EQ(csd.GetTotalWpGroups(), 1073741824u / (4 * 32 * 32 * 512));
  const auto lines = Lines(csd.Parse(0));
  EXPECT_THAT(lines, Contains(L"System specification = Version 4.0"));
  EXPECT_THAT(lines, Contains(L"Erase group size = 32"));
  EXPECT_THAT(lines, Contains(L"Erase group size multiplier = 32"));
  EXPECT_THAT(lines, Contains(L"Write protect group size = 4"));
  EXPECT_THAT(lines, Contains(L"Manufacturer default ECC = 2"));
  EXPECT_THAT(lines, Contains(L"Content protection application = 1"));
  EXPECT_THAT(lines, Contains(L"ECC code = 1"));
  EXPECT_THAT(lines, Contains(L"Write Protected Unit = 0x200000"));
  EXPECT_THAT(lines, Contains(L"Card capacity = 1073741824(0x40000000 ) Bytes = 1024 MB"));
  EXPECT_THAT(lines, Contains(L"Block Number = 2097152(0x200000) (Block Length = 512)"));
  const Image reserved = Csd({{CsdField::SPEC_VERS, 5}});
  EXPECT_THAT(Lines(CMmcCSD(reserved.data()).Parse(0)),
              Contains(L"System specification = Reserved"));
}

TEST(CsdUnits, WriteProtectGroupsRoundUp) {
  // 1 MiB card (C_SIZE 511, MULT 0, 512-byte blocks) in groups of 3 sectors.
  const Image image = Csd({{CsdField::C_SIZE, 511},
                           {CsdField::C_SIZE_MULT, 0},
                           {CsdField::READ_BL_LEN, 9},
                           {CsdField::SECTOR_SIZE, 2},
                           {CsdField::WP_GRP_SIZE, 0}});
  CSdCSD csd(image.data());
  EXPECT_EQ(csd.GetCapacity(), 1048576ull);
  EXPECT_EQ(csd.GetErasedUnit(), 1536u);
  EXPECT_EQ(csd.GetTotalErasedGroups(), 1048576ull / 1536);
  EXPECT_EQ(csd.GetTotalWpGroups(), 1048576u / 1536 + 1);
  csd.SetCapacity(0);
  EXPECT_EQ(csd.GetTotalWpGroups(), 0u);
}

TEST(CsdUpdateDeviceSize, Version10TwoGigabytes) {
  Image image = kSd16gCsd;
  image[0] = 0x00; // version 1.0
  CSdCSD csd(image.data());
  csd.UpdateDeviceSize(2147483648ul);
  EXPECT_EQ(csd.Get_C_SIZE(), 4095u);
  EXPECT_EQ(csd.Get_C_SIZE_MULT(), 7u);
  EXPECT_EQ(csd.GetMaxReadBlockLength(), 1024u);
  EXPECT_EQ(csd.GetMaxWriteBlockLength(), 1024u);
  EXPECT_FALSE(csd.GetPartialWriteEn());
  EXPECT_EQ(csd.Data()[15], Crc7Of(csd.Data()));
  EXPECT_EQ(csd.GetCapacity(), 2147483648ull);
  // Decoding the new image gives the same capacity.
  EXPECT_EQ(CSdCSD(csd.Data()).GetCapacity(), 2147483648ull);
}

TEST(CsdUpdateDeviceSize, Version10AboveFourGigabytes) {
  CSdCSD csd(Csd({{CsdField::READ_BL_LEN, 9}}).data());
  csd.UpdateDeviceSize(0x100000000ul);
  EXPECT_EQ(csd.Get_C_SIZE(), 4094u);
  EXPECT_EQ(csd.Get_C_SIZE_MULT(), 7u);
  EXPECT_EQ(csd.GetMaxReadBlockLength(), 512u);
}

TEST(CsdUpdateDeviceSize, RoundTripsThroughTheImage) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const unsigned long bytes = (rng() % 0xFFFFFFFFul) + 16384;
    CSdCSD v10(kSd16gCsd.data());
    v10.UpdateDeviceSize(bytes);
    const uint64_t unit = static_cast<uint64_t>(v10.GetMaxReadBlockLength())
                          << (v10.Get_C_SIZE_MULT() + 2);
    EXPECT_LE(v10.GetCapacity(), bytes);
    EXPECT_LT(bytes - v10.GetCapacity(), unit) << bytes;
    EXPECT_EQ(CSdCSD(v10.Data()).GetCapacity(), v10.GetCapacity());

    const unsigned long big = (rng() % (1ul << 41)) + (1ul << 19);
    CSdCSDV20 v20(kSn512Csd.data());
    v20.UpdateDeviceSize(big);
    EXPECT_EQ(v20.GetCapacity(), big >> 19 << 19) << big;
    v20.UpdateCRC7();
    auto again = CCSD::Create(false, v20.Data());
    EXPECT_EQ(again->GetCapacity(), v20.GetCapacity());
    EXPECT_EQ(again->GetCRC7(), Crc7Of(v20.Data()));
  }
}

TEST(CsdUpdateDeviceSize, Version20KeepsTheOtherBits) {
  CSdCSDV20 csd(kSn512Csd.data());
  csd.UpdateDeviceSize(15523119104ul);
  Image out{};
  csd.ToBuffer(out.data());
  // Only the device size bytes change; the CRC byte is refreshed on request.
  Image expected = kSn512Csd;
  expected[7] = 0x00;
  expected[8] = 0x73;
  expected[9] = 0xa7;
  EXPECT_EQ(out, expected);
}

TEST(CsdUpdateDeviceSize, TooSmallLeavesEverythingAsItIs) {
  CSdCSDV20 v20(kSn512Csd.data());
  v20.UpdateDeviceSize(524287);
  EXPECT_EQ(0, std::memcmp(v20.Data(), kSn512Csd.data(), 16));
  EXPECT_EQ(v20.GetCapacity(), 511868665856ull);
  CSdCSD v10(Csd({{CsdField::C_SIZE, 7}, {CsdField::READ_BL_LEN, 9}}).data());
  const Image before = Csd({{CsdField::C_SIZE, 7}, {CsdField::READ_BL_LEN, 9}});
  v10.UpdateDeviceSize(16383);
  EXPECT_EQ(0, std::memcmp(v10.Data(), before.data(), 16));
  EXPECT_EQ(v10.GetCapacity(), 8ull * 4 * 512);
}

TEST(CsdUpdateDeviceSize, Version20ClampsToTheField) {
  CSdCSDV20 csd(kSn512Csd.data());
  csd.UpdateDeviceSize(1ul << 45);
  EXPECT_EQ(csd.Get_C_SIZE(), 0x3FFFFFu);
  EXPECT_EQ(csd.GetCapacity(), 1ull << 41);
  EXPECT_EQ(CSdCSDV20(csd.Data()).GetCapacity(), csd.GetCapacity());
}

TEST(CsdSetters, WriteOnlyTheirOwnBits) {
  struct Case {
    const char *name;
    RegisterField field;
    void (*set)(CCSD &, unsigned int);
  };
  const Case cases[] = {
      {"TAAC", CsdField::TAAC, [](CCSD &c, unsigned int v) { c.SetTAAC(v); }},
      {"NSAC", CsdField::NSAC, [](CCSD &c, unsigned int v) { c.SetNSAC(v); }},
      {"TRAN_SPEED", CsdField::TRAN_SPEED, [](CCSD &c, unsigned int v) { c.SetTransferSpeed(v); }},
      {"R_MIN", CsdField::VDD_R_CURR_MIN, [](CCSD &c, unsigned int v) { c.SetVDD_R_CURR_MIN(v); }},
      {"R_MAX", CsdField::VDD_R_CURR_MAX, [](CCSD &c, unsigned int v) { c.SetVDD_R_CURR_MAX(v); }},
      {"W_MIN", CsdField::VDD_W_CURR_MIN, [](CCSD &c, unsigned int v) { c.SetVDD_W_CURR_MIN(v); }},
      {"W_MAX", CsdField::VDD_W_CURR_MAX, [](CCSD &c, unsigned int v) { c.SetVDD_W_CURR_MAX(v); }},
      {"R2W", CsdField::R2W_FACTOR, [](CCSD &c, unsigned int v) { c.SetWriteSpeedFactor(v); }},
      {"PERM", CsdField::PERM_WRITE_PROTECT,
       [](CCSD &c, unsigned int v) { c.SetPermanentWriteProtection(v != 0); }},
      {"TMP", CsdField::TMP_WRITE_PROTECT,
       [](CCSD &c, unsigned int v) { c.SetTemporaryWriteProtection(v != 0); }},
  };
  std::mt19937 rng(11);
  for (const Case &c : cases) {
    for (int round = 0; round < 50; ++round) {
      Image image{};
      for (auto &b : image)
        b = static_cast<unsigned char>(rng());
      CSdCSD csd(image.data());
      const uint32_t value = rng() & c.field.Max();
      // Bits of the argument above the field are dropped.
      c.set(csd, value | (c.field.Width() > 1 && c.field.Width() < 8 ? 0xF00u : 0u));
      EXPECT_EQ(ReadField(csd.Data(), 16, c.field), value) << c.name;
      WriteField(image.data(), 16, c.field, value);
      EXPECT_EQ(0, std::memcmp(csd.Data(), image.data(), 16)) << c.name;
    }
  }
}

// Every report builds for every value of every field of its layout.
TEST(CsdReport, EveryFieldValueBuilds) {
  const Image base = kSn512Csd;
  // Fixed lines of each layout, plus one line per supported command class.
  auto run = [&](const RegisterField *fields, size_t n, size_t fixedLines, auto makeReport) {
    for (size_t i = 0; i < n; ++i) {
      for (uint32_t value : ValuesOf(fields[i])) {
        Image image = base;
        WriteField(image.data(), 16, fields[i], value);
        bool terminated = false;
        const auto lines = Lines(makeReport(image.data()), &terminated);
        ASSERT_TRUE(terminated) << fields[i].name << " = " << value;
        const size_t classes = __builtin_popcount(ReadField(image.data(), 16, CsdField::CCC));
        ASSERT_EQ(lines.size(), fixedLines + classes) << fields[i].name << " = " << value;
        for (const auto &line : lines)
          ASSERT_EQ(line.substr(0, 1), L" ") << fields[i].name << " = " << value;
      }
    }
  };
  run(CsdField::SdV10, std::size(CsdField::SdV10), 35,
      [](const unsigned char *p) { return CSdCSD(p).Parse(1); });
  run(CsdField::SdV20, std::size(CsdField::SdV20), 30,
      [](const unsigned char *p) { return CSdCSDV20(p).Parse(1); });
  run(CsdField::Mmc, std::size(CsdField::Mmc), 40,
      [](const unsigned char *p) { return CMmcCSD(p).Parse(1); });
}

TEST(CsdBase, ParseIsIndentationOnly) {
  CCSD base(kSn512Csd.data());
  EXPECT_EQ(base.Parse(4), L"    ");
  EXPECT_EQ(base.GetTotalErasedGroups(), 0u);
  EXPECT_EQ(base.GetTotalWpGroups(), 0u);
}

} // namespace
