// SPDX-License-Identifier: MIT
// What sector 0 holds: a command pattern (whole, or still close to one) or the
// card's own data. The library refuses to run over a pattern, so a damaged
// pattern must still count as one, while no partition table or boot sector
// ever may.
#include "smart/entry_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using Sector = std::array<unsigned char, 512>;
using EntrySector::Kind;

// The enter (or, with leave, the leave) pattern of an entry string.
Sector Pattern(const char *entry, bool marker = false, bool leave = false) {
  unsigned char e[8] = {};
  std::memcpy(e, entry, std::strlen(entry));
  Sector s;
  leave ? EntrySector::BuildLeave(s.data(), e) : EntrySector::BuildEnter(s.data(), e, marker);
  return s;
}
Sector Enter(const char *entry, bool marker = false) { return Pattern(entry, marker); }
Sector Leave(const char *entry) { return Pattern(entry, false, true); }

// A partition table: boot code, one FAT32 partition, the boot signature.
Sector Mbr(bool bootCode) {
  Sector s{};
  for (size_t i = 0; bootCode && i < 440; ++i)
    s[i] = static_cast<unsigned char>(i * 37 + 11);
  const unsigned char entry[16] = {0x00, 0x20, 0x21, 0x00, 0x0C, 0xFE, 0xFF, 0xFF,
                                   0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xDA, 0x03};
  std::memcpy(&s[446], entry, sizeof entry);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

Sector With(Sector s, std::initializer_list<std::pair<size_t, unsigned char>> bytes) {
  for (const auto &[at, value] : bytes)
    s[at] = value;
  return s;
}

struct Case {
  const char *what;
  Sector sector;
  Kind kind;
};

} // namespace

TEST(EntrySectorClassifier, PatternsNearPatternsAndTheCardsOwnData) {
  Sector gpt = Mbr(false); // the protective table of a GPT disk
  gpt[450] = 0xEE;
  Sector fat = With(Mbr(false), {{0, 0xEB}, {1, 0x3C}, {2, 0x90}, {11, 0x00}, {12, 0x02}});
  Sector ones;
  ones.fill(0xFF);

  const Case cases[] = {
      // Exact patterns, whatever the entry string.
      {"enter", Enter("ABCDEFGH"), Kind::Enter},
      {"enter, empty entry", Enter(""), Kind::Enter},
      {"enter with marker", Enter("ABCDEFGH", true), Kind::EnterVersion3},
      {"leave", Leave("ABCDEFGH"), Kind::Leave},
      // Damaged patterns still stop a run.
      {"enter, many stray bytes", With(Enter("ABCDEFGH"), {{9, 1}, {300, 2}, {400, 3}, {500, 4}}),
       Kind::Enter},
      {"enter, group byte flipped", With(Enter("ABCDEFGH"), {{257, 0x81}}), Kind::Enter},
      {"enter, entry byte unmirrored", With(Enter("ABCDEFGH"), {{248, 'X'}}), Kind::Enter},
      {"enter, two bytes off", With(Enter("ABCDEFGH"), {{0, 'X'}, {511, 0x00}}), Kind::Enter},
      {"enter, half a marker", With(Enter("ABCDEFGH"), {{268, 0xDE}, {269, 0xAD}}), Kind::Enter},
      {"marker, one byte off", With(Enter("ABCDEFGH", true), {{271, 0x00}}), Kind::EnterVersion3},
      {"leave, group bytes off", With(Leave("ABCDEFGH"), {{262, 0}, {505, 0}}), Kind::Leave},
      // Three bytes off is no longer a pattern.
      {"enter, three bytes off", With(Enter("ABCDEFGH"), {{256, 0}, {257, 0}, {510, 0}}),
       Kind::OtherData},
      {"enter groups at 256, leave at 504",
       With(Enter("ABCDEFGH"), {{504, 2}, {505, 1}, {510, 0}, {511, 0}}), Kind::OtherData},
      // A boot signature is never a pattern, even over a pattern's bytes.
      {"enter ending in 55 AA", With(Enter("ABCDEFGH"), {{510, 0x55}, {511, 0xAA}}),
       Kind::OtherData},
      {"partition table", Mbr(true), Kind::OtherData},
      {"partition table, enter groups in the boot code", With(Mbr(false), {{256, 2}, {257, 1}}),
       Kind::OtherData},
      {"GPT protective table", gpt, Kind::OtherData},
      {"FAT boot sector", fat, Kind::OtherData},
      // Erased or wiped cards.
      {"zeros", Sector{}, Kind::OtherData},
      {"zeros with 02 at 256", With(Sector{}, {{256, 2}}), Kind::OtherData},
      // ... but zeros with two more such bytes are an enter of an empty entry
      // string that lost its last two bytes.
      {"zeros with 02 01 at 256", With(Sector{}, {{256, 2}, {257, 1}}), Kind::Enter},
      {"all FF", ones, Kind::OtherData},
  };
  for (const Case &c : cases)
    EXPECT_EQ(EntrySector::Classify(c.sector.data()), c.kind) << c.what;
}
