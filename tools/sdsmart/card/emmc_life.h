// SPDX-License-Identifier: MIT
// An eMMC's own life estimate (JEDEC extended CSD): the wear of each type
// of its memory in 10 % bands (DEVICE_LIFE_TIME_EST_TYP_A and _B) and the
// state of its reserved blocks (PRE_EOL_INFO), as the kernel shows them in
// sysfs or as CMD8 reads them. The verdict a band and a state give.
#pragma once

#include "card/health.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sdsmart_tool {

// Where the estimate came from: "sysfs" (life_time, pre_eol_info) or
// "ext_csd" (CMD8, where the kernel shows none).
struct EmmcLife {
  std::string From;
  uint8_t LifeA = 0, LifeB = 0; // the raw bytes: 0x01..0x0A bands, 0x0B exceeded
  uint8_t PreEol = 0;           // 0x01 normal, 0x02 warning, 0x03 urgent
};

// A life band's share of the rated life used, in percent: 0x01 is 0-10 %,
// ... 0x0A 90-100 %, 0x0B exceeded (100 and above, no upper bound). nullopt
// for 0x00 (not defined) and reserved values.
struct LifeBand {
  unsigned UsedFrom = 0;
  std::optional<unsigned> UsedTo; // none when exceeded
};
std::optional<LifeBand> BandOf(uint8_t value);
// "30-40 % used", "life exceeded", "not reported", "reserved value 0x0c".
std::string BandText(uint8_t value);
// "normal", "warning (80 % of reserved blocks used)", "urgent (90 % ...)",
// "not reported", "reserved value 0x04".
std::string PreEolText(uint8_t value);
constexpr uint8_t kPreEolNormal = 1, kPreEolWarning = 2, kPreEolUrgent = 3, kLifeExceeded = 0x0B;

// FAILED: a band exceeded, pre-EOL urgent, or a band whose least wear leaves
//         no more than FailLife;
// WARNING: pre-EOL warning, a band whose least wear leaves no more than
//          WarnLife, or no defined value at all;
// a value not reported or reserved decides nothing: it is named in NotRead;
// PASSED otherwise.
HealthResult EvaluateEmmc(const EmmcLife &life, const HealthLimits &limits);

// The estimate in a 512-byte extended CSD (CMD8's answer): all not reported
// (0) before EXT_CSD_REV 7, where those bytes are reserved.
EmmcLife LifeFromExtCsd(const unsigned char *extCsd);

// Parses sysfs texts: life_time "0x01 0x02", pre_eol_info "0x01". false
// when a text is not the kernel's.
bool ParseLifeTime(const std::string &text, uint8_t &a, uint8_t &b);
bool ParsePreEol(const std::string &text, uint8_t &value);

} // namespace sdsmart_tool
