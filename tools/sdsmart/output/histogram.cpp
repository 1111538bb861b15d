// SPDX-License-Identifier: MIT
#include "output/histogram.h"

#include "sdsmart/statistics.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sdsmart_tool {

std::vector<Region> EraseCountRegions(const std::vector<uint32_t> &counts, unsigned maxRegions) {
  std::vector<Region> out;
  std::vector<unsigned int> values(counts.begin(), counts.end());
  // The library takes values <= 0xFFFD into the lower bound only; with none of
  // them the range would wrap, so such tables get no chart.
  bool any = std::any_of(values.begin(), values.end(), [](unsigned v) { return v <= 0xFFFDu; });
  if (!any || maxRegions == 0)
    return out;
  int binCount = 0;
  std::unique_ptr<_TStatisticsRegion[]> regions(
      GatherStatistics(values.data(), static_cast<int>(values.size()), maxRegions, 1, binCount));
  if (!regions)
    return out;
  for (int i = 0; i < binCount; ++i) {
    _TStatisticsRegion r = regions[static_cast<size_t>(i)];
    if (r.Count != 0)
      FitRealBoundary(values.data(), static_cast<int>(values.size()), r);
    out.push_back(Region{r.Low, r.High, r.Count});
  }
  return out;
}

std::vector<std::string> DrawBarChart(const std::vector<Region> &regions, unsigned width,
                                      const std::string &glyph) {
  std::vector<std::string> lines;
  if (regions.empty())
    return lines;
  auto digits = [](uint64_t v) { return std::to_string(v).size(); };
  size_t wl = 0, wh = 0, wc = 0;
  uint32_t most = 0;
  for (const Region &r : regions) {
    wl = std::max(wl, digits(r.Low));
    wh = std::max(wh, digits(r.High));
    wc = std::max(wc, digits(r.Vbs));
    most = std::max(most, r.Vbs);
  }
  char prefix[128];
  for (const Region &r : regions) {
    int n = std::snprintf(prefix, sizeof prefix, "  %*u - %*u  %*u VB%s |", static_cast<int>(wl),
                          r.Low, static_cast<int>(wh), r.High, static_cast<int>(wc), r.Vbs,
                          r.Vbs == 1 ? " " : "s");
    size_t used = static_cast<size_t>(n);
    size_t room = width > used + 1 ? width - used - 1 : 0;
    room = std::max<size_t>(room, 10);
    size_t bar =
        most ? static_cast<size_t>((static_cast<uint64_t>(r.Vbs) * room + most / 2) / most) : 0;
    if (r.Vbs != 0 && bar == 0)
      bar = 1;
    std::string line(prefix);
    for (size_t i = 0; i < bar; ++i)
      line += glyph;
    lines.push_back(line);
  }
  return lines;
}

unsigned TerminalWidth(int fd) {
  struct winsize ws {};
  if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
    return ws.ws_col;
  if (const char *columns = std::getenv("COLUMNS")) {
    char *end = nullptr;
    long v = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && v >= 20 && v <= 1000)
      return static_cast<unsigned>(v);
  }
  return 80;
}

bool Utf8Locale() {
  for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char *v = std::getenv(name);
    if (v && *v) {
      std::string s(v);
      return s.find("UTF-8") != std::string::npos || s.find("utf8") != std::string::npos ||
             s.find("UTF8") != std::string::npos || s.find("utf-8") != std::string::npos;
    }
  }
  return false;
}

} // namespace sdsmart_tool
