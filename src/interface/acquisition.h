// SPDX-License-Identifier: MIT
// One acquisition behind GetSmartInfo: drive, command channel and reader are
// rebuilt, sector 0 is backed up, the reader runs, the results are copied into
// the session record, and sector 0 is left as it was found.
#pragma once

void LoadDll_Main();
void InitDeviceInstance();
void InitSmartInfoReader();
void BackupEntryLBA();
void RestoreEntryLBA();
void BackupEntryLBAWithCheck();
// Closes the drive of the current path. Called with the card's lock held
// whenever a run ends with sector 0 perhaps holding a pattern: a writable
// descriptor closed later, without the lock, would let udev re-read it.
void CloseDrive() noexcept;
