// SPDX-License-Identifier: MIT
#include "state/history.h"

#include "output/output.h"
#include "run/run_plan.h"
#include "state/on_change.h"
#include "state/state_file.h"
#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace sdsmart_tool {
namespace {

HistoryReading ReadingOf(const RunRecord &run, const HealthResult &standing, int64_t now) {
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
  r.Implausible = !run.Contradictions.empty();
  r.Writes = ReadBlockWrites(run.Card->Device);
  if (r.Writes.Sectors && c.TotalPhysicalBlocks)
    r.BlockBytes = run.Card->Identity.CapacityBytes / c.TotalPhysicalBlocks;
  r.Verdict = VerdictName(standing.Status);
  r.ToolVersion = SDSMART_TOOL_VERSION;
  return r;
}

// The card's verdict as its history and --on-change keep it: a count this
// run did not read (--select) stands as the last reading that read it left
// it, so that reading fewer pages never makes a card look better or changed.
HealthResult StandingHealth(const RunPlan &plan, const RunRecord &run,
                            const std::vector<HistoryReading> &past, RunStatus &status) {
  const CardCounters &c = run.Card->Counters;
  auto last = std::find_if(past.rbegin(), past.rend(),
                           [](const HistoryReading &r) { return r.EccUncorrectable.has_value(); });
  if (c.EccUncorrectable || last == past.rend())
    return *run.Health;
  CardCounters carried = c;
  carried.EccUncorrectable = last->EccUncorrectable;
  HealthResult standing = Evaluate(carried, plan.Opts.Limits, run.Contradictions);
  if (standing.Status != run.Health->Status)
    status.Say("information", "uncorrectable ECC errors were not read (select bit 4): the card's "
                              "history and --on-change keep its verdict " +
                                  std::string(VerdictName(standing.Status)) + ", with the " +
                                  std::to_string(*last->EccUncorrectable) +
                                  " counted by its reading of " +
                                  DateText(last->Time, "%Y-%m-%d %H:%M") + " UTC");
  return standing;
}

std::string Lines(size_t n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); }

} // namespace

Json WithForecast(Json document, const RunRecord &run) {
  if (run.Forecast)
    document["forecast"] = ForecastJson(*run.Forecast);
  // An eMMC's history, or a card's read by its registers.
  for (const char *section : {"emmc", "registers"})
    if (run.NodeHistory && document.contains(section))
      document[section]["history"] = NodeTrendJson(*run.NodeHistory);
  return document;
}

std::string WithForecastMetrics(const std::string &text, const RunRecord &run) {
  // The card's labels as the textfile writes them, from its first sample.
  size_t open = text.find("\nsdsmart_smart_read_success{");
  size_t close = text.find('}', open);
  if ((!run.Forecast && !run.NodeHistory) || open == std::string::npos ||
      close == std::string::npos)
    return text;
  open = text.find('{', open) + 1;
  const std::string labels = text.substr(open, close - open);
  return text + (run.Forecast ? ForecastMetrics(labels, *run.Forecast) : "") +
         (run.NodeHistory ? NodeTrendMetrics(labels, *run.NodeHistory) : "");
}

std::string ForecastReport(const RunRecord &run) {
  if (run.NodeHistory)
    return "\n" + NodeTrendText(*run.NodeHistory);
  return run.Forecast ? "\n" + ForecastLine(*run.Forecast) +
                            WriteVolumeLine(run.Forecast->Writes, run.Forecast->WritesWhy)
                      : "";
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
  if (!run.Health) // a card read is always judged
    return;
  if (id.empty() || stateDir.empty()) {
    status.Say("information", id.empty() ? "the card names no CID: its history is not kept"
                                         : "no state folder: the card's history is not kept");
    return;
  }
  std::string path = HistoryPath(stateDir, id);
  LoadedHistory history;
  if (!MakeDirectories(DirectoryOf(path), 0755) || !LoadHistory(path, history)) {
    status.Say("error", HistoryLoadFailure(path));
    status.Fail(kExitAcquisition);
    return;
  }
  const HealthResult standing = StandingHealth(plan, run, history.Readings, status);
  HistoryReading reading = ReadingOf(run, standing, static_cast<int64_t>(std::time(nullptr)));
  // Lines that are no reading: skipped, or moved where the history is rewritten.
  auto sayUnread = [&](const std::string &done, const std::string &where) {
    if (history.Skipped)
      status.Say("warning", path + ": " + done + " " + Lines(history.Skipped) + " that " +
                                (history.Skipped == 1 ? "is" : "are") + " no reading" +
                                (history.TornEnd ? " (the last one was cut off)" : "") + where);
  };
  std::optional<int64_t> latest;
  for (const HistoryReading &r : history.Readings)
    latest = std::max(latest.value_or(r.Time), r.Time);
  if (std::string clock = ClockProblem(reading.Time, latest, "the card's"); !clock.empty()) {
    status.Say("warning", clock + ": this reading is not added to the card's history " + path +
                              "; set the system clock");
    sayUnread("skipped", "");
  } else {
    try {
      AppendReading(path, history, reading, int64_t{o.HistoryIntervalHours} * 3600);
      sayUnread("moved", " to " + RejectedPath(path));
    } catch (const std::exception &e) {
      status.Say("error",
                 std::string("the reading was not added to the card's history: ") + e.what());
      status.Fail(kExitAcquisition);
    }
    history.Readings.push_back(reading);
  }
  WearForecast f = MakeForecast(history.Readings, o.WindowDays, o.Limits.FailLife);
  f.CardId = id;
  f.HistoryFile = path;
  f.Skipped = history.Skipped;
  run.Forecast = f;
  run.Forecast->StateFile = KeepState(plan, status, id, "the card's", &standing);
}

std::string ClockProblem(int64_t now, std::optional<int64_t> latest, const std::string &whose) {
  auto at = [](int64_t t) { return DateText(t, "%Y-%m-%d %H:%M") + " UTC"; };
  if (now < kEarliestReadingTime)
    return "the clock says " + at(now) + ", before " + DateText(kEarliestReadingTime) +
           ": it is not set";
  if (latest && now < *latest)
    return "the clock says " + at(now) + ", before " + whose + " last reading in its history (" +
           at(*latest) + ")";
  return "";
}

std::string KeepState(const RunPlan &plan, RunStatus &status, const std::string &id,
                      const std::string &whose, const HealthResult *standing) {
  RunRecord &run = status.Run();
  const std::string stateFile = StatePath(plan.StateDir, id);
  bool written = true;
  try {
    run.ExitStatus = status.Status();
    WriteCardState(stateFile, plan.StateDir + "/latest", plan.Opts.Device,
                   JsonText(WithForecast(BuildJson(run), run)));
  } catch (const std::exception &e) {
    status.Say("error", whose + " state file was not written: " + e.what());
    status.Fail(kExitAcquisition);
    written = false;
  }
  if (!plan.Opts.OnChange.empty() && standing)
    RunOnChange(plan.Opts, plan.StateDir + "/cards/" + id + ".notified", stateFile, id, *standing,
                status);
  return written ? stateFile : "";
}

} // namespace sdsmart_tool
