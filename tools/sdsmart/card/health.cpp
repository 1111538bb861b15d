// SPDX-License-Identifier: MIT
#include "card/health.h"

#include <cmath>
#include <cstdio>

namespace sdsmart_tool {
namespace {

std::string Percent(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %%", v);
  return text;
}

} // namespace

HealthResult Evaluate(const CardCounters &c, const HealthLimits &limits,
                      const std::vector<std::string> &contradictions) {
  HealthResult r;
  std::vector<std::string> failed, warned;
  std::optional<LifeFigures> life = Life(c);
  if (!life)
    warned.push_back(std::string("remaining life is unknown (") +
                     (!contradictions.empty() ? "the reading is implausible"
                      : c.PeCycleCount == 0   ? "the card reports 0 rated P/E cycles"
                                              : "the card reports 0 virtual blocks") +
                     ")");
  else if (life->Remaining <= limits.FailLife)
    failed.push_back("remaining life " + Percent(life->Remaining) +
                     " is at or below the failure limit " + Percent(limits.FailLife));
  else if (life->Remaining <= limits.WarnLife)
    warned.push_back("remaining life " + Percent(life->Remaining) +
                     " is at or below the warning limit " + Percent(limits.WarnLife));
  if (c.WriteProtectStatus != 0)
    failed.push_back("the card reports itself write-protected (status " +
                     std::to_string(c.WriteProtectStatus) + ")");
  if (!c.EccUncorrectable)
    r.NotRead.push_back("uncorrectable ECC errors (select bit 4)");
  else if (*c.EccUncorrectable != 0)
    warned.push_back(std::to_string(*c.EccUncorrectable) + " uncorrectable ECC error" +
                     (*c.EccUncorrectable == 1 ? "" : "s"));
  // A reading that contradicts itself fails no card: its contradictions come
  // first, and what would have failed the card only warns.
  if (!contradictions.empty()) {
    warned.insert(warned.begin(), failed.begin(), failed.end());
    warned.insert(warned.begin(), contradictions.begin(), contradictions.end());
    failed.clear();
  }
  return Conclude(failed, warned, r.NotRead);
}

HealthResult Conclude(std::vector<std::string> failed, const std::vector<std::string> &warned,
                      std::vector<std::string> notRead) {
  HealthResult r;
  r.Status = !failed.empty()   ? Verdict::Failed
             : !warned.empty() ? Verdict::Warning
                               : Verdict::Passed;
  r.Reasons = std::move(failed);
  r.Reasons.insert(r.Reasons.end(), warned.begin(), warned.end());
  r.NotRead = std::move(notRead);
  return r;
}

const char *VerdictName(Verdict v) {
  switch (v) {
  case Verdict::Passed:
    return "PASSED";
  case Verdict::Warning:
    return "WARNING";
  case Verdict::Failed:
    return "FAILED";
  }
  return "FAILED";
}

int VerdictExitBits(Verdict v) {
  switch (v) {
  case Verdict::Passed:
    return 0;
  case Verdict::Warning:
    return kExitHealthWarning;
  case Verdict::Failed:
    return kExitHealthFailed;
  }
  return kExitHealthFailed;
}

} // namespace sdsmart_tool
