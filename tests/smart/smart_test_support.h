// Builders for card-form SMART sectors and detail data used by the tests.
#pragma once

#include "smart/smart_info_header.h"
#include "smart/smart_info_header_record.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace smarttest {

using Sector = std::array<unsigned char, 512>;

inline void PutBe16(unsigned char *p, size_t off, unsigned int v) {
  p[off] = static_cast<unsigned char>(v >> 8);
  p[off + 1] = static_cast<unsigned char>(v);
}
inline void PutBe32(unsigned char *p, size_t off, unsigned int v) {
  for (int i = 0; i < 4; ++i)
    p[off + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// The header fields the reader looks at.
struct HeaderFields {
  unsigned char type = 1;
  unsigned int base = 8;    // BaseVBEntryCount
  unsigned int extra = 0;   // ExtraVBEntriesPerUnit
  unsigned int total = 0;   // TotalVBCount
  unsigned int perUnit = 0; // VBsPerUnit
  unsigned int sectors = 1; // DetailSectorCountEx (DetailSectorCount when 0 or 0xFFFF)
  unsigned char sectorsByte = 0;
  unsigned char remainder = 0; // GlobalRemainderSectorCount
  unsigned int offset = 0;     // EraseCountOffset
};

inline _SMART_INFO_HEADER HostHeader(const HeaderFields &s) {
  Sector b{};
  b[0] = 'S', b[1] = 'I', b[2] = '0';
  PutBe32(b.data(), 46, s.base);
  b[69] = s.sectorsByte;
  b[70] = s.type;
  PutBe32(b.data(), 78, s.total);
  PutBe16(b.data(), 82, s.perUnit);
  PutBe16(b.data(), 84, s.extra);
  b[94] = s.remainder;
  PutBe16(b.data(), 138, s.sectors);
  PutBe16(b.data(), 144, s.offset);
  b[510] = 2; // HeaderVersion
  return *CSmartInfoHeader(b.data()).Get();
}

// Big-endian 16-bit entries padded to whole sectors.
inline std::vector<unsigned char> Entries(const std::vector<unsigned int> &values,
                                          unsigned int sectors = 1) {
  std::vector<unsigned char> out(static_cast<size_t>(sectors) * 512, 0);
  for (size_t i = 0; i < values.size(); ++i)
    PutBe16(out.data(), 2 * i, values[i]);
  return out;
}

// Packed fields are copied out before gtest takes them by reference.
template <typename T> T V(T v) { return v; }

} // namespace smarttest
