// SPDX-License-Identifier: MIT
#include "sdsmart/ocr.h"

#include <cstring>

#include "registers/report_text.h"
#include "sdsmart/convert.h"

using namespace RegisterText;

namespace {

// A voltage in tenths of a volt as "2.7".
std::wstring Volts(unsigned int tenths) { return Dec(tenths / 10) + L"." + Dec(tenths % 10); }

} // namespace

COCR *COCR::Create(bool isMmc, unsigned char *ocr) {
  return Create(isMmc, static_cast<const unsigned char *>(ocr));
}

COCR *COCR::Create(bool isMmc, const unsigned char *ocr) {
  if (isMmc)
    return new CMmcOCR(ocr);
  return new CSdOCR(ocr);
}

COCR::COCR(unsigned char *ocr) : COCR(static_cast<const unsigned char *>(ocr)) {}

COCR::COCR(const unsigned char *ocr) { std::memcpy(image, ocr, sizeof image); }

COCR::~COCR() {}

void COCR::ParseCommon(CReportText &r) const {
  r.Line(L"OCR Register");
  r.Line(L"---------------------------------");
  r.Line(ByteArrayToHexStr(image, sizeof image));

  // Bit k of the window (4..23) stands for (k + 12) / 10 V to (k + 13) / 10 V.
  // Bit 7 is reported as the low-voltage range on its own, so the window is
  // looked for among the other bits.
  const bool lowVoltage = Field(OcrField::LOW_VOLTAGE);
  auto windowBit = [&](unsigned int k) {
    return k >= 4 && k <= 23 && k != 7 && ((Field(OcrField::VDD_WINDOW) >> (k - 4)) & 1u);
  };
  unsigned int k0 = 4;
  while (k0 <= 23 && !windowBit(k0))
    ++k0;
  std::wstring window;
  if (k0 <= 23) {
    unsigned int k1 = k0;
    while (windowBit(k1))
      ++k1;
    window = Volts(k0 + 12) + L" V ~ " + Volts(k1 + 12) + L" V";
  }
  std::wstring line = L"Operating Votage Range = ";
  if (lowVoltage)
    line += window.empty() ? L"1.65V ~ 1.95V" : L"1.65V ~ 1.95V ";
  r.Line(line + window);
}

std::wstring CSdOCR::Parse(unsigned int indent) {
  CReportText r(indent);
  ParseCommon(r);
  r.Line(L"High Capacity Enable   = " + Dec(GetHighCapacityEn()));
  r.Line(L"Card Init Finished     = " + Dec(IsCardInitFinished()));
  return r.Text();
}

std::wstring CMmcOCR::Parse(unsigned int indent) {
  CReportText r(indent);
  ParseCommon(r);
  const unsigned int mode = GetAccessMode();
  r.Line(L"Access Mode            = " + (mode == 0   ? std::wstring(L"Byte mode")
                                         : mode == 2 ? L"Sector mode"
                                                     : Dec(mode)));
  r.Line(L"Card Init Finished     = " + Dec(IsCardInitFinished()));
  return r.Text();
}

bool COCR::IsCardInitFinished() { return Field(OcrField::BUSY); }

CSdOCR::CSdOCR(unsigned char *ocr) : COCR(ocr) {}

CSdOCR::CSdOCR(const unsigned char *ocr) : COCR(ocr) {}

bool CSdOCR::GetHighCapacityEn() { return Field(OcrField::CCS); }

CMmcOCR::CMmcOCR(unsigned char *ocr) : COCR(ocr) {}

CMmcOCR::CMmcOCR(const unsigned char *ocr) : COCR(ocr) {}

unsigned int CMmcOCR::GetAccessMode() { return Field(OcrField::ACCESS_MODE); }
