// SPDX-License-Identifier: MIT
// The operation conditions register (OCR, 32 bits): voltage window, card
// capacity status (SD) or access mode (MMC), and the power-up status bit.
#pragma once

#include <memory>
#include <string>

#include "sdsmart/register_field.h"

namespace RegisterText {
class CReportText;
}

namespace OcrField {
// clang-format off
//                                 name                  high low
inline constexpr RegisterField BUSY              {"busy",              31, 31};
inline constexpr RegisterField CCS               {"CCS",               30, 30}; // SD
inline constexpr RegisterField ACCESS_MODE       {"access mode",       30, 29}; // MMC
inline constexpr RegisterField VDD_WINDOW        {"VDD voltage window",23,  4};
inline constexpr RegisterField LOW_VOLTAGE       {"1.65-1.95 V",        7,  7};
// clang-format on
} // namespace OcrField

class COCR {
public:
  // The caller owns the object and deletes it through the virtual destructor.
  static COCR *Create(bool isMmc, unsigned char *ocr);
  static COCR *Create(bool isMmc, const unsigned char *ocr);

  explicit COCR(unsigned char *ocr);
  explicit COCR(const unsigned char *ocr);
  virtual ~COCR();
  virtual std::wstring Parse(unsigned int indent) = 0;

  // The power-up status bit: 1 once the card has finished initialising.
  bool IsCardInitFinished();

protected:
  uint32_t Field(const RegisterField &f) const { return ReadField(image, f); }
  // The header, the raw bytes and the voltage line shared by both layouts.
  void ParseCommon(RegisterText::CReportText &r) const;

  unsigned char image[4];
};

class CSdOCR : public COCR {
public:
  explicit CSdOCR(unsigned char *ocr);
  explicit CSdOCR(const unsigned char *ocr);
  bool GetHighCapacityEn();
  std::wstring Parse(unsigned int indent) override;
};

class CMmcOCR : public COCR {
public:
  explicit CMmcOCR(unsigned char *ocr);
  explicit CMmcOCR(const unsigned char *ocr);
  // 0 byte mode, 2 sector mode.
  unsigned int GetAccessMode();
  std::wstring Parse(unsigned int indent) override;
};
