// SPDX-License-Identifier: MIT
// The card controllers of the product family by controller ID, and the
// identity objects of the controllers the library supports.
#pragma once

#include <memory>
#include <string>

// clang-format off
const unsigned int ID_QM6152A1E   = 0;
const unsigned int ID_QM61407A1F  = 1;
const unsigned int ID_QM61526A1G  = 2;
const unsigned int ID_QM6140A0A   = 4;
const unsigned int ID_WK805A0B    = 6;
const unsigned int ID_QM614xBA    = 7;
const unsigned int ID_QM61403     = 8;
const unsigned int ID_QM6152AA    = 9;
const unsigned int ID_QM6140A1D   = 10;
const unsigned int ID_QM61403A1E  = 11;
const unsigned int ID_QM6152A0B   = 12;
const unsigned int ID_QM61526A0C  = 13;
const unsigned int ID_QM61407A0D  = 14;
const unsigned int ID_QM6175A0A   = 16;
const unsigned int ID_QM6186A0B   = 17;
const unsigned int ID_QM6186A1C   = 19;
const unsigned int ID_QM6186A2D   = 20;
const unsigned int ID_QM6209A0A   = 21;
const unsigned int ID_QM6218A0B   = 22;
const unsigned int ID_QM6197A0C   = 23;
const unsigned int ID_QM6324A0A   = 24;
const unsigned int ID_NV6437A0A   = 25;
const unsigned int ID_NV6459A0A   = 26;
const unsigned int ID_AUTO_DETECT = 1000;
// clang-format on

class CCardHwId {
public:
  // The identity of a supported controller (24, 25, 26 and 255); any other ID
  // throws CError WrongController naming the controller found.
  // The caller owns the object and deletes it through the virtual destructor.
  static CCardHwId *Create(unsigned int id);

  explicit CCardHwId(unsigned int id);
  virtual ~CCardHwId();

  virtual std::wstring GetPartNumber() = 0;
  virtual std::wstring GetModelName() = 0;
  virtual std::wstring GetNormalVendorFwPath() = 0;
  virtual std::wstring GetUniversalVendorFwPath() = 0;
  virtual unsigned int GetRomChecksum() = 0;
  virtual bool CanSupportDowngradeFlash() = 0;
  virtual bool CanROMCodeSupportReadRetry() = 0;
  virtual bool CanSupportSDv30() = 0;

  unsigned int GetId();

protected:
  unsigned int id;
};

class CNV6459A0AHwId : public CCardHwId {
public:
  explicit CNV6459A0AHwId(unsigned int id);
  std::wstring GetPartNumber() override;
  std::wstring GetModelName() override;
  std::wstring GetNormalVendorFwPath() override;
  std::wstring GetUniversalVendorFwPath() override;
  unsigned int GetRomChecksum() override;
  bool CanSupportDowngradeFlash() override;
  bool CanROMCodeSupportReadRetry() override;
  bool CanSupportSDv30() override;
};

class CNV6437A0AHwId : public CCardHwId {
public:
  explicit CNV6437A0AHwId(unsigned int id);
  std::wstring GetPartNumber() override;
  std::wstring GetModelName() override;
  std::wstring GetNormalVendorFwPath() override;
  std::wstring GetUniversalVendorFwPath() override;
  unsigned int GetRomChecksum() override;
  bool CanSupportDowngradeFlash() override;
  bool CanROMCodeSupportReadRetry() override;
  bool CanSupportSDv30() override;
};
