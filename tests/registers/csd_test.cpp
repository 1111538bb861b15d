#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

#include <random>

#include "register_images.h"
#include "registers/crc.h"
#include "registers/csd.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using Image = std::array<unsigned char, 16>;

Image Csd(FieldValues fields) { return ImageWith<16>(fields); }

Image ImageOf(CCSD &csd) {
  Image out{};
  csd.ToBuffer(out.data());
  return out;
}

unsigned char Crc7Of(const unsigned char *image) {
  return static_cast<unsigned char>(CCRC7().Generate(image, 15));
}

TEST(CsdRealCards, Sn512) {
  std::unique_ptr<CCSD> csd(CCSD::Create(false, kSn512Csd.data()));
  auto *v20 = dynamic_cast<CSdCSDV20 *>(csd.get());
  ASSERT_NE(v20, nullptr);
  // Every field shows in the report below; these are the derived values.
  EXPECT_EQ(v20->Get_C_SIZE(), 0x0ee5b7u);
  EXPECT_EQ(csd->GetCardCommandClass(), 0xdb7u);
  EXPECT_EQ(csd->GetCapacity(), 511868665856ull);
  EXPECT_EQ(csd->GetErasedUnit(), 512u);
  EXPECT_EQ(csd->GetWriteProtectionUnit(), 512u);
  EXPECT_EQ(csd->GetMaxBlockLength(), 512u);
  EXPECT_EQ(csd->GetTotalErasedGroups(), 511868665856ull / 512);
  EXPECT_EQ(v20->GetProtectedAreaUnit(), 1u);
  EXPECT_EQ(csd->Parse(0), L"CSD Register Version 2.0\r\n"
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
                           L"Block Number = 999743488 (0x3b96e000 ) (Block Length = 512)\r\n");
}

TEST(CsdRealCards, Sd16gCapacityCrcAndReport) {
  std::unique_ptr<CCSD> csd(CCSD::Create(false, kSd16gCsd.data()));
  ASSERT_NE(dynamic_cast<CSdCSDV20 *>(csd.get()), nullptr);
  EXPECT_EQ(csd->GetCapacity(), 15523119104ull);
  EXPECT_EQ(csd->GetCRC7(), 0xebu);
  // The card sent its own CRC: recomputing it gives the same byte.
  EXPECT_EQ(Crc7Of(kSd16gCsd.data()), 0xeb);
  csd->UpdateCRC7();
  EXPECT_EQ(ImageOf(*csd), kSd16gCsd);
  const std::wstring report = csd->Parse(0);
  EXPECT_EQ(Lines(report).end()[-2], L"Card capacity = 14804 MB = 14.46 GB");
  // Version 2.0 reports no currents and no multiplier.
  EXPECT_THAT(report, Not(HasSubstr(L"current")));
  EXPECT_THAT(report, Not(HasSubstr(L"multiplier")));
}

TEST(CsdCreate, ChoosesTheLayout) {
  for (uint32_t structure = 0; structure < 4; ++structure) {
    const Image image = Csd({{CsdField::CSD_STRUCTURE, structure}, {CsdField::READ_BL_LEN, 9}});
    std::unique_ptr<CCSD> sd(CCSD::Create(false, image.data()));
    EXPECT_EQ(dynamic_cast<CSdCSDV20 *>(sd.get()) != nullptr, structure == 1) << structure;
    EXPECT_NE(dynamic_cast<CSdCSD *>(sd.get()), nullptr);
    EXPECT_NE(
        dynamic_cast<CMmcCSD *>(std::unique_ptr<CCSD>(CCSD::Create(true, image.data())).get()),
        nullptr);
    const std::wstring version = structure == 0 ? L"CSD version No. 1.0"
                                 : structure == 1
                                     ? L"CSD version No. 2.0"
                                     : L"CSD structure = " + std::to_wstring(structure);
    EXPECT_EQ(Lines(sd->Parse(0))[3], version);
  }
  CCSD base(kSn512Csd.data()); // the base class reports only the indentation
  EXPECT_EQ(base.Parse(4), L"    ");
}

TEST(CsdReport, AccessTimeAndClasses) {
  const Image image = Csd({{CsdField::TAAC, 0x26}, {CsdField::CCC, 0x5B5}});
  const auto sd = Lines(CSdCSD(image.data()).Parse(0));
  EXPECT_EQ(sd[4], L"Data read access-time-1(1ms) = 1.5");
  EXPECT_EQ(sd[14], L"Switch");
  EXPECT_EQ(sd[15], L"Max. read data block length = 1");
  // The MMC report has its SPEC_VERS line before the classes, and
  // class 10 has no name there.
  const auto mmc = Lines(CMmcCSD(image.data()).Parse(0));
  EXPECT_EQ(mmc[4], L"System specification = Version 1.0 - 1.2");
  EXPECT_EQ(mmc[15], L"class 10");
}

TEST(CsdMmc, GeometryAndReportLines) {
  CMmcCSD csd(Csd({{CsdField::SPEC_VERS, 4},
                   {CsdField::C_SIZE, 4095},
                   {CsdField::C_SIZE_MULT, 7},
                   {CsdField::READ_BL_LEN, 9},
                   {CsdField::ERASE_GRP_SIZE, 31},
                   {CsdField::ERASE_GRP_MULT, 31},
                   {CsdField::MMC_WP_GRP_SIZE, 3},
                   {CsdField::DEFAULT_ECC, 2},
                   {CsdField::CONTENT_PROT_APP, 1},
                   {CsdField::ECC, 1}})
                  .data());
  EXPECT_EQ(csd.GetCapacity(), 1073741824ull);
  EXPECT_EQ(csd.GetErasedUnit(), 32u * 32u * 512u);
  EXPECT_EQ(csd.GetWriteProtectionUnit(), 4u * 32u * 32u * 512u);
  EXPECT_EQ(csd.GetTotalErasedGroups(), 1073741824ull / (32 * 32 * 512));
  EXPECT_EQ(csd.GetTotalWpGroups(), 1073741824u / (4 * 32 * 32 * 512));
  const auto lines = Lines(csd.Parse(0));
  for (const wchar_t *line :
       {L"System specification = Version 4.0", L"Erase group size = 32",
        L"Erase group size multiplier = 32", L"Write protect group size = 4",
        L"Manufacturer default ECC = 2", L"Content protection application = 1", L"ECC code = 1",
        L"Write Protected Unit = 0x200000",
        L"Card capacity = 1073741824(0x40000000 ) Bytes = 1024 MB",
        L"Block Number = 2097152(0x200000) (Block Length = 512)"})
    EXPECT_THAT(lines, Contains(line));
  EXPECT_THAT(Lines(CMmcCSD(Csd({{CsdField::SPEC_VERS, 5}}).data()).Parse(0)),
              Contains(L"System specification = Reserved"));
}

TEST(CsdUnits, WriteProtectGroupsRoundUp) {
  // 1 MiB card (C_SIZE 511, MULT 0, 512-byte blocks) in groups of 3 sectors.
  CSdCSD csd(Csd({{CsdField::C_SIZE, 511},
                  {CsdField::READ_BL_LEN, 9},
                  {CsdField::SECTOR_SIZE, 2},
                  {CsdField::WP_GRP_SIZE, 0}})
                 .data());
  EXPECT_EQ(csd.GetCapacity(), 1048576ull);
  EXPECT_EQ(csd.GetErasedUnit(), 1536u);
  EXPECT_EQ(csd.GetTotalErasedGroups(), 1048576ull / 1536);
  EXPECT_EQ(csd.GetTotalWpGroups(), 1048576u / 1536 + 1);
  csd.SetCapacity(0);
  EXPECT_EQ(csd.GetTotalWpGroups(), 0u);
}

// Version 1.0 sizes are encoded, decoded and reported (4 GiB and more do not fit).
TEST(CsdUpdateDeviceSize, Version10EncodingsAndCapacityLines) {
  struct Case {
    unsigned long bytes;
    unsigned int cSize, blockLen;
    uint64_t capacity;
    const wchar_t *capacityLine, *blockLine;
  } const cases[] = {
      {1ul << 30, 4095, 512, 1ull << 30,
       L"Card capacity = 1073741824( 0x40000000 ) Bytes = 1024 MB",
       L"Block Number = 2097152 (0x200000 ) (Block Length = 512)"},
      {2ul << 30, 4095, 1024, 2ull << 30,
       L"Card capacity = 2147483648( 0x80000000 ) Bytes = 2048 MB = 2.00 GB",
       L"Block Number = 4194304 (0x400000 ) (Block Length = 512)"},
      {4ul << 30, 4094, 512, 0x3ffc0000,
       L"Card capacity = 1073479680( 0x3ffc0000 ) Bytes = 1023 MB",
       L"Block Number = 2096640 (0x1ffe00 ) (Block Length = 512)"},
  };
  for (const Case &c : cases) {
    Image image = kSd16gCsd;
    image[0] = 0x00; // version 1.0
    CSdCSD csd(image.data());
    csd.UpdateDeviceSize(c.bytes);
    EXPECT_EQ(csd.Get_C_SIZE(), c.cSize);
    EXPECT_EQ(csd.Get_C_SIZE_MULT(), 7u);
    EXPECT_EQ(csd.GetMaxReadBlockLength(), c.blockLen);
    EXPECT_EQ(csd.GetMaxWriteBlockLength(), c.blockLen);
    EXPECT_FALSE(csd.GetPartialWriteEn());
    EXPECT_EQ(csd.Data()[15], Crc7Of(csd.Data()));
    CSdCSD decoded(csd.Data());
    EXPECT_EQ(decoded.GetCapacity(), c.capacity);
    EXPECT_EQ(decoded.GetProtectedAreaUnit(), uint64_t{c.blockLen} << 9);
    const auto lines = Lines(decoded.Parse(0));
    EXPECT_EQ(lines[3], L"CSD version No. 1.0");
    EXPECT_EQ(lines.end()[-2], c.capacityLine);
    EXPECT_EQ(lines.back(), c.blockLine);
  }
}

TEST(CsdUpdateDeviceSize, RoundTripsThroughTheImage) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const unsigned long bytes = (rng() % 0xFFFFFFFFul) + 16384;
    CSdCSD v10(kSd16gCsd.data());
    v10.UpdateDeviceSize(bytes);
    const uint64_t unit = uint64_t{v10.GetMaxReadBlockLength()} << (v10.Get_C_SIZE_MULT() + 2);
    EXPECT_LE(v10.GetCapacity(), bytes);
    EXPECT_LT(bytes - v10.GetCapacity(), unit) << bytes;
    EXPECT_EQ(CSdCSD(v10.Data()).GetCapacity(), v10.GetCapacity());

    const unsigned long big = (rng() % (1ul << 41)) + (1ul << 19);
    CSdCSDV20 v20(kSn512Csd.data());
    v20.UpdateDeviceSize(big);
    EXPECT_EQ(v20.GetCapacity(), big >> 19 << 19) << big;
    v20.UpdateCRC7();
    std::unique_ptr<CCSD> again(CCSD::Create(false, v20.Data()));
    EXPECT_EQ(again->GetCapacity(), v20.GetCapacity());
    EXPECT_EQ(again->GetCRC7(), Crc7Of(v20.Data()));
  }
}

TEST(CsdUpdateDeviceSize, Version20ChangesOnlyTheDeviceSize) {
  CSdCSDV20 csd(kSn512Csd.data());
  csd.UpdateDeviceSize(15523119104ul);
  // Only the device size bytes change; the CRC byte is refreshed on request.
  Image expected = kSn512Csd;
  expected[7] = 0x00;
  expected[8] = 0x73;
  expected[9] = 0xa7;
  EXPECT_EQ(ImageOf(csd), expected);
  // Sizes past the field are clamped to it.
  csd.UpdateDeviceSize(1ul << 45);
  EXPECT_EQ(csd.Get_C_SIZE(), 0x3FFFFFu);
  EXPECT_EQ(csd.GetCapacity(), 1ull << 41);
  EXPECT_EQ(CSdCSDV20(csd.Data()).GetCapacity(), csd.GetCapacity());
}

// Below one unit (512 KiB for version 2.0, 16 KiB for 1.0) nothing can be encoded.
TEST(CsdUpdateDeviceSize, TooSmallLeavesEverythingAsItIs) {
  CSdCSDV20 v20(kSn512Csd.data());
  v20.UpdateDeviceSize(524287);
  EXPECT_EQ(ImageOf(v20), kSn512Csd);
  EXPECT_EQ(v20.GetCapacity(), 511868665856ull);
  const Image before = Csd({{CsdField::C_SIZE, 7}, {CsdField::READ_BL_LEN, 9}});
  CSdCSD v10(before.data());
  v10.UpdateDeviceSize(16383);
  EXPECT_EQ(ImageOf(v10), before);
  EXPECT_EQ(v10.GetCapacity(), 8ull * 4 * 512);
}

TEST(CsdSetters, WriteOnlyTheirOwnBits) {
#define SETTER(field, call)                                                                        \
  std::pair<RegisterField, void (*)(CCSD &, unsigned int)> {                                       \
    CsdField::field, [](CCSD &c, unsigned int v) { c.call(v); }                                    \
  }
  const std::pair<RegisterField, void (*)(CCSD &, unsigned int)> cases[] = {
      SETTER(TAAC, SetTAAC),
      SETTER(NSAC, SetNSAC),
      SETTER(TRAN_SPEED, SetTransferSpeed),
      SETTER(VDD_R_CURR_MIN, SetVDD_R_CURR_MIN),
      SETTER(VDD_R_CURR_MAX, SetVDD_R_CURR_MAX),
      SETTER(VDD_W_CURR_MIN, SetVDD_W_CURR_MIN),
      SETTER(VDD_W_CURR_MAX, SetVDD_W_CURR_MAX),
      SETTER(R2W_FACTOR, SetWriteSpeedFactor),
      SETTER(PERM_WRITE_PROTECT, SetPermanentWriteProtection),
      SETTER(TMP_WRITE_PROTECT, SetTemporaryWriteProtection),
  };
#undef SETTER
  std::mt19937 rng(11);
  for (const auto &[field, set] : cases)
    for (int round = 0; round < 50; ++round) {
      Image image{};
      for (auto &b : image)
        b = static_cast<unsigned char>(rng());
      CSdCSD csd(image.data());
      const uint32_t value = rng() & field.Max();
      // Bits of the argument above the field are dropped.
      set(csd, value | (field.Width() > 1 && field.Width() < 8 ? 0xF00u : 0u));
      WriteField(image.data(), 16, field, value);
      ASSERT_EQ(ImageOf(csd), image) << field.name;
    }
}

// Fixed lines of each layout, plus one line per supported command class.
TEST(CsdReport, EveryFieldValueBuilds) {
  auto lineCount = [](size_t fixed) {
    return [fixed](const unsigned char *p) {
      return fixed + __builtin_popcount(ReadField(p, 16, CsdField::CCC));
    };
  };
  CheckEveryFieldValue(
      kSn512Csd, CsdField::SdV10, [](const unsigned char *p) { return CSdCSD(p).Parse(1); },
      lineCount(35));
  CheckEveryFieldValue(
      kSn512Csd, CsdField::SdV20, [](const unsigned char *p) { return CSdCSDV20(p).Parse(1); },
      lineCount(30));
  CheckEveryFieldValue(
      kSn512Csd, CsdField::Mmc, [](const unsigned char *p) { return CMmcCSD(p).Parse(1); },
      lineCount(40));
}

} // namespace
