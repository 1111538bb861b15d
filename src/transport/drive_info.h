// Descriptive records for code that lists drives: CDriveInfo renders a caption
// of one drive, CDiskVolumn owns an open USB drive and a mounted flag.
#pragma once

#include "transport/usb_drive.h"

#include <cstdint>
#include <string>

class CDriveInfo {
public:
  CDriveInfo();
  explicit CDriveInfo(const std::wstring &name);

  void SetDriveName(const std::wstring &name) { driveName = name; }
  void Get() {}
  bool IsNTFS() const { return fileSystemName == L"NTFS"; }
  bool GetVolumnMounted(CUsbDrive &) { return true; }
  bool IsFormatted() const { return formatted[0] && formatted[1]; }
  bool IsAvailable() const { return available; }
  bool IsWriteProtected() const { return writeProtected; }
  // name, two spaces, size in MiB, " MB [" (" MB  [" when unformatted),
  // file system name, "] ".
  std::wstring ToDriveCaption() const;
  // name followed by nine spaces.
  std::wstring SimpleDriveCaption() const;

  // Filled by the user of the class.
  std::wstring driveName;
  std::wstring secondName;
  std::wstring fileSystemName;
  uint64_t size = 0;
  bool formatted[2];
  bool available;
  bool writeProtected = false;
};

class CDiskVolumn {
public:
  // Opens the node; throws Errors::DriveNotFound when it cannot.
  explicit CDiskVolumn(const std::wstring &name);

  void Refresh() { mounted = GetVolumnMounted(); }
  bool GetVolumnMounted() { return true; }
  bool IsVolumnMounted() const { return mounted; }
  bool IsDriveOpen() const { return drive.IsOpen(); }
  CUsbDrive &GetUsbDrive() { return drive; }

private:
  bool mounted = false;
  std::wstring diskName;
  CUsbDrive drive;
};
