// SPDX-License-Identifier: MIT
#include "card/plausibility.h"

namespace sdsmart_tool {
namespace {

constexpr uint32_t kAllOnes16 = 0xFFFF, kAllOnes32 = 0xFFFFFFFF;

struct Reading {
  std::vector<std::string> Found;
  void Check(bool holds, const std::string &why) {
    if (!holds)
      Found.push_back("implausible reading: " + why);
  }
};

std::string N(uint64_t v) { return std::to_string(v); }

// Erased flash reads as all ones: a counter with every bit set was never
// written.
void AllOnes(Reading &r, const CardCounters &c) {
  const std::pair<const char *, bool> fields[] = {
      {"rated P/E cycles", c.PeCycleCount == kAllOnes32},
      {"virtual blocks", c.TotalVbCount == kAllOnes32},
      {"power cycles", c.PowerCycles == kAllOnes32},
      {"abnormal shutdowns", c.AbnormalShutdowns == kAllOnes32},
      {"initial bad blocks", c.InitialBadBlocks == kAllOnes16},
      {"minimum erase count (header)", c.MinEraseCountHeader == kAllOnes16},
      {"maximum erase count (header)", c.MaxEraseCountHeader == kAllOnes16}};
  for (const auto &[name, set] : fields)
    r.Check(!set, std::string(name) + " has every bit set (the field was never written)");
}

} // namespace

std::vector<std::string> FindContradictions(const CardData &card) {
  const CardCounters &c = card.Counters;
  Reading r;
  AllOnes(r, c);
  r.Check(c.TotalVbCount == 0 || c.BlocksPerVb != 0,
          N(c.TotalVbCount) + " virtual blocks of 0 physical blocks each");
  r.Check(c.MinEraseCountHeader <= c.MaxEraseCountHeader,
          "minimum erase count " + N(c.MinEraseCountHeader) + " above maximum " +
              N(c.MaxEraseCountHeader) + " (header)");
  // The average is taken over every VB, unused ones included, so it may lie
  // below the minimum; it never lies above the maximum.
  r.Check(c.TotalVbCount == 0 || c.AverageEraseCount <= c.MaxEraseCountHeader,
          "average erase count " + N(c.AverageEraseCount) + " above maximum " +
              N(c.MaxEraseCountHeader));
  r.Check(c.BlocksPerVb == 0 ||
              uint64_t{c.InitialBadBlocks} + c.LaterBadBlocks <= c.TotalPhysicalBlocks,
          "bad blocks " + N(c.InitialBadBlocks) + " initial + " + N(c.LaterBadBlocks) +
              " later above the " + N(c.TotalPhysicalBlocks) + " physical blocks");
  // The header's minimum and maximum are those of the table it announces
  // (entries with the offset added, in 16 bits).
  bool used = c.MinEraseCount && c.MaxEraseCount && *c.MinEraseCount <= *c.MaxEraseCount;
  if (used && *c.MaxEraseCount <= kAllOnes16)
    r.Check(*c.MinEraseCount == c.MinEraseCountHeader && *c.MaxEraseCount == c.MaxEraseCountHeader,
            "erase counts " + N(*c.MinEraseCount) + " to " + N(*c.MaxEraseCount) +
                " in the table, " + N(c.MinEraseCountHeader) + " to " + N(c.MaxEraseCountHeader) +
                " in the header");
  return r.Found;
}

} // namespace sdsmart_tool
