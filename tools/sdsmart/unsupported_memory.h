// SPDX-License-Identifier: MIT
// Cards found not supported, remembered in the state directory. Most cards
// in a fleet are of other controller families: each takes the enter pattern
// over its partition table, answers no SMART header and is restored. A timer
// would repeat that on every run, so such a card is remembered by what
// identifies it without writing (the CID where the host can read it, else
// the capacity and a hash of sector 0) and later runs leave it alone.
#pragma once

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
  // When the card was found not supported with this entry string (UTC,
  // ISO 8601); nullopt when it is not remembered.
  std::optional<std::string> RememberedSince() const;
  // Atomically written; throws std::runtime_error.
  void Remember(const std::string &node, const std::string &reason) const;
  // true when a record was removed.
  bool Forget() const;
  const std::string &File() const { return Path; }

private:
  std::string Path;      // <state dir>/unsupported-<identity>.json, "" when unusable
  std::string EntryHash; // of the entry string
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
