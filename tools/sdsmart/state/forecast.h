// SPDX-License-Identifier: MIT
// The wear rate of a card from its history and the date its remaining life
// reaches the failure limit at that rate, or, once it has, since when.
#pragma once

#include "state/history_store.h"
#include "state/write_volume.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace sdsmart_tool {

// A forecast rests on at least this much history.
constexpr size_t kForecastMinReadings = 3;
constexpr double kForecastMinDays = 7;
// Slower wear is no wear: 1 % of the card's life in about 2700 years.
constexpr double kLeastWearPercentPerDay = 1e-6;

struct WearForecast {
  std::string CardId;
  std::string HistoryFile;
  std::string StateFile; // written after the run ("" until then)
  // "ok", "not enough history", "no wear seen", "exhausted" (the newest
  // reading has 0 % remaining life or less)
  std::string Status;
  unsigned WindowDays = 90;
  size_t Readings = 0;    // readings inside the window (implausible ones left out)
  double Days = 0;        // days between the first and the last of them
  bool RateKnown = false; // the readings are enough for a rate (0 when none was seen)
  double UsedPerDay = 0;  // percent of rated life a day
  double ErasesPerDay = 0;
  double LimitPercent = 0; // the failure limit (remaining life)
  // When remaining life reaches the limit and 0 %: ahead, at the fitted
  // rate; or, once a reading showed it, the first reading of those since.
  std::optional<int64_t> LimitAt;
  std::optional<int64_t> ZeroAt;
  bool LimitReached = false; // LimitAt is a reading's time
  size_t Skipped = 0;        // lines of the history file that were no readings
  // Bytes written a day since the same boot and plugging, or why not.
  std::optional<WriteVolume> Writes;
  std::string WritesWhy;
};

// Least-squares line through the readings of the last `windowDays` (ending at
// the newest reading).
WearForecast MakeForecast(const std::vector<HistoryReading> &readings, unsigned windowDays,
                          double limitPercent);

// "2029-03-14" (UTC), or in another strftime format.
std::string DateText(int64_t time, const char *format = "%Y-%m-%d");
// The report's line: "Wear rate: 0.41 % a month over 90 days (52 readings);
// remaining life reaches 10 % around 2029-03".
std::string ForecastLine(const WearForecast &f);
nlohmann::ordered_json ForecastJson(const WearForecast &f);
// sdsmart_life_used_ratio_per_day and sdsmart_life_end_timestamp_seconds,
// absent when unknown.
// labels: the card's label set as the textfile writes it (device="...").
std::string ForecastMetrics(const std::string &labels, const WearForecast &f);

} // namespace sdsmart_tool
