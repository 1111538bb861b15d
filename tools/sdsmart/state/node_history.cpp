// SPDX-License-Identifier: MIT
#include "state/node_history.h"

#include "output/output.h"
#include "run/run_plan.h"
#include "state/forecast.h"
#include "state/history.h"
#include "state/history_store.h"
#include "util/files.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sdsmart_tool {
namespace {

using Json = nlohmann::ordered_json;
constexpr uint8_t kLastBand = 0x0A; // 90-100 % used

// The higher of the two estimates that is a band, 0 when neither is.
uint8_t BandOfReading(const std::optional<EmmcLife> &life) {
  uint8_t band = 0;
  if (life)
    for (uint8_t v : {life->LifeA, life->LifeB})
      if (BandOf(v))
        band = std::max(band, v);
  return band;
}

bool SameLife(const std::optional<EmmcLife> &a, const std::optional<EmmcLife> &b) {
  if (!a || !b)
    return !a && !b;
  return a->LifeA == b->LifeA && a->LifeB == b->LifeB && a->PreEol == b->PreEol;
}

Json ReadingJson(const NodeReading &r) {
  Json j{{"time", r.Time}};
  if (r.Life)
    j.update({{"life_time_a", r.Life->LifeA},
              {"life_time_b", r.Life->LifeB},
              {"pre_eol", r.Life->PreEol}});
  j.update({{"verdict", r.Verdict}, {"version", r.ToolVersion}});
  PutWriteCount(j, r.Writes);
  return j;
}

bool ParseReading(const std::string &line, NodeReading &r) {
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  auto byte = [&](const char *key, uint8_t &out) {
    if (!j.contains(key) || !j[key].is_number_unsigned() || j[key].get<uint64_t>() > 255)
      return false;
    out = static_cast<uint8_t>(j[key].get<unsigned>());
    return true;
  };
  if (!j.is_object() || !j.contains("time") || !j["time"].is_number_integer() ||
      !j.value("verdict", Json()).is_string() || !j.value("version", Json()).is_string())
    return false;
  // A life estimate whole (an eMMC's), or none (a card's registers).
  if (j.contains("life_time_a") || j.contains("life_time_b") || j.contains("pre_eol")) {
    r.Life.emplace();
    if (!byte("life_time_a", r.Life->LifeA) || !byte("life_time_b", r.Life->LifeB) ||
        !byte("pre_eol", r.Life->PreEol))
      return false;
  }
  r.Time = j["time"].get<int64_t>();
  r.Verdict = j["verdict"].get<std::string>();
  r.ToolVersion = j["version"].get<std::string>();
  return TakeWriteCount(j, r.Writes);
}

// The readings as the write volume compares them (no erase counts).
std::vector<HistoryReading> WriteCounts(const std::vector<NodeReading> &readings) {
  std::vector<HistoryReading> counts(readings.size());
  for (size_t i = 0; i < readings.size(); ++i) {
    counts[i].Time = readings[i].Time;
    counts[i].Writes = readings[i].Writes;
  }
  return counts;
}

} // namespace

std::vector<NodeReading> KeptNodeReadings(const std::vector<NodeReading> &readings,
                                          unsigned windowDays) {
  std::vector<NodeReading> kept;
  // The readings the write volume compares the newest with: of its boot and
  // plugging, inside the window.
  auto compared = [&](size_t i) {
    return SameCount(readings.back().Writes, readings[i].Writes) &&
           readings.back().Time - readings[i].Time <= int64_t{windowDays} * 86400;
  };
  for (size_t i = 0; i < readings.size(); ++i) {
    const NodeReading &r = readings[i];
    const bool change = kept.empty() || !SameLife(r.Life, kept.back().Life);
    const bool firstCompared = compared(i) && (i == 0 || !compared(i - 1));
    if (i + 1 == readings.size() || change || firstCompared)
      kept.push_back(r);
  }
  return kept;
}

NodeTrend MakeNodeTrend(const std::vector<NodeReading> &readings, unsigned windowDays) {
  NodeTrend t;
  t.Readings = readings.size();
  WriteVolume writes;
  t.WritesWhy = WriteVolumeOf(WriteCounts(readings), windowDays, writes);
  if (t.WritesWhy.empty())
    t.Writes = writes;
  t.Emmc = !readings.empty() && readings.back().Life;
  if (!t.Emmc)
    return t;
  t.Band = BandOfReading(readings.back().Life);
  if (t.Band == 0) {
    t.Status = "no band reported";
    return t;
  }
  // When each higher band was first seen; the first reading's band is no
  // change (when it was entered is not known).
  std::vector<std::pair<int64_t, uint8_t>> changes;
  uint8_t highest = 0;
  for (const NodeReading &r : readings) {
    const uint8_t band = BandOfReading(r.Life);
    if (band > highest && highest != 0)
      changes.emplace_back(r.Time, band);
    if (band > highest)
      highest = band;
    if (band == t.Band && !t.BandSince)
      t.BandSince = r.Time;
    if (band >= kLastBand && !t.LastBandAt)
      t.LastBandAt = r.Time;
  }
  if (t.Band >= kLastBand) {
    t.Status = "last band reached";
  } else if (changes.size() >= 2 && changes.back().first > changes.front().first) {
    const double perSecond = double(changes.back().second - changes.front().second) /
                             double(changes.back().first - changes.front().first);
    t.LastBandAt =
        changes.back().first + std::llround(double(kLastBand - changes.back().second) / perSecond);
    t.Status = "ok";
  } else {
    t.LastBandAt.reset();
    t.Status = "not enough history";
  }
  return t;
}

nlohmann::ordered_json NodeTrendJson(const NodeTrend &t) {
  auto date = [](const std::optional<int64_t> &at) { return at ? Json(DateText(*at)) : Json(); };
  if (!t.Emmc)
    return {{"history_file", t.HistoryFile},
            {"readings", t.Readings},
            {"write_volume", WriteVolumeJson(t.Writes)}};
  Json j{{"history_file", t.HistoryFile},
         {"readings", t.Readings},
         {"status", t.Status},
         {"band", t.Band},
         {"band_since_date", date(t.BandSince)},
         {"last_band_date", date(t.LastBandAt)},
         {"last_band_timestamp", t.LastBandAt ? Json(*t.LastBandAt) : Json()},
         {"write_volume", WriteVolumeJson(t.Writes)}};
  return j;
}

std::string NodeTrendMetrics(const std::string &labels, const NodeTrend &t) {
  std::string text = WriteVolumeMetrics(labels, t.Writes);
  if (t.LastBandAt)
    text += "# HELP sdsmart_emmc_last_band_timestamp_seconds When the eMMC's life estimate "
            "reaches its last band (90-100 % used) at the pace of its band changes, or "
            "reached it.\n# TYPE sdsmart_emmc_last_band_timestamp_seconds gauge\n"
            "sdsmart_emmc_last_band_timestamp_seconds{" +
            labels + "} " + std::to_string(*t.LastBandAt) + "\n";
  return text;
}

std::string NodeTrendText(const NodeTrend &t) {
  if (!t.Emmc)
    return WriteVolumeLine(t.Writes, t.WritesWhy);
  std::string text = "Life estimate history: ";
  if (t.Status == "no band reported")
    text += "no band reported";
  else
    text += BandText(t.Band) + " since " + DateText(*t.BandSince);
  if (t.Status == "last band reached")
    text += "; the last band (90-100 % used) since " + DateText(*t.LastBandAt);
  else if (t.Status == "ok")
    text += "; at the pace of its band changes the last band (90-100 % used) around " +
            DateText(*t.LastBandAt).substr(0, 7);
  else if (t.Status == "not enough history")
    text += "; not enough history (a forecast needs two band changes)";
  return text + "\n" + WriteVolumeLine(t.Writes, t.WritesWhy);
}

void KeepNodeHistory(const RunPlan &plan, RunStatus &status) {
  RunRecord &run = status.Run();
  const std::string id = SysfsCid(plan.Opts.Device);
  const std::string what = run.Emmc ? "the eMMC" : "the card";
  if (id.empty() || plan.StateDir.empty()) {
    status.Say("information", id.empty() ? what + " shows no CID: its history is not kept"
                                         : "no state folder: " + what + "'s history is not kept");
    return;
  }
  const std::string path = plan.StateDir + (run.Emmc ? "/emmc/" : "/registers/") + id + ".jsonl";
  std::vector<NodeReading> readings;
  std::string text;
  if (!MakeDirectories(DirectoryOf(path), 0755) ||
      (!ReadWholeFile(path, text) && errno != ENOENT)) {
    status.Say("error", "cannot read " + what + "'s history " + path + ": " + std::strerror(errno));
    status.Fail(kExitAcquisition);
    return;
  }
  const std::string unread = TakeLines(text, [&](const std::string &line) {
    NodeReading r;
    if (!ParseReading(line, r))
      return false;
    readings.push_back(r);
    return true;
  });
  NodeReading now;
  now.Time = static_cast<int64_t>(std::time(nullptr));
  now.Life = run.Emmc;
  now.Verdict = run.Health ? VerdictName(run.Health->Status) : "no health data";
  now.ToolVersion = SDSMART_TOOL_VERSION;
  now.Writes = ReadBlockWrites(plan.Opts.Device);
  const std::optional<int64_t> latest =
      readings.empty() ? std::nullopt : std::optional(readings.back().Time);
  if (std::string clock = ClockProblem(now.Time, latest, what + "'s"); !clock.empty()) {
    status.Say("warning", clock + ": this reading is not added to " + what + "'s history " + path +
                              "; set the system clock");
  } else {
    readings.push_back(now);
    readings = KeptNodeReadings(readings, plan.Opts.WindowDays);
    std::string lines;
    for (const NodeReading &r : readings)
      lines += ReadingJson(r).dump() + "\n";
    try {
      // Lines that are no reading are moved aside first, never dropped.
      if (!unread.empty()) {
        AppendSynced(RejectedPath(path), unread);
        status.Say("warning",
                   path + ": moved the lines that are no reading to " + RejectedPath(path));
      }
      WriteFileAtomically(path, lines, 0644, Sync::Rename);
    } catch (const std::exception &e) {
      status.Say("error", "the reading was not added to " + what + "'s history: " + e.what());
      status.Fail(kExitAcquisition);
    }
  }
  run.NodeHistory = MakeNodeTrend(readings, plan.Opts.WindowDays);
  run.NodeHistory->HistoryFile = path;
  // The state file dashboards read, as a card's of this family. An eMMC's
  // verdict changes are announced as a card's; a card read by its registers
  // has none (--on-every-reading passes it on as unread).
  KeepState(plan, status, id, what + "'s", run.Health ? &*run.Health : nullptr);
}

} // namespace sdsmart_tool
