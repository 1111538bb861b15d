// The operation conditions register (OCR, 32 bits): voltage window, card
// capacity status (SD) or access mode (MMC), and the power-up status bit.
#pragma once

#include <memory>
#include <string>

#include "registers/register_field.h"

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
  static std::unique_ptr<COCR> Create(bool isMmc, const unsigned char *ocr);

  explicit COCR(const unsigned char *ocr);
  virtual ~COCR() = default;
  virtual std::wstring Parse(unsigned int indent) = 0;

  // The power-up status bit: 1 once the card has finished initialising.
  bool IsCardInitFinished() const { return Field(OcrField::BUSY); }

protected:
  uint32_t Field(const RegisterField &f) const { return ReadField(image, f); }
  // The header, the raw bytes and the voltage line shared by both layouts.
  void ParseCommon(RegisterText::CReportText &r) const;

  unsigned char image[4];
};

class CSdOCR : public COCR {
public:
  explicit CSdOCR(const unsigned char *ocr) : COCR(ocr) {}
  bool GetHighCapacityEn() const { return Field(OcrField::CCS); }
  std::wstring Parse(unsigned int indent) override;
};

class CMmcOCR : public COCR {
public:
  explicit CMmcOCR(const unsigned char *ocr) : COCR(ocr) {}
  // 0 byte mode, 2 sector mode.
  unsigned int GetAccessMode() const { return Field(OcrField::ACCESS_MODE); }
  std::wstring Parse(unsigned int indent) override;
};
