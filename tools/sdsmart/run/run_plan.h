// SPDX-License-Identifier: MIT
// What an acquisition settles before it writes anything to the card: the
// options, the device, the state directory, the configuration and the
// output file are each decided once, here, and the run goes one way from
// there. Everything that can be refused is refused before the first write.
#pragma once

#include "device/guard.h"
#include "run/options.h"
#include "run/run_status.h"
#include "util/files.h"

#include <memory>
#include <string>

namespace sdsmart_tool {

struct RunPlan {
  Options Opts;                         // the device is the node its links lead to
  DeviceVerdict Verdict;                // what the device guard found
  std::string StateDir;                 // the journal and the memory of unsupported cards
  std::string Entry;                    // the configured entry string
  std::unique_ptr<PendingFile> Metrics; // --prometheus=FILE, its temporary file made
};

// false when the run must not touch the card (said, with the exit bits).
bool SettleRun(const Options &options, RunStatus &status, RunPlan &plan);

// A --prometheus=FILE whose temporary file can be made; false (said, exit
// bit of the output) when it cannot.
bool PrepareMetricsFile(const Options &options, RunStatus &status,
                        std::unique_ptr<PendingFile> &file);

} // namespace sdsmart_tool
