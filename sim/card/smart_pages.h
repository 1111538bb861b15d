// SPDX-License-Identifier: MIT
// The SMART sectors a card serves, built from its card file: the 512-byte
// header for each detail type (busy or not) and the detail pages, in the
// card's byte order. The card's own copy of these formats, independent of
// the library's.
#pragma once

#include "card/card_config.h"

#include <cstdint>
#include <map>
#include <vector>

namespace sdsim {

class SmartPages {
public:
  explicit SmartPages(const CardConfig &config) : Config(config) {}

  // The answers depend on the card file only: each is built once.
  const std::vector<std::uint8_t> &Header(unsigned type, bool busy) const;
  const std::vector<std::uint8_t> &Detail(unsigned type) const;
  std::uint32_t DetailSectors(unsigned type) const; // as announced in the header

private:
  std::vector<std::uint8_t> BuildHeader(unsigned type, bool busy) const;
  std::vector<std::uint8_t> BuildDetail(unsigned type) const;
  std::vector<std::uint8_t> BuildGlobalReadCounts() const;
  unsigned RemainderSectorCount() const;

  const CardConfig &Config;
  mutable std::map<unsigned, std::vector<std::uint8_t>> HeaderCache[2], DetailCache;
};

} // namespace sdsim
