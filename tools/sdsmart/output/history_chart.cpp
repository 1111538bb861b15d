// SPDX-License-Identifier: MIT
#include "output/history_chart.h"

#include "state/forecast.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sdsmart_tool {

std::string RenderLifeChart(const std::vector<HistoryReading> &readings, bool ascii,
                            unsigned columns) {
  std::vector<double> level(columns, NAN);
  if (readings.empty())
    return "";
  const int64_t first = readings.front().Time, last = readings.back().Time;
  const double span = static_cast<double>(std::max<int64_t>(last - first, 1));
  for (const HistoryReading &r : readings) {
    if (!r.RemainingPercent)
      continue;
    size_t column = static_cast<size_t>(static_cast<double>(r.Time - first) / span * (columns - 1));
    level[std::min<size_t>(column, columns - 1)] = *r.RemainingPercent;
  }
  for (size_t i = 1; i < columns; ++i) // a column without a reading keeps the one before
    if (std::isnan(level[i]))
      level[i] = level[i - 1];
  const char *full = ascii ? "#" : "\u2588";
  const char *half = ascii ? "." : "\u2584";
  std::string chart;
  for (int row = 9; row >= 0; --row) {
    char label[16];
    std::snprintf(label, sizeof label, "%3d %% |", (row + 1) * 10);
    chart += label;
    for (double v : level)
      chart += std::isnan(v) || v < row * 10 + 5 ? " " : v >= (row + 1) * 10 ? full : half;
    chart += "\n";
  }
  std::string from = DateText(first), to = DateText(last);
  chart +=
      "      +" + std::string(columns, '-') + "\n       " + from +
      std::string(columns > from.size() + to.size() ? columns - from.size() - to.size() : 1, ' ') +
      to + "\n";
  return chart;
}

} // namespace sdsmart_tool
