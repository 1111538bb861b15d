// SPDX-License-Identifier: MIT
// What a successful reading leaves behind: a line in the card's history, the
// forecast from it, the state file anyone may read and, when asked, the
// --on-change command.
#pragma once

#include "output/output.h"
#include "run/run_status.h"
#include "state/forecast.h"

#include <string>

namespace sdsmart_tool {

struct RunPlan;

// Called as the run ends, with the card read: sets the run's forecast and
// writes the history and the state file. Failures to keep them are errors of
// the run (the reading itself stands); --on-change failures are warnings.
void KeepHistory(const RunPlan &plan, RunStatus &status);

// The forecast in the three renderings of a run: the JSON document's
// "forecast", the textfile's forecast metrics and the report's line.
Json WithForecast(Json document, const RunRecord &run);
std::string WithForecastMetrics(const std::string &text, const RunRecord &run);
std::string ForecastReport(const RunRecord &run);

// History, state file and --on-change memory of a card in the state folder.
std::string HistoryPath(const std::string &stateDir, const std::string &id);
std::string StatePath(const std::string &stateDir, const std::string &id);

} // namespace sdsmart_tool
