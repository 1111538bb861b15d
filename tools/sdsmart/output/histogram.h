// SPDX-License-Identifier: MIT
// Erase-count distribution: regions from the library's statistics functions,
// drawn as a horizontal bar chart that fits the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct Region {
  uint32_t Low = 0;  // smallest erase count that fell into the region
  uint32_t High = 0; // largest
  uint32_t Vbs = 0;  // virtual blocks in the region
};

// At most maxRegions regions over the used entries of a per-VB table
// (markers of unused entries are left out); empty when no entry is used.
std::vector<Region> EraseCountRegions(const std::vector<uint32_t> &counts,
                                      unsigned maxRegions = 10);

// One line a region: "  low - high   count VBs  |#####", the bars scaled so
// that the longest fills the given width. glyph is the bar character ("#" or
// a UTF-8 block).
std::vector<std::string> DrawBarChart(const std::vector<Region> &regions, unsigned width,
                                      const std::string &glyph = "#");

// Columns of the terminal on fd (TIOCGWINSZ), else $COLUMNS, else 80.
unsigned TerminalWidth(int fd);

// True when the locale's character set is UTF-8 (so block glyphs can be drawn).
bool Utf8Locale();

} // namespace sdsmart_tool
