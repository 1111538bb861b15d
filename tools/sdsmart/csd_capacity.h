// Card capacity from a raw 16-byte CSD register (most significant byte
// first), decoded by the library's register toolkit.
#pragma once

#include <cstdint>

namespace sdsmart_tool {

uint64_t CapacityFromCsd(const uint8_t *csd);

} // namespace sdsmart_tool
