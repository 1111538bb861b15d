// SPDX-License-Identifier: MIT
// The numbers the register decoders derive (their texts are in
// reports_test.cpp): real cards' fields and capacities, the images the
// encoders write back, and the controller identities.
#include "register_images.h"
#include "support.h"

#include "sdsmart/card_hw_id.h"
#include "sdsmart/cid.h"
#include "sdsmart/crc.h"
#include "sdsmart/csd.h"
#include "sdsmart/sdsmart.h"

#include <tuple>

namespace {

using Image = std::array<unsigned char, 16>;
// MID, OID, name, revision, serial number, year, month.
using Fields = std::tuple<unsigned, unsigned, std::string, unsigned, unsigned, unsigned, unsigned>;

Fields FieldsOf(CCID &c) {
  return {c.GetMID(),          c.GetOID(),  c.GetProductName(), c.GetProductRevision(),
          c.GetSerialNumber(), c.GetYear(), c.GetMonth()};
}

template <class Register> Image ImageOf(Register &r) {
  Image out{};
  r.ToBuffer(out.data());
  return out;
}

unsigned char Crc7Of(const unsigned char *image) {
  return static_cast<unsigned char>(CCRC7().Generate(image, 15));
}

TEST(Cid, RealCardsDecodeAndRebuild) {
  const std::unique_ptr<CCID> sdxc(CCID::Create(false, kSn512Cid.data()));
  ASSERT_NE(dynamic_cast<CSdCID *>(sdxc.get()), nullptr);
  EXPECT_EQ(FieldsOf(*sdxc), Fields(0x03, 0x5344, "SN512", 0x80, 0xfff7b17b, 2021, 7));
  // This card sent no CRC: rebuilding puts a real one in place of the 00.
  Image expected = kSn512Cid;
  expected[15] = Crc7Of(kSn512Cid.data());
  EXPECT_EQ(ImageOf(*sdxc), expected);
  EXPECT_EQ(expected[15] & 1u, 1u);
  const std::unique_ptr<CCID> sdhc(CCID::Create(false, kSd16gCid.data()));
  EXPECT_EQ(FieldsOf(*sdhc), Fields(0x27, 0x5048, "SD16G", 0x30, 0xda89b829, 2015, 11));
  EXPECT_EQ(sdhc->GetCRC7(), 0x61u);
  EXPECT_EQ(ImageOf(*sdhc), kSd16gCid); // its own CRC, recomputed
  // Reserved bits above the year count as high bits of the offset, and are
  // written back as zero; every name byte counts.
  Image image = kSd16gCid;
  image[13] = 0x10, image[14] = 0x01, image[5] = 0;
  CSdCID odd(image.data());
  EXPECT_EQ(odd.GetYear(), 2256u);
  EXPECT_EQ(ImageOf(odd)[13], 0x00);
  EXPECT_EQ(odd.GetProductName(), std::string("SD\0"
                                              "6G",
                                              5));
}

TEST(Csd, RealCardsCapacityAndUnits) {
  const std::unique_ptr<CCSD> sdxc(CCSD::Create(false, kSn512Csd.data()));
  ASSERT_NE(dynamic_cast<CSdCSDV20 *>(sdxc.get()), nullptr);
  EXPECT_EQ(sdxc->GetCapacity(), 511868665856ull);
  EXPECT_EQ(sdxc->GetErasedUnit(), 512u);
  EXPECT_EQ(sdxc->GetTotalErasedGroups(), 511868665856ull / 512);
  const std::unique_ptr<CCSD> sdhc(CCSD::Create(false, kSd16gCsd.data()));
  EXPECT_EQ(sdhc->GetCapacity(), 15523119104ull);
  EXPECT_EQ(sdhc->GetCRC7(), Crc7Of(kSd16gCsd.data()));
  // An MMC layout: 1 GiB in erase groups of 32 x 32 sectors.
  CMmcCSD mmc(ImageWith<16>({{CsdField::C_SIZE, 4095},
                             {CsdField::C_SIZE_MULT, 7},
                             {CsdField::READ_BL_LEN, 9},
                             {CsdField::ERASE_GRP_SIZE, 31},
                             {CsdField::ERASE_GRP_MULT, 31},
                             {CsdField::MMC_WP_GRP_SIZE, 3}})
                  .data());
  EXPECT_EQ(mmc.GetCapacity(), 1073741824ull);
  EXPECT_EQ(mmc.GetErasedUnit(), 32u * 32u * 512u);
  EXPECT_EQ(mmc.GetTotalWpGroups(), 1073741824u / (4 * 32 * 32 * 512));
}

TEST(Csd, UpdateDeviceSizeEncodesWhatFits) {
  const std::tuple<unsigned long, unsigned, unsigned, uint64_t> v10[] = {
      {1ul << 30, 4095, 512, 1ull << 30},
      {2ul << 30, 4095, 1024, 2ull << 30},
      {4ul << 30, 4094, 512, 0x3ffc0000}, // 4 GiB and more do not fit
  };
  for (const auto &[bytes, cSize, blockLen, capacity] : v10) {
    Image image = kSd16gCsd;
    image[0] = 0x00; // version 1.0
    CSdCSD csd(image.data());
    csd.UpdateDeviceSize(bytes);
    EXPECT_EQ(csd.Get_C_SIZE(), cSize);
    EXPECT_EQ(csd.GetMaxReadBlockLength(), blockLen);
    EXPECT_EQ(csd.Data()[15], Crc7Of(csd.Data()));
    EXPECT_EQ(CSdCSD(csd.Data()).GetCapacity(), capacity);
  }
  // Version 2.0: only the device size bytes change; past the field it is clamped.
  CSdCSDV20 v20(kSn512Csd.data());
  v20.UpdateDeviceSize(15523119104ul);
  Image expected = kSn512Csd;
  expected[7] = 0x00, expected[8] = 0x73, expected[9] = 0xa7;
  EXPECT_EQ(ImageOf(v20), expected);
  v20.UpdateDeviceSize(1ul << 45);
  EXPECT_EQ(CSdCSDV20(v20.Data()).GetCapacity(), 1ull << 41);
  // Below one unit (512 KiB for 2.0, 16 KiB for 1.0) nothing can be encoded.
  CSdCSDV20 small20(kSn512Csd.data());
  small20.UpdateDeviceSize(524287);
  EXPECT_EQ(ImageOf(small20), kSn512Csd);
  const Image before = ImageWith<16>({{CsdField::C_SIZE, 7}, {CsdField::READ_BL_LEN, 9}});
  CSdCSD small10(before.data());
  small10.UpdateDeviceSize(16383);
  EXPECT_EQ(ImageOf(small10), before);
}

TEST(Crc, CheckValuesOfTheStandards) {
  const unsigned char check[] = "123456789", cmd0[] = {0x40, 0, 0, 0, 0},
                      cmd8[] = {0x48, 0, 0, 0x01, 0xAA}, closed[] = "123456789\x31\xC3";
  EXPECT_EQ(CCRC7().Generate(cmd0, 5) & 0xFFu, 0x95u);
  EXPECT_EQ(CCRC7().Generate(cmd8, 5) & 0xFFu, 0x87u);
  EXPECT_EQ(CCRC7().Generate(check, 9) & 0xFFu, (0x75u << 1) | 1u); // CRC-7/MMC and end bit
  EXPECT_EQ(CCRC16().Generate(check, 9), 0x31C3u);                  // CRC-16/XMODEM
  EXPECT_EQ(CCRC16().Generate(closed, 11), 0u);                     // a block followed by its CRC
}

TEST(CardHwId, SupportedControllersAndRefusals) {
  for (unsigned int id : {24u, 25u, 26u, 255u}) {
    const std::unique_ptr<CCardHwId> hw(CCardHwId::Create(id));
    const bool nv6437 = id == ID_NV6437A0A;
    EXPECT_EQ(nv6437, dynamic_cast<CNV6437A0AHwId *>(hw.get()) != nullptr) << id;
    EXPECT_EQ(std::make_tuple(hw->GetId(), hw->GetPartNumber(), hw->GetModelName(),
                              hw->GetNormalVendorFwPath(), hw->CanSupportSDv30()),
              std::make_tuple(id, std::wstring(nv6437 ? L"NV6437-01A/AX" : L"NV6459-01A/AX"),
                              std::wstring(L"NV6459A0A"), std::wstring(L"NV6459\\WK96X"), !nv6437));
  }
  const std::pair<unsigned int, std::wstring> refused[] = {
      {0, L"Controller type is qM6152A1E, not NV6459A0A."},
      {14, L"Controller type is qM6163A0A, not NV6459A0A."},
      {23, L"Controller type is qM6197A0C, not NV6459A0A."},
      {3, L"[Error] : Incorrect controller type = 3"},
      {27, L"[Error] : Incorrect controller type = 27"},
      {ID_AUTO_DETECT, L"[Error] : Incorrect controller type = " + std::to_wstring(ID_AUTO_DETECT)},
  };
  for (const auto &[id, text] : refused)
    EXPECT_EQ(sdtest::CatchError([id = id] { delete CCardHwId::Create(id); }),
              (sdtest::Caught{SDSMART_E_WRONG_CONTROLLER, text}))
        << id;
}

} // namespace
