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
