// SPDX-License-Identifier: MIT
#include "card/emmc_life.h"

#include <sdsmart/ext_csd.h>

#include <cstdio>
#include <cstdlib>

namespace sdsmart_tool {
namespace {

std::string Hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

// "0x0a" and the like, as the kernel prints a byte; a whole token only.
bool ParseByte(const std::string &token, uint8_t &value) {
  if (token.size() < 3 || token.size() > 4 || token.compare(0, 2, "0x") != 0)
    return false;
  char *end = nullptr;
  const unsigned long v = std::strtoul(token.c_str() + 2, &end, 16);
  if (*end != '\0' || v > 0xFF)
    return false;
  value = static_cast<uint8_t>(v);
  return true;
}

// The life estimate came with eMMC 5.0 (EXT_CSD_REV 7).
constexpr unsigned kLifeSinceRevision = 7;

} // namespace

EmmcLife LifeFromExtCsd(const unsigned char *extCsd) {
  const CExtCSD fields(extCsd);
  EmmcLife life;
  life.From = "ext_csd";
  if (fields.Get(ExtCsdFieldOf::EXT_CSD_REV) < kLifeSinceRevision)
    return life;
  life.LifeA = static_cast<uint8_t>(fields.Get(ExtCsdFieldOf::DEVICE_LIFE_TIME_EST_TYP_A));
  life.LifeB = static_cast<uint8_t>(fields.Get(ExtCsdFieldOf::DEVICE_LIFE_TIME_EST_TYP_B));
  life.PreEol = static_cast<uint8_t>(fields.Get(ExtCsdFieldOf::PRE_EOL_INFO));
  return life;
}

std::optional<LifeBand> BandOf(uint8_t value) {
  if (value >= 0x01 && value <= 0x0A)
    return LifeBand{(value - 1u) * 10u, value * 10u};
  if (value == kLifeExceeded)
    return LifeBand{100, std::nullopt};
  return std::nullopt;
}

std::string BandText(uint8_t value) {
  const std::optional<LifeBand> band = BandOf(value);
  if (band && band->UsedTo)
    return std::to_string(band->UsedFrom) + "-" + std::to_string(*band->UsedTo) + " % used";
  if (band)
    return "life exceeded";
  return value == 0 ? "not reported" : "reserved value " + Hex(value);
}

std::string PreEolText(uint8_t value) {
  switch (value) {
  case 0:
    return "not reported";
  case kPreEolNormal:
    return "normal";
  case kPreEolWarning:
    return "warning (80 % of reserved blocks used)";
  case kPreEolUrgent:
    return "urgent (90 % of reserved blocks used)";
  }
  return "reserved value " + Hex(value);
}

HealthResult EvaluateEmmc(const EmmcLife &life, const HealthLimits &limits) {
  HealthResult r;
  std::vector<std::string> failed, warned;
  bool known = false;
  for (const auto &[type, value] : {std::pair{"A", life.LifeA}, std::pair{"B", life.LifeB}}) {
    const std::string name = std::string("life estimate of memory type ") + type;
    const std::optional<LifeBand> band = BandOf(value);
    if (!band) {
      r.NotRead.push_back(name + " (" + BandText(value) + ")");
      continue;
    }
    known = true;
    const double mostLeft = 100.0 - band->UsedFrom;
    if (value == kLifeExceeded || mostLeft <= limits.FailLife)
      failed.push_back(name + " is " + BandText(value));
    else if (mostLeft <= limits.WarnLife)
      warned.push_back(name + " is " + BandText(value) + ": at most " +
                       std::to_string(static_cast<unsigned>(mostLeft)) +
                       " % left, at or below the warning limit");
  }
  if (life.PreEol == kPreEolUrgent)
    failed.push_back("pre-EOL state is " + PreEolText(life.PreEol));
  else if (life.PreEol == kPreEolWarning)
    warned.push_back("pre-EOL state is " + PreEolText(life.PreEol));
  else if (life.PreEol != kPreEolNormal)
    r.NotRead.push_back("pre-EOL state (" + PreEolText(life.PreEol) + ")");
  known = known || (life.PreEol >= kPreEolNormal && life.PreEol <= kPreEolUrgent);
  if (!known)
    warned.push_back("remaining life is unknown (the eMMC reports no life estimate)");
  return Conclude(failed, warned, r.NotRead);
}

bool ParseLifeTime(const std::string &text, uint8_t &a, uint8_t &b) {
  const size_t blank = text.find(' ');
  return blank != std::string::npos && ParseByte(text.substr(0, blank), a) &&
         ParseByte(text.substr(blank + 1), b);
}

bool ParsePreEol(const std::string &text, uint8_t &value) { return ParseByte(text, value); }

} // namespace sdsmart_tool
