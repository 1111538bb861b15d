// SPDX-License-Identifier: MIT
#include "sdsmart/hardware_info.h"

#include <memory>

#include "registers/report_text.h"
#include "sdsmart/card_hw_id.h"

using namespace RegisterText;

namespace {

// Decimal, zero-padded to at least two digits.
std::wstring TwoDigits(unsigned int v) { return v < 10 ? L"0" + Dec(v) : Dec(v); }

} // namespace

std::wstring CHardwareInfo::ToString() {
  const std::unique_ptr<CCardHwId> identity(CCardHwId::Create(hwId));
  const std::wstring model = identity->GetModelName();
  return L" Hardware Version Information\r\n"
         L"---------------------------------------------------\r\n"
         L"             Model Name : " +
         model + L"\r\n   Month-Date-S/N-HW ID : " + TwoDigits(month) + L"-" + TwoDigits(date) +
         L"-" + TwoDigits(serialNumber) + L"-" + TwoDigits(hwId);
}

unsigned int CHardwareInfo::GetMonth() { return month; }

void CHardwareInfo::SetMonth(unsigned int v) { month = v; }

unsigned int CHardwareInfo::GetDate() { return date; }

void CHardwareInfo::SetDate(unsigned int v) { date = v; }

unsigned int CHardwareInfo::GetSerialNumber() { return serialNumber; }

void CHardwareInfo::SetSerialNumber(unsigned int v) { serialNumber = v; }

unsigned int CHardwareInfo::GetHwID() { return hwId; }

void CHardwareInfo::SetHwID(unsigned int v) { hwId = v; }

CHardwareInfo::CHardwareInfo() = default;
