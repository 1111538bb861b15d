// The card's entries under /sys/class/block/NAME/device (and /sys/block):
// the device link and, for native cards, the register files.
#pragma once

#include <string>

namespace sdsim {

class CardState;

// "/sys/class/block/NAME/device[/FILE]" or "/sys/block/NAME/device[/FILE]":
// true with NAME and FILE ("" for the device link itself).
bool SysfsPath(const std::string &path, std::string &name, std::string &file);
// The text of FILE for a card; false when the card has no such file.
bool SysfsText(const CardState &card, const std::string &file, std::string &text);
// Where the device link points.
std::string SysfsLink(const CardState &card);

} // namespace sdsim
