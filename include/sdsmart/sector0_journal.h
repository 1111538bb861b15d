// SPDX-License-Identifier: MIT
// The sector-0 journal: a copy of a card's sector 0 (its partition table) on
// the host's disk for as long as an acquisition may leave a command pattern
// there. If the process dies in between, the next run of any host with the
// same journal directory - or `sdsmart --restore-sector0` - writes it back,
// but only to the card it was taken from.
//
// One file per card node, "sector0-<node>.journal" in the journal directory,
// written atomically and durably. The same card may come back under another
// node name (USB names change across replugs), so a card is matched to a
// journal by its identity, not by the file's name. It is plain text,
// self-describing and versioned:
//
//   sdsmart-sector0-journal 2
//   node /dev/sdb
//   capacity-sectors 62333952
//   cid 035344534331364780a1b2c3d4015e01     ("-" where the host cannot read it)
//   boot-digest 8c1f0e2a55d3b761             ("-" where sector 0 names no partition)
//   time 2026-12-06T21:47:56Z                (UTC, when the copy was taken)
//   sector0 <1024 hexadecimal digits>
//   crc16 1a2b                               (CRC-16/XMODEM of every byte above)
//
// Version 1, written before the boot digest, has no "boot-digest" line and
// is still read. A reader refuses any other version, any missing or extra
// line and a wrong checksum: a damaged copy is never written to a card.
//
// A host that runs its own recovery (the sdsmart tool's --restore-sector0)
// finds and checks a card's copy here; writing it back goes through
// CLockedCard (sdsmart/locked_card.h), under the card's lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What tells one card from another without writing to it.
struct CCardIdentity {
  std::string Node;             // the node with symbolic links resolved
  uint64_t CapacitySectors = 0; // 512-byte sectors
  std::string Cid;              // 32 hexadecimal digits; empty where not readable
  // A digest of the first partition's boot sector (the fields a mounted file
  // system updates left out); empty where unknown.
  std::string BootDigest;

  // Same capacity and the same CID (or none on both sides). The boot digest
  // is compared by JournalFitsCard, which knows where to read it.
  bool SameCard(const CCardIdentity &other) const {
    return CapacitySectors == other.CapacitySectors && Cid == other.Cid;
  }
  // "capacity 131072 sectors, CID 0353..." or "..., no CID".
  std::string Describe() const;
};

struct CJournalRecord {
  static constexpr unsigned int Version = 2;
  CCardIdentity Card;
  std::string Time; // ISO 8601, UTC
  std::array<unsigned char, 512> Sector0{};
};

// The identity of the card behind `node`, with `fd` open on it: the capacity
// from BLKGETSIZE64, the CID from /sys/class/block/NAME/device/cid (native
// hosts; a USB reader does not show it). Nothing is sent to the card.
CCardIdentity IdentifyCard(const std::string &node, int fd);

// Reads one 512-byte sector of the card at an LBA; throws on a failed
// transfer.
using SectorReader = std::function<void(uint64_t lba, unsigned char *sector)>;

// The saved copy belongs to `card`: the same capacity and CID, and where
// the journal has a boot digest, the card's sector at the copy's first
// partition digests the same.
bool JournalFitsCard(const CJournalRecord &saved, const CCardIdentity &card,
                     const SectorReader &read);

class CSectorJournal {
public:
  CSectorJournal(const std::string &directory, const std::string &node);
  // The journal in the file `path`.
  static CSectorJournal AtPath(const std::string &path);
  const std::string &Path() const { return FilePath; }

  // "sector0-dev_sdb": the journal's file name without its extension.
  static std::string FileStem(const std::string &node);

  // The record, or nothing when there is no journal. Throws CError, naming
  // the file and what is wrong with it, when a file is there but is not a
  // whole journal of a known version.
  std::optional<CJournalRecord> Load() const;
  // Temporary file in the same directory, fsync, rename, fsync of the
  // directory. Throws CError, naming the file, when it cannot be saved.
  void Save(const CJournalRecord &record) const;
  // Unlinks the file (gone already is fine); false when it stays.
  bool Remove() const;

  // Every journal file in `directory` ("sector0-*.journal"), sorted.
  static std::vector<std::string> List(const std::string &directory);
  // The journal in `directory` whose copy fits `card`, whatever node it was
  // written under: the one of the card's own node first, unless only the
  // capacity tells it (no CID, no boot digest). Damaged files of other nodes
  // are passed over. When several fit with different copies, nothing is
  // chosen and `ambiguous` names them.
  static std::optional<CSectorJournal> FindForCard(const std::string &directory,
                                                   const CCardIdentity &card,
                                                   const SectorReader &read,
                                                   std::string &ambiguous);

  static std::string Encode(const CJournalRecord &record);
  // Empty with the reason in `why` when the text is not a journal.
  static std::optional<CJournalRecord> Decode(const std::string &text, std::string &why);

private:
  CSectorJournal() = default;
  std::string Directory;
  std::string FilePath;
};
