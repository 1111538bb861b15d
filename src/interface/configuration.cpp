// SPDX-License-Identifier: MIT
// The configuration file: where it is, and loading it into the session.
#include "interface/configuration.h"
#include "interface/session.h"
#include "sdsmart/convert.h"
#include "sdsmart/ini_file.h"
#include "util/error_catalogue.h"

#include <sys/stat.h>

std::wstring GetDbFullPath() {
  if (_ConfigPath.empty())
    return _AppExePath + L"/config";
  return ToWideString(_ConfigPath);
}

CIniFile LoadConfiguration(const std::wstring &path) {
  struct stat st {};
  if (stat(ToNarrowString(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long>(st.st_size) > MaxConfigurationBytes)
    throw COpenFileError(path);
  return CIniFile(kConfigFileSeed, path, CIniFile::ModeLoad);
}

void ReloadAuthorFile() {
  const std::wstring path = GetDbFullPath();
  if (!FileExists(path.c_str()))
    throw MakeError(Errors::ConfigFileMissing);

  const CIniFile ini = LoadConfiguration(path);
  _AuthorCode = ini.ReadInteger(L"Authorization", L"Vendor ID");
  // The key is always the decimal form, however the vendor number is written.
  _EntryStr = ini.ReadString(L"SMART Entry", IntegerToWideString(_AuthorCode), L"");
  _SmartVerSupport = static_cast<unsigned char>(
      ini.ReadInteger(L"Version", L"SMART Version Support", _SmartVerSupport) & 0xFF);
  _ExternelSDKName = ini.ReadString(L"Version", L"Externel SDK Name", _ExternelSDKName);
  _UseExternelSDKName =
      ini.ReadInteger(L"Version", L"Use Externel SDK Name", _UseExternelSDKName ? 1 : 0) != 0;
}
