// SPDX-License-Identifier: MIT
#include "sdsmart/cid.h"

#include <cstring>

#include "registers/report_text.h"
#include "sdsmart/crc.h"

using namespace RegisterText;

namespace {

constexpr size_t kCidBytes = 16;

// Copies the name into the PNM bytes, zero-padding a short name.
void PutName(unsigned char *image, const RegisterField &pnm, const std::string &name) {
  const unsigned int first = pnm.FirstByte(kCidBytes);
  for (unsigned int i = 0; i < pnm.ByteCount(); ++i)
    image[first + i] = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
}

void CloseImage(unsigned char *image) {
  image[15] = static_cast<unsigned char>(CCRC7().Generate(image, 15));
}

// "Feburary" and "Octobor" are spelled as hosts have always read them.
const wchar_t *const kMonthName[] = {L"January",   L"Feburary", L"March",    L"April",
                                     L"May",       L"June",     L"July",     L"August",
                                     L"September", L"Octobor",  L"November", L"December"};

} // namespace

CCID *CCID::Create(bool isMmc) {
  if (isMmc)
    return new CMmcCID();
  return new CSdCID();
}

CCID *CCID::Create(bool isMmc, const unsigned char *cid) {
  if (isMmc)
    return new CMmcCID(cid);
  return new CSdCID(cid);
}

CCID::CCID() = default;

CCID::~CCID() = default;

CSdCID::CSdCID() = default;

CMmcCID::CMmcCID() = default;

std::wstring CCID::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"Manufacturer ID       = 0x" + Hex(mid, 2));
  r.Line(L"OEM/Application ID    = 0x" + Hex(oid, 4));
  const std::string shown = productName.substr(0, productName.find('\0'));
  std::wstring name;
  for (char ch : shown)
    name += static_cast<wchar_t>(static_cast<unsigned char>(ch));
  r.Line(L"Product Name          = " + name);
  r.Line(L"Product Revision      = " + Hex((prv >> 4) & 0x0F) + L"." + Hex(prv & 0x0F));
  r.Line(L"Product Serial Number = 0x" + Hex(psn, 8));
  const std::wstring monthText =
      month >= 1 && month <= 12 ? std::wstring(kMonthName[month - 1]) : L"month = " + Dec(month);
  r.Line(L"Manufacturing Date    = " + monthText + L" " + Dec(year));
  r.Line(L"CRC7 Checksum         = 0x" + Hex(crc7, 2));
  return r.Text();
}

CSdCID::CSdCID(const unsigned char *cid) {
  using namespace SdCidField;
  unsigned char image[kCidBytes];
  std::memcpy(image, cid, kCidBytes);
  mid = ReadField(image, MID);
  oid = ReadField(image, OID);
  // Every name byte counts, zero bytes included: the name has 5 characters.
  productName.assign(reinterpret_cast<const char *>(image + PNM.FirstByte(kCidBytes)),
                     PNM.ByteCount());
  prv = ReadField(image, PRV);
  psn = ReadField(image, PSN);
  year = 2000 + ReadField(image, MDT_YEAR_WITH_RESERVED);
  month = ReadField(image, MDT_MONTH);
  crc7 = ReadField(image, CRC);
}

void CSdCID::ToBuffer(unsigned char *out) {
  using namespace SdCidField;
  unsigned char image[kCidBytes] = {};
  WriteField(image, MID, mid);
  WriteField(image, OID, oid);
  PutName(image, PNM, productName);
  WriteField(image, PRV, prv);
  WriteField(image, PSN, psn);
  WriteField(image, MDT_YEAR, year - 2000);
  WriteField(image, MDT_MONTH, month);
  CloseImage(image);
  std::memcpy(out, image, kCidBytes);
}

CMmcCID::CMmcCID(const unsigned char *cid) {
  using namespace MmcCidField;
  unsigned char image[kCidBytes];
  std::memcpy(image, cid, kCidBytes);
  mid = ReadField(image, MID);
  oid = ReadField(image, OID);
  // Only printable ASCII characters are kept.
  const unsigned int first = PNM.FirstByte(kCidBytes);
  for (unsigned int i = first; i < first + PNM.ByteCount(); ++i)
    if (image[i] >= 0x20 && image[i] <= 0x7E)
      productName += static_cast<char>(image[i]);
  prv = ReadField(image, PRV);
  psn = ReadField(image, PSN);
  month = ReadField(image, MDT_MONTH);
  year = 1997 + ReadField(image, MDT_YEAR);
  crc7 = ReadField(image, CRC);
}

void CMmcCID::ToBuffer(unsigned char *out) {
  using namespace MmcCidField;
  unsigned char image[kCidBytes] = {};
  WriteField(image, MID, mid);
  WriteField(image, OID, oid);
  PutName(image, PNM, productName);
  WriteField(image, PRV, prv);
  WriteField(image, PSN, psn);
  WriteField(image, MDT_MONTH, month);
  WriteField(image, MDT_YEAR, year - 1997);
  CloseImage(image);
  std::memcpy(out, image, kCidBytes);
}

unsigned int CCID::GetMID() { return mid; }

unsigned int CCID::GetOID() { return oid; }

std::string CCID::GetProductName() { return productName; }

unsigned int CCID::GetProductRevision() { return prv; }

unsigned int CCID::GetSerialNumber() { return psn; }

unsigned int CCID::GetYear() { return year; }

unsigned int CCID::GetMonth() { return month; }

unsigned int CCID::GetCRC7() { return crc7; }

void CCID::SetMID(unsigned int v) { mid = v; }

void CCID::SetOID(unsigned int v) { oid = v; }

void CCID::SetProductName(const std::string &v) { productName = v; }

void CCID::SetProductRevision(unsigned int v) { prv = v; }

void CCID::SetSerialNumber(unsigned int v) { psn = v; }

void CCID::SetYear(unsigned int v) { year = v; }

void CCID::SetMonth(unsigned int v) { month = v; }
