// SPDX-License-Identifier: MIT
#include "sdsmart/scr.h"

#include <cstring>

#include "registers/report_text.h"
#include "sdsmart/convert.h"

using namespace RegisterText;

CSCR::CSCR(unsigned char *scr) : CSCR(static_cast<const unsigned char *>(scr)) {}

CSCR::CSCR(const unsigned char *scr) { std::memcpy(image, scr, sizeof image); }

namespace {

std::wstring SpecLabel() { return L"SD Memory Card Spec. Version = "; }

std::wstring Spec4Line(bool spec4) {
  return spec4 ? L"SD_SPEC4                     = True" : L"SD_SPEC4                     = False";
}

} // namespace

std::wstring CSCR::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"SCR Register");
  r.Line(L"---------------------------------");
  r.Line(ByteArrayToHexStr(image, sizeof image));

  if (GetSCRVersion() == 0)
    r.Line(L"SCR Version No.              = 1.0-2.0");
  else
    r.Line(L"SCR Structure                = " + Dec(GetSCRVersion()) + L" (reserved)");

  const unsigned int spec = GetSDMemoryCardSpec();
  const unsigned int specX = GetSDSpecX();
  if (spec == 0) {
    r.Line(SpecLabel() + L"1.0-1.01");
  } else if (spec == 1) {
    r.Line(SpecLabel() + L"1.10");
  } else if (spec == 2 && !IsSdSpec3()) {
    r.Line(SpecLabel() + L"2.0");
  } else if (spec == 2 && specX >= 1 && specX <= 5) {
    // SD_SPECX 1 to 5 name versions 5.xx to 9.xx.
    r.Line(SpecLabel() + Dec(specX + 4) + L".xx");
    r.Line(Spec4Line(IsSdSpec4()));
  } else if (spec == 2) {
    r.Line(SpecLabel() + (IsSdSpec4() ? L"4.xx" : L"3.0x"));
  } else {
    r.Line(SpecLabel() + Dec(spec) + L" (Reserved)");
  }

  r.Line(L"Data Status After Erases     = " + Dec(GetDataAfterErase()));

  static const wchar_t *const kSecurity[] = {L"No Security", L"Not used", L"Security Protocol 1.01",
                                             L"Security Protocol 2.0", L"Security Protocol 3.0"};
  const unsigned int security = GetSDSecurityVersion();
  r.Line(L"SD Security Support          = " + (security < std::size(kSecurity)
                                                   ? std::wstring(kSecurity[security])
                                                   : Dec(security) + L" (Reserved)"));

  const unsigned int widths = GetDataBusWidth();
  std::wstring widthText;
  if (widths == 1)
    widthText = L"1 bit(DAT0)";
  else if (widths == 4)
    widthText = L"4 bit(DAT0-3)";
  else if (widths == 5)
    widthText = L"1 bit(DAT0), 4 bit(DAT0-3)";
  else
    widthText = Dec(widths) + L" (Reserved)";
  r.Line(L"DAT Bus Widths Supported     = " + widthText);

  const unsigned int support = GetCmdSupport();
  if (support != 0) {
    static const wchar_t *const kCommands[] = {L"CMD20", L"CMD23", L"CMD48, CMD49",
                                               L"CMD58, CMD59"};
    std::wstring list;
    for (unsigned int bit = 8; bit < 12; ++bit) {
      if ((support >> bit) & 1u) {
        if (!list.empty())
          list += L", ";
        list += kCommands[bit - 8];
      }
    }
    r.Line(L"Cmd Support                  = " + list);
  }
  return r.Text();
}

unsigned int CSCR::GetSCRVersion() { return Field(ScrField::SCR_STRUCTURE); }

unsigned int CSCR::GetSDMemoryCardSpec() { return Field(ScrField::SD_SPEC); }

bool CSCR::GetDataAfterErase() { return Field(ScrField::DATA_STAT_AFTER_ERASE); }

unsigned int CSCR::GetSDSecurityVersion() { return Field(ScrField::SD_SECURITY); }

unsigned int CSCR::GetDataBusWidth() { return Field(ScrField::SD_BUS_WIDTHS); }

bool CSCR::IsSdSpec3() { return Field(ScrField::SD_SPEC3); }

bool CSCR::IsSdSpec4() { return Field(ScrField::SD_SPEC4); }

unsigned int CSCR::GetSDSpecX() { return Field(ScrField::SD_SPECX); }

unsigned int CSCR::GetCmdSupport() { return Field(ScrField::CMD_SUPPORT_WIDE); }

bool CSCR::IsSdSpec5() { return GetSDMemoryCardSpec() == 2 && IsSdSpec3() && GetSDSpecX() == 1; }
