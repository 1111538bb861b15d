// SPDX-License-Identifier: MIT
// The CSD text reports of the three layouts. They share most lines; the
// version 2.0 report drops the current and multiplier lines, the MMC report
// swaps the erase geometry and adds its ECC and protection lines.
#include <iomanip>
#include <locale>
#include <sstream>

#include "registers/report_text.h"
#include "sdsmart/convert.h"
#include "sdsmart/csd.h"

using namespace RegisterText;

namespace {

enum class Layout { SdV10, SdV20, Mmc };

// clang-format off
const wchar_t *const kAccessTimeUnit[] = {L"1ns", L"10ns", L"100ns", L"1us",
                                          L"10us", L"100us", L"1ms", L"10ms"};
const wchar_t *const kRateUnit[] = {L"100Kbit/s", L"1Mbit/s", L"10Mbit/s", L"100Mbit/s",
                                    L"reserved", L"reserved", L"reserved", L"reserved"};
const wchar_t *const kMultiplier[] = {L"reserved", L"1.0", L"1.2", L"1.3", L"1.5", L"2.0",
                                      L"2.5", L"3.0", L"3.5", L"4.0", L"4.5", L"5.0",
                                      L"5.5", L"6.0", L"7.0", L"8.0"};
const wchar_t *const kMinCurrent[] = {L"0.5mA", L"1mA", L"5mA", L"10mA",
                                      L"25mA", L"35mA", L"60mA", L"100mA"};
const wchar_t *const kMaxCurrent[] = {L"1mA", L"5mA", L"10mA", L"25mA",
                                      L"35mA", L"45mA", L"80mA", L"200mA"};
const wchar_t *const kFileFormat[] = {
    // "partitioon" is kept as hosts have always read it.
    L"Hard disk-like file system with partitioon table",
    L"DOS FAT (floppy-like) with boot sector only (no partition table)",
    L"Universal File Format", L"Others/Unknown"};
const wchar_t *const kMmcSpecVersion[] = {L"1.0 - 1.2", L"1.4", L"2.0 - 2.2",
                                          L"3.1 - 3.2 - 3.3 ", L"4.0"};
// Command class names by class number; empty where the class has no name.
const wchar_t *const kClassName[] = {L"Basic", L"", L"Block Read", L"", L"Block Write",
                                     L"Erase", L"Write Protection", L"Lock Card",
                                     L"Application Specific", L"", L"Switch", L""};
// clang-format on

std::wstring Flag(bool set, const wchar_t *yes, const wchar_t *no) { return set ? yes : no; }

// The capacity in GiB with trailing zeros kept: 3 significant digits below
// 10, 4 below 100, 5 otherwise.
std::wstring GiB(uint64_t capacity) {
  const double gib = static_cast<double>(capacity) / 1073741824.0;
  std::wostringstream s;
  s.imbue(std::locale::classic());
  s << std::showpoint << std::setprecision(gib < 10 ? 3 : gib < 100 ? 4 : 5) << gib;
  return s.str();
}

std::wstring ClassLine(unsigned int cls, Layout layout) {
  const bool named =
      cls < 12 && kClassName[cls][0] != L'\0' && (cls != 10 || layout != Layout::Mmc);
  return named ? std::wstring(kClassName[cls]) : L"class " + Dec(cls);
}

struct CsdView {
  CCSD &csd;
  Layout layout;
  unsigned int cSize;
  CSdCSD *sd;
  CMmcCSD *mmc;
};

// Erase and write-protect groups, protection flags and the check value.
void ReportProtection(const CsdView &v, CReportText &r) {
  CCSD &c = v.csd;
  if (v.sd) {
    r.Line(Flag(v.sd->GetErasedBlockEn(), L"Erase block enabled", L"Erase block disabled"));
    r.Line(L"Erase sector size = " + Dec(v.sd->GetEraseSectorSize() + 1) + L" write block(s)");
    r.Line(L"Write protect group size = " + Dec(v.sd->GetWriteProtectGroupSize() + 1) +
           L" erase groups");
  } else if (v.mmc) {
    r.Line(L"Erase group size = " + Dec(v.mmc->GetEraseGroupSize() + 1));
    r.Line(L"Erase group size multiplier = " + Dec(v.mmc->GetEraseGroupMult() + 1));
    r.Line(L"Write protect group size = " + Dec(v.mmc->GetWriteProtectGroupSize() + 1));
  }
  r.Line(Flag(c.GetWriteProtectGroupEnabled(), L"Write protect group enabled",
              L"Write protect group disabled"));
  if (v.mmc)
    r.Line(L"Manufacturer default ECC = " + Dec(v.mmc->GetDefaultECC()));
  r.Line(L"Write speed factor = " + Dec(c.GetWriteSpeedFactor()));
  r.Line(L"Max. write data block length = " + Dec(c.GetMaxWriteBlockLength()) + L" Bytes");
  r.Line(Flag(c.GetPartialWriteEn(), L"Partial blocks for write allowed",
              L"Partial blocks for write not allowed"));
  if (v.mmc)
    r.Line(L"Content protection application = " + Dec(v.mmc->GetContentProtectionApplication()));
  r.Line(Flag(c.GetFileFormatGroup(), L"File format group = 1", L"File format group = 0"));
  r.Line(Flag(c.GetCopyFlag(), L"Content has been copied", L"Content is an original"));
  r.Line(Flag(c.GetPermanentWriteProtection(), L"Card content permanently write protected",
              L"Card content not permanently write protected"));
  r.Line(Flag(c.GetTemporaryWriteProtection(), L"Card content temporarily write protected",
              L"Card content not temporarily write protected"));
  r.Line(L"File format = " + std::wstring(kFileFormat[c.GetFileFormat()]));
  if (v.mmc)
    r.Line(L"ECC code = " + Dec(v.mmc->GetECC()));
  r.Line(L"CRC7 = 0x" + Hex(c.GetCRC7(), 2));
  r.Line(L"Erase Unit = 0x" + Hex(c.GetErasedUnit()));
  if (v.mmc)
    r.Line(L"Write Protected Unit = 0x" + Hex(c.GetWriteProtectionUnit()));
}

// The capacity, in the unit each layout prints it in.
void ReportCapacity(const CsdView &v, CReportText &r) {
  CCSD &c = v.csd;
  const uint64_t capacity = c.GetCapacity();
  const uint64_t blocks = capacity / 512;
  if (v.layout == Layout::SdV20) {
    r.Line(L"Card capacity = " + Dec(capacity >> 20) + L" MB = " + GiB(capacity) + L" GB");
  } else {
    std::wstring line = L"Card capacity = " + Dec(capacity) + (v.mmc ? L"(0x" : L"( 0x") +
                        Hex(capacity) + L" ) Bytes = " + Dec(capacity >> 20) + L" MB";
    if (capacity > 0x40000000u)
      line += L" = " + GiB(capacity) + L" GB";
    r.Line(line);
  }
  if (v.mmc)
    r.Line(L"Block Number = " + Dec(blocks) + L"(0x" + Hex(blocks) + L") (Block Length = 512)");
  else
    r.Line(L"Block Number = " + Dec(blocks) + L" (0x" + Hex(blocks) + L" ) (Block Length = 512)");
}

std::wstring Report(const CsdView &v, unsigned int indent) {
  CCSD &c = v.csd;
  CReportText r(indent);
  r.Line(v.layout == Layout::SdV20 ? L"CSD Register Version 2.0" : L"CSD Register");
  r.Line(L"---------------------------------");
  r.Line(ByteArrayToHexStr(c.Data(), 16));

  const unsigned int structure = c.GetCSDStructure();
  if (structure == 0)
    r.Line(L"CSD version No. 1.0");
  else if (structure == 1 && v.layout == Layout::SdV20)
    r.Line(L"CSD version No. 2.0");
  else
    r.Line(L"CSD structure = " + Dec(structure));
  if (v.mmc) {
    // SPEC_VERS: the version of the MMC system the card follows.
    const unsigned int version = v.mmc->GetSystemSpecVersion();
    r.Line(version < 5 ? L"System specification = Version " + std::wstring(kMmcSpecVersion[version])
                       : L"System specification = Reserved");
  }

  const unsigned int taac = c.GetTAAC();
  r.Line(L"Data read access-time-1(" + std::wstring(kAccessTimeUnit[taac & 7]) + L") = " +
         kMultiplier[(taac >> 3) & 15]);
  r.Line(L"Data read access-time-2 in CLK cycles(NSAC*100) = " + Dec(c.GetNSAC()));
  const unsigned int speed = c.GetTransferSpeed();
  r.Line(L"Max data transfer rate(" + std::wstring(kRateUnit[speed & 7]) + L") = " +
         kMultiplier[(speed >> 3) & 15]);

  r.Line(L"Card command class support :");
  for (unsigned int cls = 0; cls < 12; ++cls)
    if ((c.GetCardCommandClass() >> cls) & 1u)
      r.Line(ClassLine(cls, v.layout));

  r.Line(L"Max. read data block length = " + Dec(c.GetMaxReadBlockLength()));
  r.Line(Flag(c.GetPartialReadEn(), L"Partial blocks for read allowed",
              L"Partial blocks for read not allowed"));
  r.Line(Flag(c.GetWriteMisalignmentEn(), L"Write block misalignment allowed",
              L"Write block misalignment not allowed"));
  r.Line(Flag(c.GetReadMisalignmentEn(), L"Read block misalignment allowed",
              L"Read block misalignment not allowed"));
  r.Line(Flag(c.GetDSRImplemented(), L"DSR implemented", L"DSR not implemented"));
  r.Line(L"Device size = " + Dec(v.cSize));
  if (v.layout != Layout::SdV20) {
    r.Line(L"Max. read current @VDD min = " + std::wstring(kMinCurrent[c.GetVDD_R_CURR_MIN()]));
    r.Line(L"Max. read current @VDD max = " + std::wstring(kMaxCurrent[c.GetVDD_R_CURR_MAX()]));
    r.Line(L"Max. write current @VDD min = " + std::wstring(kMinCurrent[c.GetVDD_W_CURR_MIN()]));
    r.Line(L"Max. write current @VDD max = " + std::wstring(kMaxCurrent[c.GetVDD_W_CURR_MAX()]));
    r.Line(L"Device size multiplier = " + Dec(c.Get_C_SIZE_MULT()));
  }

  ReportProtection(v, r);
  ReportCapacity(v, r);
  return r.Text();
}

} // namespace

std::wstring CSdCSD::Parse(unsigned int indent) {
  return Report({*this, Layout::SdV10, CCSD::Get_C_SIZE(), this, nullptr}, indent);
}

std::wstring CSdCSDV20::Parse(unsigned int indent) {
  return Report({*this, Layout::SdV20, Get_C_SIZE(), this, nullptr}, indent);
}

std::wstring CMmcCSD::Parse(unsigned int indent) {
  return Report({*this, Layout::Mmc, CCSD::Get_C_SIZE(), nullptr, this}, indent);
}
