#include "flash_maker.h"

#include "interface/flash_naming.h"
#include "util/convert.h"

#include <cstdlib>

namespace sdsmart_tool {

std::string FlashMakerName(const std::string &flash_id) {
  if (flash_id.size() < 2)
    return "Unknown";
  char *end = nullptr;
  std::string first = flash_id.substr(0, 2);
  long maker = std::strtol(first.c_str(), &end, 16);
  if (end != first.c_str() + 2)
    return "Unknown";
  return ToNarrowString(FlashMIDToString(static_cast<int>(maker)));
}

} // namespace sdsmart_tool
