// SPDX-License-Identifier: MIT
#include "sdsmart/ext_csd.h"

#include <cstring>

#include "registers/report_text.h"
#include "sdsmart/data_buf.h"

using namespace RegisterText;

CExtCSD::CExtCSD(unsigned char *extCsd) : CExtCSD(static_cast<const unsigned char *>(extCsd)) {}

CExtCSD::CExtCSD(const unsigned char *extCsd) { std::memcpy(data, extCsd, sizeof data); }

uint32_t CExtCSD::Get(const ExtCsdField &f) const {
  uint32_t value = 0;
  for (unsigned int i = f.bytes; i-- > 0;)
    if (f.offset + i < sizeof data)
      value = (value << 8) | data[f.offset + i];
  return value;
}

std::wstring CExtCSD::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"Extended CSD Register");
  r.Line(L"---------------------------------");
  r.Raw(CDataBuf(16, 1, 1, false, indent).Dump(0, sizeof data, data));
  r.Line(L"Supported Command Sets = " + Dec(GetSupportedCmdSet()));
  r.Line(L"Sector Count = " + Dec(GetSectorCount()));
  r.Line(L"Min Write Performance for 8bit @52MHz = " + Dec(GetMinPerfW_8_52()));
  r.Line(L"Min Read  Performance for 8bit @52MHz = " + Dec(GetMinPerfR_8_52()));
  r.Line(L"Min Write Performance for 8bit @26MHz / 4bit @52MHz = " + Dec(GetMinPerfW_8_26_4_52()));
  r.Line(L"Min Read  Performance for 8bit @26MHz / 4bit @52MHz = " + Dec(GetMinPerfR_8_26_4_52()));
  r.Line(L"Min Write Performance for 4bit @26MHz = " + Dec(GetMinPerfW_4_26()));
  r.Line(L"Min Read  Performance for 4bit @26MHz = " + Dec(GetMinPerfR_4_26()));
  r.Line(L"Power Class for 26MHz @3.6V  = " + Dec(GetPowerClass_26_360()));
  r.Line(L"Power Class for 52MHz @3.6V  = " + Dec(GetPowerClass_52_360()));
  r.Line(L"Power Class for 26MHz @1.95V = " + Dec(GetPowerClass_26_195()));
  r.Line(L"Power Class for 52MHz @1.95V = " + Dec(GetPowerClass_52_195()));

  static const wchar_t *const kCardType[] = {L"0", L"High Speed MultiMediaCard @ 26MHz",
                                             L"High Speed MultiMediaCard @ 52MHz",
                                             L"High Speed MultiMediaCard @ 26MHz/52MHz"};
  const unsigned int cardType = GetCardType();
  r.Line(L"Card Type                    = " +
         (cardType < std::size(kCardType) ? std::wstring(kCardType[cardType]) : Dec(cardType)));
  static const wchar_t *const kStructure[] = {L"1.0 - 1.2", L"1.4 - 2.2", L"3.1 - 3.2 - 3.31",
                                              L"4.0"};
  const unsigned int structure = GetCSDStructureVersion();
  r.Line(L"CSD Structure Version        = " + (structure < std::size(kStructure)
                                                   ? std::wstring(kStructure[structure])
                                                   : Dec(structure)));
  const unsigned int revision = GetExtendedCSDRevision();
  r.Line(L"Extended CSD Revision        = " +
         (revision == 0 ? std::wstring(L"1.0") : Dec(revision)));
  r.Line(L"Command Set                  = " + Dec(GetCmdSet()));
  r.Line(L"Command Set Revision         = " + Dec(GetCmdSetRevision()));
  r.Line(L"Power Class                  = " + Dec(GetPowerClass()));
  r.Line(L"High Speed Interface Timing  = " + Dec(GetHighSpeedTiming()));
  static const wchar_t *const kBusWidth[] = {L"1 bit data bus", L"4 bit data bus",
                                             L"8 bit data bus"};
  const unsigned int busWidth = GetBusWidth();
  r.Line(L"Bus Width Mode               = " +
         (busWidth < std::size(kBusWidth) ? std::wstring(kBusWidth[busWidth]) : Dec(busWidth)));
  return r.Text();
}

unsigned int CExtCSD::GetSupportedCmdSet() { return Get(ExtCsdFieldOf::S_CMD_SET); }

uint32_t CExtCSD::GetSectorCount() { return Get(ExtCsdFieldOf::SEC_COUNT); }

unsigned int CExtCSD::GetMinPerfW_8_52() { return Get(ExtCsdFieldOf::MIN_PERF_W_8_52); }

unsigned int CExtCSD::GetMinPerfR_8_52() { return Get(ExtCsdFieldOf::MIN_PERF_R_8_52); }

unsigned int CExtCSD::GetMinPerfW_8_26_4_52() { return Get(ExtCsdFieldOf::MIN_PERF_W_8_26_4_52); }

unsigned int CExtCSD::GetMinPerfR_8_26_4_52() { return Get(ExtCsdFieldOf::MIN_PERF_R_8_26_4_52); }

unsigned int CExtCSD::GetMinPerfW_4_26() { return Get(ExtCsdFieldOf::MIN_PERF_W_4_26); }

unsigned int CExtCSD::GetMinPerfR_4_26() { return Get(ExtCsdFieldOf::MIN_PERF_R_4_26); }

unsigned int CExtCSD::GetPowerClass_26_360() { return Get(ExtCsdFieldOf::PWR_CL_26_360); }

unsigned int CExtCSD::GetPowerClass_52_360() { return Get(ExtCsdFieldOf::PWR_CL_52_360); }

unsigned int CExtCSD::GetPowerClass_26_195() { return Get(ExtCsdFieldOf::PWR_CL_26_195); }

unsigned int CExtCSD::GetPowerClass_52_195() { return Get(ExtCsdFieldOf::PWR_CL_52_195); }

unsigned int CExtCSD::GetCardType() { return Get(ExtCsdFieldOf::CARD_TYPE); }

unsigned int CExtCSD::GetCSDStructureVersion() { return Get(ExtCsdFieldOf::CSD_STRUCTURE); }

unsigned int CExtCSD::GetExtendedCSDRevision() { return Get(ExtCsdFieldOf::EXT_CSD_REV); }

unsigned int CExtCSD::GetCmdSet() { return Get(ExtCsdFieldOf::CMD_SET); }

unsigned int CExtCSD::GetCmdSetRevision() { return Get(ExtCsdFieldOf::CMD_SET_REV); }

unsigned int CExtCSD::GetPowerClass() { return Get(ExtCsdFieldOf::POWER_CLASS); }

unsigned int CExtCSD::GetHighSpeedTiming() { return Get(ExtCsdFieldOf::HS_TIMING); }

unsigned int CExtCSD::GetBusWidth() { return Get(ExtCsdFieldOf::BUS_WIDTH); }
