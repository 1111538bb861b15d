// SPDX-License-Identifier: MIT
// The relations a reading must satisfy by the card's own formats. A reading
// that contradicts itself (a counter never written, a minimum above its
// maximum) decides nothing: it is WARNING, with the values named, and gives
// no life figure.
#pragma once

#include "card/card_data.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

// One line a broken relation, "implausible reading: ..."; empty when the
// reading holds together.
std::vector<std::string> FindContradictions(const CardData &card);

// A reading that contradicts itself gives no life figure: the counters life
// comes from are among those in doubt. The outputs show it as unknown, the
// history keeps the reading without it, and the forecast leaves it out.
inline void SetAsideImplausibleLife(const std::vector<std::string> &contradictions,
                                    CardCounters &counters) {
  if (!contradictions.empty())
    counters.LifeUsedPercent.reset();
}

} // namespace sdsmart_tool
