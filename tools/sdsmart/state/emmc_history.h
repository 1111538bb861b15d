// SPDX-License-Identifier: MIT
// The history of an eMMC: its life estimate only moves in 10 % bands, so
// what is kept is when each band (and pre-EOL state) was first seen, the
// first reading since the last boot or plugging (for the write volume) and
// the newest, in STATE/emmc/CID.jsonl: a few dozen lines for its whole life.
// Two band changes give the pace, and from it the date the last band is
// reached.
#pragma once

#include "card/emmc_life.h"
#include "state/write_volume.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

class RunStatus;
struct RunPlan;

struct EmmcReading {
  int64_t Time = 0;
  EmmcLife Life; // From is not kept
  std::string Verdict, ToolVersion;
  BlockWrites Writes;
};

struct EmmcTrend {
  std::string HistoryFile;
  size_t Readings = 0; // kept in the history, this one included
  // "ok", "not enough history" (fewer than two band changes seen), "last
  // band reached", "no band reported"
  std::string Status;
  uint8_t Band = 0;                  // the higher of the two estimates
  std::optional<int64_t> BandSince;  // the first reading in that band
  std::optional<int64_t> LastBandAt; // ahead at the pace seen, or when reached
  std::optional<WriteVolume> Writes;
  std::string WritesWhy;
};

// The readings worth keeping (see above; the first since the plugging
// inside the window of days the write volume looks back), oldest first.
std::vector<EmmcReading> KeptEmmcReadings(const std::vector<EmmcReading> &readings,
                                          unsigned windowDays);
EmmcTrend MakeEmmcTrend(const std::vector<EmmcReading> &readings, unsigned windowDays);

// Adds the run's reading to the eMMC's history and sets the run's trend.
// Failures to keep it are errors of the run (the reading itself stands).
void KeepEmmcHistory(const RunPlan &plan, RunStatus &status);

// "Life estimate history: 20-30 % used since 2026-03-01; ...", then the
// writes; the JSON document's emmc.history; the textfile's series (labels:
// the device's label set).
std::string EmmcTrendText(const EmmcTrend &trend);
nlohmann::ordered_json EmmcTrendJson(const EmmcTrend &trend);
std::string EmmcTrendMetrics(const std::string &labels, const EmmcTrend &trend);

} // namespace sdsmart_tool
