// SPDX-License-Identifier: MIT
// The history of a node read without the vendor path: an eMMC, or a card
// read by its registers (its CID names it). Each keeps the first reading
// since the last boot or plugging (for the write volume) and the newest, in
// STATE/emmc/CID.jsonl or STATE/registers/CID.jsonl. An eMMC's life
// estimate only moves in 10 % bands, so it also keeps when each band (and
// pre-EOL state) was first seen: a few dozen lines for its whole life. Two
// band changes give the pace, and from it the date the last band is
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

struct NodeReading {
  int64_t Time = 0;
  std::optional<EmmcLife> Life; // an eMMC's; From is not kept
  std::string Verdict, ToolVersion;
  BlockWrites Writes;
};

struct NodeTrend {
  std::string HistoryFile;
  size_t Readings = 0; // kept in the history, this one included
  bool Emmc = false;   // the band fields below are an eMMC's only
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
std::vector<NodeReading> KeptNodeReadings(const std::vector<NodeReading> &readings,
                                          unsigned windowDays);
NodeTrend MakeNodeTrend(const std::vector<NodeReading> &readings, unsigned windowDays);

// Adds the run's reading (an eMMC's or a card's registers) to the node's
// history, sets the run's trend and writes its state file. Failures to keep
// it are errors of the run (the reading itself stands).
void KeepNodeHistory(const RunPlan &plan, RunStatus &status);

// "Life estimate history: 20-30 % used since 2026-03-01; ..." (an eMMC),
// then the writes; the JSON document's emmc.history or registers.history;
// the textfile's series (labels: the device's label set).
std::string NodeTrendText(const NodeTrend &trend);
nlohmann::ordered_json NodeTrendJson(const NodeTrend &trend);
std::string NodeTrendMetrics(const std::string &labels, const NodeTrend &trend);

} // namespace sdsmart_tool
