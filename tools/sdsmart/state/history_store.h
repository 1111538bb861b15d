// SPDX-License-Identifier: MIT
// The history of one card: one JSON line per successful run in
// STATE/history/ID.jsonl, keyed by the card's CID so that a card keeps one
// history whatever node or reader it is read through.
#pragma once

#include "card/card_data.h"
#include "state/write_volume.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct HistoryReading {
  int64_t Time = 0;                       // seconds since the epoch
  std::optional<double> RemainingPercent; // absent when not a number
  std::optional<double> UsedPercent;      // likewise
  uint64_t TotalErases = 0;               // the header's erase total
  uint32_t AverageErases = 0;
  uint32_t RatedCycles = 0;
  uint32_t LaterBadBlocks = 0;
  uint32_t PowerCycles = 0;
  std::optional<uint32_t> EccUncorrectable; // absent when not read
  bool Implausible = false;                 // the reading contradicts itself (plausibility.h)
  // The block layer's write count and whose it is; none when not read, and
  // in lines of versions before it.
  BlockWrites Writes;
  uint64_t BlockBytes = 0; // a block's share of the capacity (0: unknown)
  // "PASSED", "WARNING", "FAILED": the card's standing verdict, counts this
  // run did not read taken from the last reading that read them.
  std::string Verdict;
  std::string ToolVersion; // of the run that wrote it
};

nlohmann::ordered_json ReadingJson(const HistoryReading &r);
// false when the line is no reading (garbage, a torn line).
bool ParseReading(const std::string &line, HistoryReading &r);

struct LoadedHistory {
  std::vector<HistoryReading> Readings; // in the file's order, oldest first
  size_t Skipped = 0;                   // lines that were no reading
  std::string SkippedText;              // those lines, each ended by a line feed
  bool TornEnd = false;                 // the last line has no line feed
};

// false (errno set) when the file exists and cannot be read; a missing
// file is an empty history.
bool LoadHistory(const std::string &path, LoadedHistory &history);

// Gives each line of a history's text to `take`; returns the lines it
// refused (empty ones aside), each ended by a line feed.
std::string TakeLines(const std::string &text,
                      const std::function<bool(const std::string &line)> &take);

// Why LoadHistory failed (errno as it left it), in words for a message: a
// file over the bound is said as such, with what to do.
std::string HistoryLoadFailure(const std::string &path);

// Appends text to the file (made 0644 when missing) and syncs it; only a
// regular file is written to (O_NONBLOCK: a FIFO without a reader is
// refused rather than waited for). Throws std::runtime_error.
void AppendSynced(const std::string &path, const std::string &text);

// Where lines of a history that are no reading are moved to (appended):
// STATE/history/ID.rejected beside STATE/history/ID.jsonl.
std::string RejectedPath(const std::string &historyPath);

// The earliest time a reading may have: a clock before it is not set.
constexpr int64_t kEarliestReadingTime = 1577836800; // 2020-01-01 00:00 UTC

// The CID a native host shows for the device in sysfs, in lower-case hex;
// empty when it shows none (a reader's disk) or not 16 bytes.
std::string SysfsCid(const std::string &device, const std::string &sysRoot = "/sys");

// The card's key: the CID in lower-case hex, from sysfs for a native host
// card, else from the SMART header. Empty when neither is known.
std::string CardKey(const CardData &card, const std::string &sysRoot = "/sys");

// Thinning: of readings closer together than `interval` seconds only the
// first is kept, and past 90 days the interval is a week (at least); the
// newest reading is always kept. Returns the readings that stay.
std::vector<HistoryReading> Thinned(const std::vector<HistoryReading> &readings, int64_t interval);

// Appends the reading to the history file (one write of a whole line, then
// fsync), or rewrites the file thinned once a day's worth of surplus readings
// piled up, or it held lines that are no readings: those are first appended
// to RejectedPath (and synced), never dropped. Throws std::runtime_error.
void AppendReading(const std::string &path, const LoadedHistory &before,
                   const HistoryReading &reading, int64_t interval);

} // namespace sdsmart_tool
