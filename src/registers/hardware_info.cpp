#include "registers/hardware_info.h"

#include "registers/card_hw_id.h"
#include "registers/report_text.h"

using namespace RegisterText;

namespace {

// Decimal, zero-padded to at least two digits.
std::wstring TwoDigits(unsigned int v) { return v < 10 ? L"0" + Dec(v) : Dec(v); }

} // namespace

std::wstring CHardwareInfo::ToString() const {
  const std::wstring model = CCardHwId::Create(hwId)->GetModelName();
  return L" Hardware Version Information\r\n"
         L"---------------------------------------------------\r\n"
         L"             Model Name : " +
         model + L"\r\n   Month-Date-S/N-HW ID : " + TwoDigits(month) + L"-" + TwoDigits(date) +
         L"-" + TwoDigits(serialNumber) + L"-" + TwoDigits(hwId);
}
