// SPDX-License-Identifier: MIT
// The operator's word on card models, from a local file (cards.conf): a
// model that must never be written (it gets the read-only reading), one to
// take the vendor path even when remembered as not supported, and warning
// and failure limits of its own. A model is named as the kernel shows it in
// sysfs (manfid, oemid, name of the card's device), so only cards in a
// native SD host and eMMC are matched; a card behind a USB reader shows no
// CID. One rule a line, key=value words; '#' begins a comment:
//   manfid=0x00007e oemid=0x5158 name=OFAM1 path=never
//   name=QX16G path=vendor warn-life=25 fail-life=5 rated-pe=3000
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

// "/etc/sdsmart/cards.conf": read when --cards names no other file.
extern const char *const kDefaultCardRules;

// A model as sysfs shows it: device/manfid, device/oemid, device/name.
struct CardModel {
  std::string ManfId, OemId, Name;
};

struct CardRule {
  unsigned Line = 0;
  std::string ManfId, OemId, Name;          // empty: any; at least one is set
  std::optional<bool> VendorPath;           // path=never (false) or path=vendor (true)
  std::optional<double> WarnLife, FailLife; // percent of remaining life
  std::optional<uint32_t> RatedCycles;      // rated-pe=N: for a header that gives none
};

struct CardRules {
  std::string File;
  std::vector<CardRule> Rules;
  // The first rule whose names all match; null for none.
  const CardRule *For(const CardModel &model) const;
};

// Reads `path`; a missing file is no rule at all unless `named` (the
// operator named it). false with a reason ("FILE line N: ...") otherwise.
bool LoadCardRules(const std::string &path, bool named, CardRules &rules, std::string &error);

// The model of the node the kernel names `name`; all empty when sysfs
// shows none.
CardModel ModelOf(const std::string &sysRoot, const std::string &name);

} // namespace sdsmart_tool
