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

// Why a reading taken `now` cannot join a history whose latest reading is
// `latest`, "" when it can: a clock that is not set, or set back, would
// disorder it (and the forecast). `whose` names the device ("the card's").
std::string ClockProblem(int64_t now, std::optional<int64_t> latest, const std::string &whose);

// The run's document as the state file of the device `id` names, with the
// latest link of its node; then --on-change for its `standing` verdict, when
// it has one. The state file's path, "" when it could not be written (said,
// with the exit bit; `whose` names the device: "the card's").
std::string KeepState(const RunPlan &plan, RunStatus &status, const std::string &id,
                      const std::string &whose, const HealthResult *standing);

} // namespace sdsmart_tool
