// SPDX-License-Identifier: MIT
// One card and everything an acquisition of it needs and leaves: the node and
// the transport chosen for it once, the settings of the run, the drive,
// channel and reader of the last run, and its results. Nothing in here is
// process-wide, so two sessions read two cards side by side. The exported
// interface keeps one of these for the host (session_record.h) and shows it
// through the documented session record.
#pragma once

#include "sdsmart/bulk.h"
#include "sdsmart/smart_info_header_record.h"
#include "smart/card_protocol.h"
#include "transport/sector_device.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CSpecialMode2Cmd;
class CSmartInfoReader;

// What an acquisition leaves for the accessors. A failed run leaves what it
// had stored before it failed.
struct CCardResults {
  Bulk<unsigned char> Sector0; // sector 0 as found at the start of the run
  _SMART_INFO_HEADER Header{}; // host byte order
  unsigned int EccUncorrectable = 0;
  std::vector<unsigned int> EraseCounts;
  std::vector<unsigned int> ReadCounts;
  unsigned int MinEraseCount = 0;
  unsigned int MaxEraseCount = 0;
  std::string FlashType;
  std::string FlashId; // six "XX " groups
  // The sector-0 journal the last run ended with (sector 0 was not seen
  // restored); empty when none is left.
  std::string JournalKept;
  // The time of the journal copy the last run wrote back to sector 0 before
  // it began, over a pattern an earlier run had left; empty when none.
  std::string RestoredFromJournal;
};

class CCardSession {
public:
  CCardSession(std::string node, Transport transport);
  ~CCardSession();
  // The reader keeps references into the session.
  CCardSession(const CCardSession &) = delete;
  CCardSession &operator=(const CCardSession &) = delete;

  // One acquisition: a fresh drive, channel and reader; sector 0 backed up,
  // the reader run, the results kept, sector 0 left as it was found. Throws
  // on failure with whatever the run had stored kept.
  void Acquire();
  // Closes the drive: called with the card's lock held whenever a run ends
  // with sector 0 perhaps holding a pattern, since a writable descriptor
  // closed later, without the lock, would let udev re-read it.
  void CloseDrive() noexcept;
  CSectorDevice Device() const { return Drive.Device(); }

  // The card, decided once.
  const std::string Node;
  const Transport Via;

  // Settings of the next run.
  std::wstring Entry; // special-mode entry string
  unsigned char SmartVersion = 2;
  unsigned char Selection = CardProtocol::FunctionSelect::Default;
  const bool *Cancel;      // polled between transfers; never written
  std::wstring ConfigPath; // for the flash type name
  // The sector-0 journal's directory; unset: $SDSMART_JOURNAL_DIR decides,
  // empty: no journal.
  std::optional<std::string> JournalDirectory;

  // The objects of the last run, declared so that the reader goes first,
  // then the channel, then the drive.
  CCardDrive Drive;
  std::unique_ptr<CSpecialMode2Cmd> Channel;
  std::unique_ptr<CSmartInfoReader> Reader;

  CCardResults Results;

private:
  // The steps of a run, under their long-standing names.
  void InitDeviceInstance();
  void InitSmartInfoReader();
  void BackupEntryLBA();
  void RestoreEntryLBA();
  void BackupEntryLBAWithCheck();
  void ReadAndStore();
  void ReadGuarded(class CEntryJournal *journal);
};
