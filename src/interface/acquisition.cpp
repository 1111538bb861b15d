// SPDX-License-Identifier: MIT
// One acquisition of a card session. The special-mode patterns overwrite the
// card's sector 0, so the run keeps a copy taken before the reader starts
// and makes sure the sector holds it again when the run ends, however it ends.
#include "interface/acquisition_journal.h"
#include "interface/card_session.h"
#include "sdsmart/acquisition_lock.h"
#include "sdsmart/convert.h"
#include "sdsmart/flash_naming.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/entry_sector.h"
#include "smart/erase_count_range.h"
#include "transport/device_reader_io.h"
#include "util/error_catalogue.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

const bool NeverCancelled = false;

} // namespace

CCardSession::CCardSession(std::string node, Transport transport)
    : Node(std::move(node)), Via(transport), Cancel(&NeverCancelled) {}

CCardSession::~CCardSession() = default;

// A fresh drive for the node. The old reader and channel refer to the drive
// being replaced, so they go first; if the node cannot be opened the objects
// of the last run stay as they were.
void CCardSession::InitDeviceInstance() {
  CCardDrive drive = CCardDrive::Open(Via, ToWideString(Node));
  Reader.reset();
  Channel.reset();
  Drive = std::move(drive);
}

// A fresh channel over the drive and a fresh reader over it. The old reader
// refers to the old channel, so it is dropped before the channel is.
void CCardSession::InitSmartInfoReader() {
  auto channel = std::make_unique<CSpecialMode2Cmd>(CDeviceReaderIo::Over(Device()),
                                                    Via == Transport::UsbReader, Entry);
  Reader.reset();
  Channel = std::move(channel);
  Reader = std::make_unique<CSmartInfoReader>(*Channel, Entry, ToWideString(Node), *Cancel,
                                              SmartVersion);
}

// Reads sector 0 into the backup. Nothing is restored when this fails (the
// caller only restores after a backup of this run), and the copy of an
// earlier run is kept until a new one has been read: after a failed restore
// it is the only copy of the card's partition sector the host has. A sector
// 0 that is itself a command pattern, whole or damaged (a run that died
// half-way left it so), must not become the copy: nothing is written and the
// run stops.
void CCardSession::BackupEntryLBA() {
  Bulk<unsigned char> sector(CardProtocol::SectorBytes);
  Channel->Cmd18(0, sector.Data(), CardProtocol::SectorBytes);
  if (EntrySector::Classify(sector.Data()) != EntrySector::Kind::OtherData) {
    CloseDrive();
    throw MakeError(Errors::PatternInSectorZero);
  }
  Results.Sector0 = std::move(sector);
}

void CCardSession::RestoreEntryLBA() {
  Channel->Cmd25(0, Results.Sector0.Data(), Results.Sector0.Size());
}

// Reads sector 0 again and writes the copy back only when it differs.
void CCardSession::BackupEntryLBAWithCheck() {
  Bulk<unsigned char> now(CardProtocol::SectorBytes);
  Channel->Cmd18(0, now.Data(), CardProtocol::SectorBytes);
  if (now != Results.Sector0)
    Channel->Cmd25(0, Results.Sector0.Data(), Results.Sector0.Size());
}

// Steps after the backup: run the reader and keep its results.
void CCardSession::ReadAndStore() {
  Reader->Execute(Selection);

  CCardResults &r = Results;
  std::memcpy(&r.Header, Reader->GetHeader(), sizeof r.Header);
  r.EccUncorrectable = Reader->GetECCUncorrectableCnt();
  // Taken over rather than copied: the reader is dropped before the next
  // run and nothing reads its tables after this.
  r.EraseCounts = std::move(Reader->GetDetailEraseCount());
  r.ReadCounts = std::move(Reader->GetDetailReadCount());
  // Both ends of the erase counts in one pass over the table.
  const EraseCountRange range = FindEraseCountRange(r.EraseCounts);
  r.MinEraseCount = range.Min;
  r.MaxEraseCount = range.Max;

  r.FlashType = ToNarrowString(GetFlashTypeString(r.Header.FlashID, r.Header.FlashTypeCode,
                                                  r.Header.PECycleCount, ConfigPath));
  std::string flashId;
  for (unsigned char byte : r.Header.FlashID) {
    char group[4];
    std::snprintf(group, sizeof group, "%02X ", byte);
    flashId += group;
  }
  r.FlashId = flashId;
}

void CCardSession::CloseDrive() noexcept { Device().Close(); }

// The reader and the final check, with sector 0 restored on every failure.
void CCardSession::ReadGuarded(CEntryJournal *journal) {
  try {
    ReadAndStore();
    if (journal)
      journal->CheckAndFinish();
    else
      BackupEntryLBAWithCheck();
  } catch (...) {
    try {
      // If the restoring write fails too, its error is the one reported.
      RestoreEntryLBA();
    } catch (...) {
      CloseDrive();
      throw;
    }
    if (journal && !journal->FinishAfterRestore())
      CloseDrive(); // sector 0 may still hold a pattern; its copy stays
    throw;
  }
}

void CCardSession::Acquire() {
  // Held from before any descriptor of the card is opened for writing (the
  // last run's drive is closed under it too) until after the final check:
  // a second acquisition of the card waits, then fails having written
  // nothing, and udev does not probe the card meanwhile.
  const CAcquisitionLock lock(Node);
  Results.JournalKept.clear();
  Results.RestoredFromJournal.clear();
  const std::string journalDirectory = JournalDirectoryInUse(JournalDirectory);
  InitDeviceInstance();
  InitSmartInfoReader();
  if (journalDirectory.empty()) {
    BackupEntryLBA(); // on failure nothing was written and there is nothing to restore
    ReadGuarded(nullptr);
    return;
  }
  CEntryJournal journal(journalDirectory, *this);
  try {
    journal.Backup();
  } catch (...) {
    CloseDrive(); // sector 0 may hold a pattern (one this run did not write)
    throw;
  }
  ReadGuarded(&journal);
}
