// SPDX-License-Identifier: MIT
#include "card/plausibility.h"

namespace sdsmart_tool {
namespace {

struct Reading {
  std::vector<std::string> Found;
  void Check(bool holds, const std::string &why) {
    if (!holds)
      Found.push_back("implausible reading: " + why);
  }
};

std::string N(uint64_t v) { return std::to_string(v); }

void AllOnes(Reading &r, const CardCounters &c) {
  const std::pair<const char *, bool> fields[] = {
      {"rated P/E cycles", NeverWritten(c.PeCycleCount)},
      {"virtual blocks", NeverWritten(c.TotalVbCount)},
      {"power cycles", NeverWritten(c.PowerCycles)},
      {"abnormal shutdowns", NeverWritten(c.AbnormalShutdowns)},
      {"initial bad blocks", NeverWritten16(c.InitialBadBlocks)},
      {"minimum erase count (header)", NeverWritten16(c.MinEraseCountHeader)},
      {"maximum erase count (header)", NeverWritten16(c.MaxEraseCountHeader)}};
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
  if (used && *c.MaxEraseCount <= 0xFFFF)
    r.Check(*c.MinEraseCount == c.MinEraseCountHeader && *c.MaxEraseCount == c.MaxEraseCountHeader,
            "erase counts " + N(*c.MinEraseCount) + " to " + N(*c.MaxEraseCount) +
                " in the table, " + N(c.MinEraseCountHeader) + " to " + N(c.MaxEraseCountHeader) +
                " in the header");
  return r.Found;
}

} // namespace sdsmart_tool
