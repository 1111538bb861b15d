// SPDX-License-Identifier: MIT
// Kept for the documented interface: the library itself never asks a drive
// for its volume; these answer from what they were given.
#include "sdsmart/drive_info.h"

CDriveInfo::CDriveInfo() : formatted{false, false}, available(false) {}

CDriveInfo::CDriveInfo(const std::wstring &name)
    : driveName(name), formatted{false, false}, available(false) {}

std::wstring CDriveInfo::ToDriveCaption() {
  std::wstring caption = driveName + L"  ";
  caption += std::to_wstring(static_cast<unsigned int>(size >> 20));
  caption += IsFormatted() ? L" MB [" : L" MB  [";
  caption += fileSystemName;
  caption += L"] ";
  return caption;
}

std::wstring CDriveInfo::SimpleDriveCaption() { return driveName + L"         "; }

CDiskVolumn::CDiskVolumn(const std::wstring &name) : diskName(name), drive(name, false) {}

void CDriveInfo::SetDriveName(const std::wstring &name) { driveName = name; }

void CDriveInfo::Get() {}

bool CDriveInfo::IsNTFS() { return fileSystemName == L"NTFS"; }

bool CDriveInfo::GetVolumnMounted(CUsbDrive &) { return true; }

bool CDriveInfo::IsFormatted() { return formatted[0] && formatted[1]; }

bool CDriveInfo::IsAvailable() { return available; }

bool CDriveInfo::IsWriteProtected() { return writeProtected; }

void CDiskVolumn::Refresh() { mounted = GetVolumnMounted(); }

bool CDiskVolumn::GetVolumnMounted() { return true; }

bool CDiskVolumn::IsVolumnMounted() { return mounted; }

bool CDiskVolumn::IsDriveOpen() { return drive.IsOpen(); }

CUsbDrive &CDiskVolumn::GetUsbDrive() { return drive; }
