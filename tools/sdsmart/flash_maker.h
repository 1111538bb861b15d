// The flash maker's name from the flash-ID text ("45 DE 94 93 76 51").
#pragma once

#include <string>

namespace sdsmart_tool {

// The library's maker table for the first ID byte; "Unknown" for an empty or
// malformed ID.
std::string FlashMakerName(const std::string &flash_id);

} // namespace sdsmart_tool
