#include "transport/drive_info.h"

CDriveInfo::CDriveInfo() : formatted{false, false}, available(false) {}

CDriveInfo::CDriveInfo(const std::wstring &name)
    : driveName(name), formatted{false, false}, available(false) {}

std::wstring CDriveInfo::ToDriveCaption() const {
  std::wstring caption = driveName + L"  ";
  caption += std::to_wstring(static_cast<unsigned int>(size >> 20));
  caption += IsFormatted() ? L" MB [" : L" MB  [";
  caption += fileSystemName;
  caption += L"] ";
  return caption;
}

std::wstring CDriveInfo::SimpleDriveCaption() const { return driveName + L"         "; }

CDiskVolumn::CDiskVolumn(const std::wstring &name) : diskName(name), drive(name, false) {}
