// SPDX-License-Identifier: MIT
// The acquisition's side of the sector-0 journal (SetJournalDirectory): the
// backup of sector 0 goes to the journal directory, durably, before the
// first pattern and leaves it only once sector 0 reads back as it was found.
// A card that an earlier run left with a pattern in sector 0 is first given
// its own sector back from its journal - never another card's.
#pragma once

#include "interface/journal.h"
#include "sdsmart/bulk.h"

#include <optional>
#include <string>

class CCardSession;

// The journal directory; empty: no journal (the acquisition then refuses a
// card whose sector 0 holds a pattern, as it always has).
extern std::string _JournalDirectory;
// SetJournalDirectory was called (with a directory or to turn it off).
extern bool _JournalDirectoryChosen;

// The directory of this run's journal: the host's choice when it made one,
// else $SDSMART_JOURNAL_DIR; empty for none. Throws
// Errors::JournalDirectoryUnusable (before anything is written) when the
// variable names a directory that cannot be used.
std::string JournalDirectoryInUse(const std::optional<std::string> &chosen);

class CEntryJournal {
public:
  // The session's drive is open on the card and its channel built; nothing
  // is sent to the card here. The backup goes to the session's results.
  CEntryJournal(const std::string &directory, CCardSession &session);

  // Reads sector 0, writes the journal's copy back first when sector 0
  // holds a pattern and a journal of this card is in the directory (under
  // whatever node name it was written; its time goes to the session's
  // RestoredFromJournal), and makes the result
  // the run's backup (the session's Sector0), saved in the journal. Throws before
  // anything is written when the journal belongs to another card, is
  // damaged or cannot be saved; the caller then closes the drive, since
  // sector 0 may hold a pattern.
  void Backup();
  // Sector 0 reads back as the backup (written again first when it does
  // not): the journal goes. Throws Errors::JournalRestoreUnverified when the
  // card does not take it; the journal stays.
  void CheckAndFinish();
  // After the failure path's restore: removes the journal when sector 0
  // reads back as the backup. Never throws; false when it stays.
  bool FinishAfterRestore() noexcept;

  const std::string &Path() const { return Journal.Path(); }

private:
  bool SectorZeroIsBackup();
  // A journal in the directory that fits this card, adopted as this run's.
  std::optional<CJournalRecord> AdoptJournalOfCard();
  Bulk<unsigned char> ReadSectorZero();

  CCardSession &Session;
  SectorReader ReadSector; // through the session's channel
  CSectorJournal Journal;
  CCardIdentity Card;
  std::string Directory;
};

// SetJournalDirectory's check: throws Errors::JournalDirectoryUnusable.
void CheckJournalDirectory(const std::string &directory);
