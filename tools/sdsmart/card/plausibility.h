// SPDX-License-Identifier: MIT
// The relations a reading must satisfy by the card's own formats. A reading
// that contradicts itself (a counter never written, a minimum above its
// maximum) is not a healthy card: it is WARNING, with the values named.
#pragma once

#include "card/card_data.h"
#include "card/health.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

// One line a broken relation, "implausible reading: ..."; empty when the
// reading holds together.
std::vector<std::string> FindContradictions(const CardData &card);

// A reading with contradictions is WARNING at least, one reason each.
inline void AddPlausibility(const std::vector<std::string> &contradictions, HealthResult &r) {
  Downgrade(r, contradictions);
}

} // namespace sdsmart_tool
