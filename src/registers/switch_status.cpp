// SPDX-License-Identifier: MIT
#include "sdsmart/switch_status.h"

#include <cstring>

#include "registers/report_text.h"

using namespace RegisterText;

CSwitchStatus::CSwitchStatus(unsigned char *status)
    : CSwitchStatus(static_cast<const unsigned char *>(status)) {}

CSwitchStatus::CSwitchStatus(const unsigned char *status) {
  std::memcpy(this->status, status, sizeof this->status);
}

unsigned int CSwitchStatus::GetGroupSupport(unsigned int group) const {
  return group >= 1 && group <= 6 ? ReadField(status, SwitchStatusField::GROUP_SUPPORT[group]) : 0;
}

unsigned int CSwitchStatus::GetGroupSelection(unsigned int group) const {
  return group >= 1 && group <= 6 ? ReadField(status, SwitchStatusField::GROUP_SELECTION[group])
                                  : 0;
}

std::wstring CSwitchStatus::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"Switch Function Status");
  const unsigned int current = GetMaxCurrent();
  r.Line(L"Maximum current consumption = " +
         (current != 0 ? Dec(current) + L" mA" : std::wstring(L"Error")));
  for (unsigned int group = 6; group >= 1; --group) {
    const unsigned int support = GetGroupSupport(group);
    std::wstring bits;
    for (unsigned int bit = 0; bit < 16; ++bit)
      if ((support >> bit) & 1u)
        bits += Dec(bit) + L" ";
    r.Line(L"Function group " + Dec(group) + L" support    = " + (support ? bits : L"None"));
  }
  for (unsigned int group = 6; group >= 1; --group)
    r.Line(L"Function set of group " + Dec(group) + L"     = " + Dec(GetGroupSelection(group)));
  return r.Text();
}

unsigned int CSwitchStatus::GetMaxCurrent() {
  return ReadField(status, SwitchStatusField::MAX_CURRENT);
}
