// SPDX-License-Identifier: MIT
// --on-change COMMAND: runs COMMAND (no shell) when the card's verdict
// changes, when its remaining life first crosses the warning or failure
// limit, and when the forecast end date moves 30 days or more earlier than
// the one last announced. What was announced is kept in memoryFile once the
// command has succeeded, so each change runs the command until it succeeds
// once. The command has a time limit (--on-change-timeout) for its whole
// process group; its failure fails the run (exit bit 5: an output of the run).
#pragma once

#include "run/options.h"
#include "run/run_status.h"

#include <string>

namespace sdsmart_tool {

// The end date must move this much earlier to be announced again.
constexpr int64_t kForecastMoveSeconds = 30 * 86400;

// Between SIGTERM and SIGKILL to the command's process group.
constexpr unsigned kOnChangeGraceSeconds = 2;

// The most a run spends on its command, past its reading: its time limit, the
// grace, and as much again for what the run does after it. 0 without one.
unsigned OnChangeSecondsAtMost(const Options &o);

// With --on-every-reading every reading runs the command too (event
// "reading"), and a run that read no card runs it for the card the device's
// latest link leads to (event "unread", SDSMART_STATE_FILE its last reading).
// standing: the card's verdict as its history keeps it (counts this run did
// not read taken from the last reading that read them); for an eMMC, the
// verdict of its life estimate. cardId: the CID its files are named by.
void RunOnChange(const Options &o, const std::string &memoryFile, const std::string &stateFile,
                 const std::string &cardId, const HealthResult &standing, RunStatus &status);
void RunOnUnread(const Options &o, const std::string &stateDir, RunStatus &status);

} // namespace sdsmart_tool
