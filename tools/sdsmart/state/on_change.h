// SPDX-License-Identifier: MIT
// --on-change COMMAND: runs COMMAND (no shell) when the card's verdict
// changes, when its remaining life first crosses the warning or failure
// limit, and when the forecast end date moves 30 days or more earlier than
// the one last announced. What was announced is kept in memoryFile, so each
// change runs the command once.
#pragma once

#include "run/options.h"
#include "run/run_status.h"

#include <string>

namespace sdsmart_tool {

// The end date must move this much earlier to be announced again.
constexpr int64_t kForecastMoveSeconds = 30 * 86400;

void RunOnChange(const Options &o, const std::string &memoryFile, const std::string &stateFile,
                 RunStatus &status);

} // namespace sdsmart_tool
