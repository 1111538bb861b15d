// SPDX-License-Identifier: MIT
#include "sdsmart/spi_response.h"

#include <algorithm>

#include "registers/report_text.h"

using namespace RegisterText;

namespace {

// R1 flags by bit, 1 to 6 (bit 0 is the idle state).
const wchar_t *const kR1Flag[] = {L"",
                                  L"Erase Reset",
                                  L"Illegal Command",
                                  L"Com CRC Error",
                                  L"Erase Sequence Error",
                                  L"Address Error",
                                  L"Parameter Error"};
// The second byte of R2 by bit, 0 to 7.
const wchar_t *const kR2Flag[] = {L"Card Is Locked",  L"WP Erase Skip | Lock/Unlock Cmd Failed",
                                  L"Error",           L"CC Error",
                                  L"Card ECC Failed", L"WP Violation",
                                  L"Erase Param",     L"Out of Range | CSD OverWrite"};

std::wstring FlagLine(const wchar_t *name, size_t width, unsigned int byte, unsigned int bit) {
  std::wstring line = name;
  line.resize(std::max(line.size(), width), L' ');
  return line + L" : " + Dec((byte >> bit) & 1u);
}

} // namespace

std::wstring CSpiR1::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"SPI R1");
  r.Line((r1 & 1u) ? L"Card State           : Idle" : L"Card State           : Ready");
  for (unsigned int bit = 1; bit <= 6; ++bit)
    r.Line(FlagLine(kR1Flag[bit], 20, r1, bit));
  return r.Text();
}

std::wstring CSpiR2::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Raw(CSpiR1::Parse(indent));
  r.Line(L"");
  r.Line(L"SPI R2");
  for (unsigned int bit = 0; bit < 8; ++bit)
    r.Line(FlagLine(kR2Flag[bit], 38, status, bit));
  return r.Text();
}

CSpiR1::CSpiR1(unsigned char r1) : r1(r1) {}

unsigned char CSpiR1::GetR1() { return r1; }

CSpiR2::CSpiR2(unsigned char *r2) : CSpiR2(static_cast<const unsigned char *>(r2)) {}

CSpiR2::CSpiR2(const unsigned char *r2) : CSpiR1(r2[0]), status(r2[1]) {}

unsigned char CSpiR2::GetStatus() { return status; }
