// SPDX-License-Identifier: MIT
// The terminal chart of `sdsmart history`: remaining life over time.
#pragma once

#include "state/history_store.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

// Columns of time from the first reading to the last, rows of 10 % from
// 100 % down to 0 %; UTF-8 block characters, or '#' and '.' when ascii.
std::string RenderLifeChart(const std::vector<HistoryReading> &readings, bool ascii,
                            unsigned columns = 60);

} // namespace sdsmart_tool
