// SPDX-License-Identifier: MIT
// Reading values out of a card file: shared by the parts of the card-file
// parser (card_config.cpp, card_tables.cpp).
#pragma once

#include "card/card_config.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace sdsim {

using Json = nlohmann::json;

[[noreturn]] void FailCardFile(const std::string &what);

// A JSON number or a string such as "0xaaaa"; never negative.
std::uint64_t JsonNumber(const Json &value, const std::string &name);

// Fills the per-VB tables (erase counts, read counts, run-time statuses).
void ParseTables(const Json &card, CardConfig &config);

} // namespace sdsim
