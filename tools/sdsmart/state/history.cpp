// SPDX-License-Identifier: MIT
#include "state/history.h"

#include "output/output.h"
#include "run/run_plan.h"
#include "state/on_change.h"
#include "state/state_file.h"
#include "util/files.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace sdsmart_tool {
namespace {

HistoryReading ReadingOf(const RunRecord &run, int64_t now) {
  const CardCounters &c = run.Card->Counters;
  HistoryReading r;
  r.Time = now;
  if (const std::optional<LifeFigures> life = Life(c)) {
    r.RemainingPercent = life->Remaining;
    r.UsedPercent = life->Used;
  }
  r.TotalErases = c.TotalEraseCount;
  r.AverageErases = c.AverageEraseCount;
  r.RatedCycles = c.PeCycleCount;
  r.LaterBadBlocks = c.LaterBadBlocks;
  r.PowerCycles = c.PowerCycles;
  r.EccUncorrectable = c.EccUncorrectable;
  r.Verdict = run.Health ? VerdictName(run.Health->Status) : "";
  r.ToolVersion = SDSMART_TOOL_VERSION;
  return r;
}

void SaySkipped(const std::string &path, const LoadedHistory &h, RunStatus &status) {
  if (h.Skipped)
    status.Say("warning", path + ": skipped " + std::to_string(h.Skipped) +
                              (h.Skipped == 1 ? " line that is" : " lines that are") +
                              " no reading" + (h.TornEnd ? " (the last one was cut off)" : "") +
                              "; the history is rewritten without " +
                              (h.Skipped == 1 ? "it" : "them"));
}

} // namespace

Json WithForecast(Json document, const RunRecord &run) {
  if (run.Forecast)
    document["forecast"] = ForecastJson(*run.Forecast);
  return document;
}

std::string WithForecastMetrics(const std::string &text, const RunRecord &run) {
  // The card's labels as the textfile writes them, from its first sample.
  size_t open = text.find("\nsdsmart_smart_read_success{");
  size_t close = text.find('}', open);
  if (!run.Forecast || open == std::string::npos || close == std::string::npos)
    return text;
  open = text.find('{', open) + 1;
  return text + ForecastMetrics(text.substr(open, close - open), *run.Forecast);
}

std::string ForecastReport(const RunRecord &run) {
  return run.Forecast ? "\n" + ForecastLine(*run.Forecast) : "";
}

std::string HistoryPath(const std::string &stateDir, const std::string &id) {
  return stateDir + "/history/" + id + ".jsonl";
}

std::string StatePath(const std::string &stateDir, const std::string &id) {
  return stateDir + "/cards/" + id + ".json";
}

void KeepHistory(const RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  const std::string &stateDir = plan.StateDir;
  RunRecord &run = status.Run();
  std::string id = CardKey(*run.Card);
  if (id.empty() || stateDir.empty()) {
    status.Say("information", id.empty() ? "the card names no CID: its history is not kept"
                                         : "no state folder: the card's history is not kept");
    return;
  }
  std::string path = HistoryPath(stateDir, id);
  LoadedHistory history;
  if (!MakeDirectories(DirectoryOf(path), 0755) || !LoadHistory(path, history)) {
    status.Say("error", "cannot read the history " + path + ": " + std::strerror(errno));
    status.Fail(kExitAcquisition);
    return;
  }
  SaySkipped(path, history, status);
  HistoryReading reading = ReadingOf(run, static_cast<int64_t>(std::time(nullptr)));
  try {
    AppendReading(path, history, reading, int64_t{o.HistoryIntervalHours} * 3600);
  } catch (const std::exception &e) {
    status.Say("error",
               std::string("the reading was not added to the card's history: ") + e.what());
    status.Fail(kExitAcquisition);
  }
  history.Readings.push_back(reading);
  WearForecast f = MakeForecast(history.Readings, o.WindowDays, o.Limits.FailLife);
  f.CardId = id;
  f.HistoryFile = path;
  f.Skipped = history.Skipped;
  run.Forecast = f;
  std::string stateFile = StatePath(stateDir, id);
  try {
    run.ExitStatus = status.Status();
    WriteCardState(stateFile, stateDir + "/latest", o.Device,
                   JsonText(WithForecast(BuildJson(run), run)));
    run.Forecast->StateFile = stateFile;
  } catch (const std::exception &e) {
    status.Say("error", std::string("the card's state file was not written: ") + e.what());
    status.Fail(kExitAcquisition);
  }
  if (!o.OnChange.empty())
    RunOnChange(o, stateDir + "/cards/" + id + ".notified", stateFile, status);
}

} // namespace sdsmart_tool
