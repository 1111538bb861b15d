#include "csd_capacity.h"

#include "registers/csd.h"

namespace sdsmart_tool {

uint64_t CapacityFromCsd(const uint8_t *csd) {
  std::unique_ptr<CCSD> decoded(CCSD::Create(false, csd));
  return decoded ? decoded->GetCapacity() : 0;
}

} // namespace sdsmart_tool
