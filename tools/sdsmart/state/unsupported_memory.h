// SPDX-License-Identifier: MIT
// Cards found not supported, remembered in the state directory. Most cards
// in a fleet are of other controller families: each takes the enter pattern
// over its partition table, answers no SMART header and is restored. A timer
// would repeat that on every run, so such a card is remembered by what
// identifies it without writing and later runs leave it alone. One glitch
// must not switch a good card off, nor a clone (fleets copy one image to
// every card) be skipped for another: a card is remembered only after two
// runs in a row found no header with no reading in between, and only where
// something tells clones apart (the CID a native host shows, the card
// reader's serial). A card that is read leaves no record: it is no card of
// another family.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace sdsmart_tool {

struct DeviceVerdict;
struct Options;
class RunStatus;

class UnsupportedMemory {
public:
  // Identifies the card in the node by reading only (sysfs, the capacity and
  // sector 0); entry is the configured entry string, part of the record: a
  // card found not supported with one entry string is tried with another.
  UnsupportedMemory(const std::string &stateDir, const std::string &node,
                    const DeviceVerdict &verdict, const std::string &entry);

  // The card could be identified and a state directory is usable.
  bool Usable() const { return !Path.empty(); }
  // When the card was found not supported with this entry string, the
  // second time in a row (UTC, ISO 8601); nullopt when it is not remembered.
  std::optional<std::string> RememberedSince() const;
  // Counts a run that found no header; the runs in a row so far (0: the
  // card once gave a header). Atomically written; throws
  // std::runtime_error.
  int Remember(const std::string &node, const std::string &reason) const;
  // The card gave a header, so it is of the family read here: its record,
  // if any, is removed. true when runs without a header had been counted.
  // Throws std::runtime_error.
  bool Accepted() const;
  const std::string &File() const { return Path; }

private:
  nlohmann::json Record() const; // {} when there is none
  std::string Path;              // <state dir>/unsupported-<identity>.json, "" when unusable
  std::string EntryHash;         // of the entry string
};

// The library's last error says the card took the enter pattern and
// answered no SMART header.
bool AnsweredNoSmartHeader();

// Before the acquisition: true when the card is remembered and this run must
// not write to it (said, with the exit bit of a card that cannot be read).
bool SkipRememberedCard(const Options &options, const UnsupportedMemory &memory, RunStatus &status);

// After the acquisition: remembers a card that answered no SMART header,
// forgets one that was read.
void NoteAcquisition(const Options &options, const UnsupportedMemory &memory, bool read,
                     RunStatus &status);

} // namespace sdsmart_tool
