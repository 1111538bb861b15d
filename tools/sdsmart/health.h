// The health verdict and the exit-status bits of the tool.
#pragma once

#include "card_data.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

// Exit status: a bitmask, as disk-health tools do it.
enum ExitBits : int {
  kExitCommandLine = 1 << 0,   // the command line could not be parsed
  kExitOpenFailed = 1 << 1,    // the device could not be opened
  kExitAcquisition = 1 << 2,   // reading the SMART data failed
  kExitHealthFailed = 1 << 3,  // health verdict FAILED
  kExitHealthWarning = 1 << 4, // health verdict WARNING
};

enum class Verdict { Passed, Warning, Failed };

struct HealthLimits {
  double warn_life = 10.0; // percent of remaining life at or below which WARNING
  double fail_life = 0.0;  // percent of remaining life at or below which FAILED
};

struct HealthResult {
  Verdict verdict = Verdict::Passed;
  std::vector<std::string> reasons; // why it is not PASSED, one line each
};

// FAILED: remaining life <= fail_life, or the card reports itself
//         write-protected.
// WARNING: remaining life <= warn_life, or uncorrectable ECC errors occurred,
//          or the remaining life is not a number (no rated endurance known).
// PASSED otherwise.
HealthResult Evaluate(const CardCounters &counters, const HealthLimits &limits);

const char *VerdictName(Verdict v); // "PASSED", "WARNING", "FAILED"
int VerdictExitBits(Verdict v);

} // namespace sdsmart_tool
