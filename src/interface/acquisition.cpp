// SPDX-License-Identifier: MIT
// One acquisition behind GetSmartInfo. The special-mode patterns overwrite
// the card's sector 0, so the run keeps a copy taken before the reader starts
// and makes sure the sector holds it again when the run ends, however it ends.
#include "interface/acquisition.h"
#include "interface/acquisition_journal.h"
#include "interface/configuration.h"
#include "interface/session.h"
#include "sdsmart/acquisition_lock.h"
#include "sdsmart/convert.h"
#include "sdsmart/flash_naming.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/entry_sector.h"
#include "smart/erase_count_range.h"
#include "transport/sector_device.h"
#include "util/error_catalogue.h"

#include <cstdio>
#include <cstring>
#include <utility>

// A fresh drive for the named node. The old reader and channel refer to the
// drive being replaced, so they go first; if the node cannot be opened the
// objects of the last run stay as they were.
void InitDeviceInstance() {
  OpenDrive(SessionTransport(), ToWideString(_DiskName), [](auto drive) {
    _SmartInfoReader.reset();
    _SpecialMode2Cmd.reset();
    SessionSlot(drive) = std::move(drive);
  });
}

// A fresh channel over the current drive and a fresh reader over it. The old
// reader refers to the old channel, so it is dropped before the channel is.
void InitSmartInfoReader() {
  std::unique_ptr<CSpecialMode2Cmd> channel = SessionDevice().Visit(
      [](auto &drive) { return std::make_unique<CSpecialMode2Cmd>(drive, _EntryStr); });
  _SmartInfoReader.reset();
  _SpecialMode2Cmd = std::move(channel);
  _SmartInfoReader = std::make_unique<CSmartInfoReader>(
      *_SpecialMode2Cmd, _EntryStr, ToWideString(_DiskName), _Terminated, _SmartVerSupport);
}

// Reads sector 0 into _MBRBuffer. Nothing is restored when this fails (the
// caller only restores after a backup of this run), and the copy of an
// earlier run is kept until a new one has been read: after a failed restore
// it is the only copy of the card's partition sector the host has. A sector
// 0 that is itself a command pattern, whole or damaged (a run that died
// half-way left it so), must not become the copy: nothing is written and the
// run stops.
void BackupEntryLBA() {
  Bulk<unsigned char> sector(EntrySector::Bytes);
  _SpecialMode2Cmd->Cmd18(0, sector.Data(), EntrySector::Bytes);
  if (EntrySector::Classify(sector.Data()) != EntrySector::Kind::OtherData) {
    CloseDrive();
    throw MakeError(Errors::PatternInSectorZero);
  }
  _MBRBuffer = std::move(sector);
}

void RestoreEntryLBA() { _SpecialMode2Cmd->Cmd25(0, _MBRBuffer.Data(), _MBRBuffer.Size()); }

// Reads sector 0 again and writes the copy back only when it differs.
void BackupEntryLBAWithCheck() {
  Bulk<unsigned char> now(EntrySector::Bytes);
  _SpecialMode2Cmd->Cmd18(0, now.Data(), EntrySector::Bytes);
  if (now != _MBRBuffer)
    _SpecialMode2Cmd->Cmd25(0, _MBRBuffer.Data(), _MBRBuffer.Size());
}

namespace {

// Steps after the backup: run the reader and keep its results.
void ReadAndStore() {
  _SmartInfoReader->Execute(static_cast<unsigned char>(_FuncSel & 0xFF));

  std::memcpy(&_Header, _SmartInfoReader->GetHeader(), sizeof _Header);
  _ECCUncorrectableCnt = _SmartInfoReader->GetECCUncorrectableCnt();
  // Taken over rather than copied: the reader is dropped before the next
  // run and nothing reads its tables after this.
  _EraseCount = std::move(_SmartInfoReader->GetDetailEraseCount());
  _ReadCount = std::move(_SmartInfoReader->GetDetailReadCount());
  // Both ends of the erase counts in one pass over the table.
  const EraseCountRange range = FindEraseCountRange(_EraseCount);
  _MinEraseCount = range.Min;
  _MaxEraseCount = range.Max;

  _FlashType = ToNarrowString(GetFlashTypeString(_Header.FlashID, _Header.FlashTypeCode,
                                                 _Header.PECycleCount, GetDbFullPath()));
  std::string flashId;
  for (unsigned char byte : _Header.FlashID) {
    char group[4];
    std::snprintf(group, sizeof group, "%02X ", byte);
    flashId += group;
  }
  _FlashID = flashId;
}

} // namespace

void CloseDrive() noexcept { SessionDevice().Close(); }

namespace {

// The reader and the final check, with sector 0 restored on every failure.
void ReadGuarded(CEntryJournal *journal) {
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

} // namespace

void LoadDll_Main() {
  // Held from before any descriptor of the card is opened for writing (the
  // last run's drive is closed under it too) until after the final check:
  // a second acquisition of the card waits, then fails having written
  // nothing, and udev does not probe the card meanwhile.
  const CAcquisitionLock lock(_DiskName);
  const std::string journalDirectory = JournalDirectoryInUse();
  InitDeviceInstance();
  InitSmartInfoReader();
  if (journalDirectory.empty()) {
    BackupEntryLBA(); // on failure nothing was written and there is nothing to restore
    ReadGuarded(nullptr);
    return;
  }
  CEntryJournal journal(journalDirectory, _DiskName, SessionDevice().Handle());
  try {
    journal.Backup();
  } catch (...) {
    CloseDrive(); // sector 0 may hold a pattern (one this run did not write)
    throw;
  }
  ReadGuarded(&journal);
}
