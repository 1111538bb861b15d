// The sector-0 journal. Switching a card into its vendor command state
// overwrites sector 0 (the partition table) with command patterns; the
// library writes its saved copy back afterwards. If the process dies in
// between, that copy dies with it, so the tool keeps its own copy on disk for
// the duration of every acquisition and can write it back later
// (--restore-sector0).
#pragma once

#include "util/unique_fd.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sdsmart_tool {

using Sector = std::array<uint8_t, 512>;

enum class SectorPattern { None, Enter, Leave };

// Whether a sector is one of the special-mode command patterns (for any
// 8-byte entry string): enter — bytes 0..7 E0..E7, 248..255 E7..E0,
// 256..263 02 01 00.., optional DE AD BE EF at 268, 504..511 00..00 01 02;
// leave — bytes 0..7 E7..E0, 248..255 E0..E7, 256..263 02 00 00 00 00 00 01 02,
// 504..511 02 01 00..00; every other byte zero.
SectorPattern ClassifySector(const Sector &s);
const char *PatternName(SectorPattern p);

// Where journals are kept: the override when given, else /var/lib/sdsmart
// when it is (or can be made) writable, else $XDG_STATE_HOME/sdsmart, else
// ~/.local/state/sdsmart. Empty when none can be used.
std::string ChooseStateDir(const std::string &overrideDir);

class Journal {
public:
  Journal(std::string stateDir, const std::string &device);
  const std::string &Path() const { return FilePath; }
  bool Exists() const;
  // The saved sector; nullopt when there is none or it is not 512 bytes.
  std::optional<Sector> Load() const;
  // Atomically written and synced; throws std::runtime_error.
  void Save(const Sector &s) const;
  // true when the journal is gone afterwards.
  bool Remove() const;
  // Takes the run lock of the device (a lock file beside the journal), held
  // until the object is destroyed; false when another run holds it.
  bool Lock();

private:
  std::string Dir;
  std::string FilePath;
  CUniqueFd LockFd;
};

// The name journals are kept under: the node with symbolic links resolved
// (/dev/disk/by-id/... and /dev/sdb share one journal), or the name itself
// when it does not resolve.
std::string CanonicalDevice(const std::string &device);

// File name of the journal of a device node: "/dev/sdb" -> "sector0-dev_sdb.bin".
std::string JournalFileName(const std::string &device);

} // namespace sdsmart_tool
