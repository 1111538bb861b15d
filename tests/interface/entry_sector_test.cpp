// Recognising a left-over command pattern in sector 0: the guard against
// taking it for the card's own sector.
#include "interface/entry_sector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

using Sector = std::array<unsigned char, 512>;

// The command patterns as the card channel writes them.
Sector Pattern(bool enter, const char *entry, bool marker = false) {
  Sector s{};
  unsigned char e[8] = {};
  std::memcpy(e, entry, std::min<size_t>(8, std::strlen(entry)));
  for (int i = 0; i < 8; ++i) {
    s[enter ? i : 7 - i] = e[i];
    s[enter ? 255 - i : 248 + i] = e[i];
  }
  const unsigned char enter256[8] = {2, 1, 0, 0, 0, 0, 0, 0};
  const unsigned char enter504[8] = {0, 0, 0, 0, 0, 0, 1, 2};
  const unsigned char leave256[8] = {2, 0, 0, 0, 0, 0, 1, 2};
  const unsigned char leave504[8] = {2, 1, 0, 0, 0, 0, 0, 0};
  std::memcpy(&s[256], enter ? enter256 : leave256, 8);
  std::memcpy(&s[504], enter ? enter504 : leave504, 8);
  if (marker) {
    const unsigned char deadbeef[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(&s[268], deadbeef, 4);
  }
  return s;
}

// Left-over command patterns of any entry string are recognised; ordinary
// sectors, and patterns with one byte out of place, are not.
TEST(EntrySector, CommandPatternsAndOrdinarySectors) {
  for (const char *entry : {"ABCDEFGH", "XY", ""}) {
    EXPECT_TRUE(IsSpecialModePattern(Pattern(true, entry).data())) << entry;
    EXPECT_TRUE(IsSpecialModePattern(Pattern(true, entry, true).data())) << entry;
    EXPECT_TRUE(IsSpecialModePattern(Pattern(false, entry).data())) << entry;
  }
  Sector mbr{}; // zeros, then a partition table with its boot signature
  EXPECT_FALSE(IsSpecialModePattern(mbr.data()));
  mbr[450] = 0x0C;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  EXPECT_FALSE(IsSpecialModePattern(mbr.data()));
  for (size_t at : {0, 7, 248, 255, 256, 257, 263, 504, 510, 511})
    for (bool enter : {true, false}) {
      Sector s = Pattern(enter, "ABCDEFGH");
      s[at] ^= 0x80;
      EXPECT_FALSE(IsSpecialModePattern(s.data())) << at << (enter ? " enter" : " leave");
    }
  Sector mixed = Pattern(true, "ABCDEFGH"); // enter groups at 256, leave groups at 504
  std::memcpy(&mixed[504], &Pattern(false, "ABCDEFGH")[504], 8);
  EXPECT_FALSE(IsSpecialModePattern(mixed.data()));
}

} // namespace
