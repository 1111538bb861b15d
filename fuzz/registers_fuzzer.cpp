// SPDX-License-Identifier: MIT
// Arbitrary register images through every decoder and text report: CID and
// CSD in every layout, SCR, OCR, SPI R1/R2, SD Status, switch status,
// extended CSD, the controller identity, the bit array and the CRCs. The
// decoders take fixed-size images, so the input is cut to (or padded to)
// each register's size.
#include "fuzz_support.h"

#include "sdsmart/bit_array.h"
#include "sdsmart/card_hw_id.h"
#include "sdsmart/cid.h"
#include "sdsmart/crc.h"
#include "sdsmart/csd.h"
#include "sdsmart/error.h"
#include "sdsmart/ext_csd.h"
#include "sdsmart/hardware_info.h"
#include "sdsmart/ocr.h"
#include "sdsmart/scr.h"
#include "sdsmart/sd_status.h"
#include "sdsmart/spi_response.h"
#include "sdsmart/switch_status.h"

namespace {

void Cid(const unsigned char *image, unsigned int indent) {
  for (bool mmc : {false, true}) {
    std::unique_ptr<CCID> cid(CCID::Create(mmc, image));
    FUZZ_CHECK(cid != nullptr, "CCID::Create gives an object");
    (void)cid->Parse(indent);
    unsigned char out[16];
    cid->ToBuffer(out);
    CCRC7 crc;
    FUZZ_CHECK(out[15] == crc.Generate(out, 15), "a rebuilt CID carries its CRC-7");
    // The rebuilt image decodes to the same fields.
    std::unique_ptr<CCID> again(CCID::Create(mmc, out));
    FUZZ_CHECK(again->GetMID() == cid->GetMID(), "CID MID survives a rebuild");
    FUZZ_CHECK(again->GetSerialNumber() == cid->GetSerialNumber(), "CID PSN survives a rebuild");
  }
}

void CsdCommon(CCSD &csd, unsigned int indent, unsigned long size) {
  (void)csd.Parse(indent);
  (void)csd.GetTotalErasedGroups();
  (void)csd.GetTotalWpGroups();
  (void)csd.GetMaxReadBlockLength();
  (void)csd.GetMaxWriteBlockLength();
  csd.UpdateDeviceSize(size);
  csd.UpdateCRC7();
  (void)csd.Parse(indent);
}

void Csd(const unsigned char *image, unsigned int indent, unsigned long size) {
  for (bool mmc : {false, true}) {
    std::unique_ptr<CCSD> csd(CCSD::Create(mmc, image));
    FUZZ_CHECK(csd != nullptr, "CCSD::Create gives an object");
    CsdCommon(*csd, indent, size);
  }
  // Every layout whatever the structure field says.
  CSdCSD v1(image);
  (void)v1.GetProtectedAreaUnit();
  CsdCommon(v1, indent, size);
  CSdCSDV20 v2(image);
  (void)v2.GetProtectedAreaUnit();
  (void)v2.Get_C_SIZE();
  CsdCommon(v2, indent, size);
  CMmcCSD mmc(image);
  CsdCommon(mmc, indent, size);
}

void Others(const unsigned char *image, unsigned int indent, uint8_t flags) {
  CSCR scr(image);
  (void)scr.Parse(indent);
  (void)scr.IsSdSpec5();
  for (bool mmc : {false, true})
    (void)std::unique_ptr<COCR>(COCR::Create(mmc, image))->Parse(indent);
  CSpiR1 r1(image[0]);
  (void)r1.Parse(indent);
  CSpiR2 r2(image);
  (void)r2.Parse(indent);

  CSdStatus status(flags & 1, flags & 2, image);
  (void)status.Parse(indent);
  (void)status.Get_SU_Size_By_AU_Size(status.Get_VSC_AU_Size());
  CSwitchStatus sw(image);
  (void)sw.Parse(indent);
  for (unsigned int g = 0; g < 9; ++g) {
    (void)sw.GetGroupSupport(g);
    (void)sw.GetGroupSelection(g);
  }
  CExtCSD ext(image);
  (void)ext.Parse(indent);
}

void Identity(CFuzzInput &in) {
  CHardwareInfo info;
  info.SetMonth(in.Byte());
  info.SetDate(in.Byte());
  info.SetSerialNumber(in.Word());
  info.SetHwID(in.Byte() % 32 == 31 ? 255 : in.Word() % 300);
  try {
    (void)info.ToString();
  } catch (const CError &) {
  }
  try {
    std::unique_ptr<CCardHwId> id(CCardHwId::Create(info.GetHwID()));
    (void)id->GetPartNumber();
    (void)id->GetModelName();
    (void)id->GetNormalVendorFwPath();
    (void)id->GetUniversalVendorFwPath();
    (void)id->GetRomChecksum();
  } catch (const CError &) {
  }
}

void Bits(const unsigned char *image, CFuzzInput &in) {
  const unsigned int bits = in.Word() % 4200;
  const unsigned int bytes = in.Byte() * 2u;
  CBitArray a;
  a.Init(image, bytes, bits);
  CBitArray b(in.Byte() * 3u, true);
  const unsigned int shift = in.Byte();
  (void)a.Count();
  (void)a.Count(in.Word());
  (void)a.Count(in.Word(), in.Word());
  a.Set(in.Word() % 5000, true).Flip(in.Word() % 5000);
  CBitArray c = a << shift;
  c >>= shift / 2;
  c |= b;
  c &= a;
  c ^= ~b;
  (void)(c == a);
  (void)(a < b);
  (void)c.ToString(in.Byte() % 16);
  (void)c.ToByteString(in.Byte() % 16);
  c.Trim();
  FUZZ_CHECK(c.Count() <= c.GetBitCount(), "no more bits set than held");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const unsigned int indent = flags >> 3;
  unsigned char image[512];
  in.Bytes(image, sizeof image);
  const unsigned long deviceSize = static_cast<unsigned long>(in.Word()) << (flags & 7) * 4;

  Cid(image, indent);
  Csd(image, indent, deviceSize);
  Others(image, indent, flags);
  Identity(in);
  Bits(image, in);

  CCRC7 crc7;
  CCRC16 crc16;
  (void)crc7.Generate(image, static_cast<unsigned int>(size < 512 ? size : 512));
  (void)crc16.Generate(image, static_cast<unsigned int>(size < 512 ? size : 512));
  return 0;
}
