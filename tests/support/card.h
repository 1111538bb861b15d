// SPDX-License-Identifier: MIT
// Transcripts of the virtual card: what a test expects the card to see.
#pragma once

#include "sdsim/sdsim.h"

#include <string>
#include <vector>

namespace sdtest {

using Seq = std::vector<sdsim::Transfer>;

inline std::string Describe(const Seq &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

// Transfers whose description starts with prefix.
inline size_t Count(const Seq &ts, const std::string &prefix) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.what.rfind(prefix, 0) == 0;
  return n;
}

// Sector reads and writes, host-file steps too unless fileSteps is false.
inline Seq DataEvents(const Seq &all, bool fileSteps = true) {
  Seq out;
  for (const auto &t : all)
    if ((t.op == "read" || t.op == "write") && (fileSteps || t.what.rfind("file", 0) != 0))
      out.push_back(t);
  return out;
}

// The erase counts the library must deliver: 0xFFFE marks an unused VB, the
// offset is added unless the sum passes 100000.
inline std::vector<unsigned> ExpectedErase(const sdsim::Card &card, unsigned offset = 0) {
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : (v + offset <= 100000 ? v + offset : v));
  return out;
}

inline void Add(Seq &s, const Seq &more) { s.insert(s.end(), more.begin(), more.end()); }
inline sdsim::Transfer W0(const char *what) { return {"write", 0, 1, what}; }
inline sdsim::Transfer R(std::uint32_t lba, const std::string &what) {
  return {"read", lba, 1, what};
}

} // namespace sdtest
