// SPDX-License-Identifier: MIT
// The state file anyone may read: the card's last JSON document, replaced
// atomically (mode 0644), and a link per node name to the card in it.
#pragma once

#include <string>

namespace sdsmart_tool {

// Writes document to path (STATE/cards/ID.json) and points
// latestDir/NODE.json at it (NODE: the device's name, "sdb"). Throws
// std::runtime_error with the reason.
void WriteCardState(const std::string &path, const std::string &latestDir,
                    const std::string &device, const std::string &document);

// The card ID the latest link of a node leads to; empty when there is none.
std::string LatestCardId(const std::string &latestDir, const std::string &device);

} // namespace sdsmart_tool
