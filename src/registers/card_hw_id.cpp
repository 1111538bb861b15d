// SPDX-License-Identifier: MIT
#include "sdsmart/card_hw_id.h"

#include "registers/report_text.h"
#include "util/error_catalogue.h"

using namespace RegisterText;

namespace {

// Controllers of the family that this library does not drive, by the name
// the refusal gives them.
struct ForeignController {
  unsigned int id;
  const wchar_t *name;
};
const ForeignController kForeign[] = {
    {ID_QM6152A1E, L"qM6152A1E"}, {ID_QM61407A1F, L"qM61407A1F"}, {ID_QM61526A1G, L"qM61526A1G"},
    {ID_QM6140A0A, L"qM6140A0A"}, {ID_WK805A0B, L"WK805A0B"},     {ID_QM614xBA, L"qM6140BA"},
    {ID_QM61403, L"qM61403"},     {ID_QM6140A1D, L"qM6140A1D"},   {ID_QM61403A1E, L"qM61403A1E"},
    {ID_QM6152A0B, L"qM6152A0B"}, {ID_QM61526A0C, L"qM61526A0C"}, {ID_QM61407A0D, L"qM6163A0A"},
    {ID_QM6175A0A, L"qM6175A0A"}, {ID_QM6186A0B, L"qM6186A0B"},   {ID_QM6186A1C, L"qM6186A1C"},
    {ID_QM6186A2D, L"qM6186A2D"}, {ID_QM6209A0A, L"qM6209A0A"},   {ID_QM6218A0B, L"qM6218A0B"},
    {ID_QM6197A0C, L"qM6197A0C"},
};

} // namespace

CCardHwId *CCardHwId::Create(unsigned int id) {
  switch (id) {
  case ID_QM6324A0A:
  case ID_NV6459A0A:
  case 255:
    return new CNV6459A0AHwId(id);
  case ID_NV6437A0A:
    return new CNV6437A0AHwId(id);
  default:
    break;
  }
  for (const ForeignController &c : kForeign)
    if (c.id == id)
      throw MakeError(Errors::ForeignController, {c.name});
  throw MakeError(Errors::IncorrectController, {Dec(id)});
}

CCardHwId::CCardHwId(unsigned int id) : id(id) {}

unsigned int CCardHwId::GetId() { return id; }

CNV6459A0AHwId::CNV6459A0AHwId(unsigned int id) : CCardHwId(id) {}

std::wstring CNV6459A0AHwId::GetPartNumber() { return L"NV6459-01A/AX"; }

std::wstring CNV6459A0AHwId::GetModelName() { return L"NV6459A0A"; }

std::wstring CNV6459A0AHwId::GetNormalVendorFwPath() { return L"NV6459\\WK96X"; }

std::wstring CNV6459A0AHwId::GetUniversalVendorFwPath() { return L"NV6459\\Reader"; }

unsigned int CNV6459A0AHwId::GetRomChecksum() { return 0; }

bool CNV6459A0AHwId::CanSupportDowngradeFlash() { return true; }

bool CNV6459A0AHwId::CanROMCodeSupportReadRetry() { return true; }

bool CNV6459A0AHwId::CanSupportSDv30() { return true; }

CNV6437A0AHwId::CNV6437A0AHwId(unsigned int id) : CCardHwId(id) {}

std::wstring CNV6437A0AHwId::GetPartNumber() { return L"NV6437-01A/AX"; }

std::wstring CNV6437A0AHwId::GetModelName() { return L"NV6459A0A"; }

std::wstring CNV6437A0AHwId::GetNormalVendorFwPath() { return L"NV6459\\WK96X"; }

std::wstring CNV6437A0AHwId::GetUniversalVendorFwPath() { return L"NV6459\\Reader"; }

unsigned int CNV6437A0AHwId::GetRomChecksum() { return 0; }

bool CNV6437A0AHwId::CanSupportDowngradeFlash() { return true; }

bool CNV6437A0AHwId::CanROMCodeSupportReadRetry() { return true; }

bool CNV6437A0AHwId::CanSupportSDv30() { return false; }

CCardHwId::~CCardHwId() = default;
