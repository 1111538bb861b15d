// SPDX-License-Identifier: MIT
// The health verdict and the exit bits it sets.
#pragma once

#include "card/card_data.h"
#include "run/run_status.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

enum class Verdict { Passed, Warning, Failed };

struct HealthLimits {
  double WarnLife = 10.0; // percent of remaining life at or below which WARNING
  double FailLife = 0.0;  // percent of remaining life at or below which FAILED
};

struct HealthResult {
  Verdict Status = Verdict::Passed;
  std::vector<std::string> Reasons; // why it is not PASSED, one line each
  std::vector<std::string> NotRead; // what the verdict could not look at
};

// FAILED: remaining life <= FailLife, or the card reports itself
//         write-protected.
// WARNING: remaining life <= WarnLife, or uncorrectable ECC errors occurred,
//          or the remaining life is unknown (no rated cycles or no blocks),
//          or the reading contradicts itself (plausibility.h): then each
//          contradiction is a reason, and what would have failed the card
//          only warns.
// PASSED otherwise. A count this run did not read is named in NotRead.
HealthResult Evaluate(const CardCounters &counters, const HealthLimits &limits,
                      const std::vector<std::string> &contradictions = {});

// The verdict of what failed and what warned: FAILED with any failure,
// WARNING with any warning, else PASSED; the reasons failures first.
HealthResult Conclude(std::vector<std::string> failed, const std::vector<std::string> &warned,
                      std::vector<std::string> notRead = {});

const char *VerdictName(Verdict v); // "PASSED", "WARNING", "FAILED"
int VerdictExitBits(Verdict v);

} // namespace sdsmart_tool
