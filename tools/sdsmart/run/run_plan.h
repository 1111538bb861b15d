// SPDX-License-Identifier: MIT
// What a run settles before it touches anything: the options, the device,
// the state directory, the configuration and the output file are each
// decided once, here, and handed on in the plan; nothing after decides them
// again. An acquisition refuses here whatever can be refused, before the
// first write.
#pragma once

#include "device/guard.h"
#include "run/options.h"
#include "run/run_status.h"
#include "util/files.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sdsmart_tool {

struct RunPlan {
  Options Opts;                                    // the device is the node its links lead to
  DeviceVerdict Verdict;                           // what the device guard found
  HealthSource Source = HealthSource::VendorSmart; // what the node is read by
  // The rated P/E cycles a card rule gives for a header that gives none, and
  // where it stands ("FILE line N").
  std::optional<uint32_t> RatedCycles;
  std::string RatedFrom;
  std::string StateDir;                   // the journal, histories, memory of unsupported cards
  std::string Entry;                      // the configured entry string
  std::unique_ptr<PendingFile> Metrics;   // --prometheus=FILE, its temporary file made
  std::unique_ptr<PendingFile> Recording; // --record FILE, its temporary file made
  std::array<uint8_t, 16> RecordingKey{}; // the hashes of a redacted recording
};

// What a run does in the state directory.
enum class StateUse {
  Keep, // writes there (journal, history, memory): it must be writable
  Read, // reads the histories only (`history`)
};

// The state directory: the one --state-dir names, else the first of
// /var/lib/sdsmart, $XDG_STATE_HOME/sdsmart and ~/.local/state/sdsmart that
// serves. To keep, a folder serves when it is (or can be made) writable;
// empty when none does. To read, the named folder as it is, else the first
// that holds histories, else /var/lib/sdsmart. Only SettleStateDir calls it
// in a run.
std::string ChooseStateDir(const std::string &named, StateUse use = StateUse::Keep);

// The plan's state directory, decided for the whole run.
void SettleStateDir(RunPlan &plan, StateUse use);

// The configured entry string as a run on `device` would load it, without a
// word; "" when the configuration does not serve (for --scan, which writes
// nothing and only looks up the memory of cards not supported).
std::string QuietEntryString(const Options &options, const std::string &device);

// An acquisition's plan; false when the run must not touch the card (said,
// with the exit bits).
bool SettleRun(const Options &options, RunStatus &status, RunPlan &plan);

// An output file whose temporary file can be made beside it; false (said,
// exit bit of the output) when it cannot. Empty `path`: nothing to prepare.
bool PrepareOutputFile(const std::string &path, mode_t mode, RunStatus &status,
                       std::unique_ptr<PendingFile> &file);

// The --prometheus=FILE of the options.
bool PrepareMetricsFile(const Options &options, RunStatus &status,
                        std::unique_ptr<PendingFile> &file);

} // namespace sdsmart_tool
