// SPDX-License-Identifier: MIT
// Descriptive records for code that lists drives: CDriveInfo renders a caption
// of one drive, CDiskVolumn owns an open USB drive and a mounted flag.
#pragma once

#include "sdsmart/usb_drive.h"

#include <cstdint>
#include <string>

class CDriveInfo {
public:
  CDriveInfo();
  explicit CDriveInfo(const std::wstring &name);

  void SetDriveName(const std::wstring &name);
  void Get();
  bool IsNTFS();
  bool GetVolumnMounted(CUsbDrive &);
  bool IsFormatted();
  bool IsAvailable();
  bool IsWriteProtected();
  // name, two spaces, size in MiB, " MB [" (" MB  [" when unformatted),
  // file system name, "] ".
  std::wstring ToDriveCaption();
  // name followed by nine spaces.
  std::wstring SimpleDriveCaption();

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

  void Refresh();
  bool GetVolumnMounted();
  bool IsVolumnMounted();
  bool IsDriveOpen();
  CUsbDrive &GetUsbDrive();

private:
  bool mounted = false;
  std::wstring diskName;
  CUsbDrive drive;
};
