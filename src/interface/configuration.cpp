// SPDX-License-Identifier: MIT
// The configuration file: where it is, and loading it into the session.
#include "interface/configuration.h"
#include "interface/session.h"
#include "sdsmart/convert.h"
#include "sdsmart/ini_file.h"
#include "util/error_catalogue.h"

#include <mutex>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

std::wstring GetDbFullPath() {
  if (_ConfigPath.empty())
    return _AppExePath + L"/config";
  return ToWideString(_ConfigPath);
}

namespace {

struct ParsedFile {
  std::wstring Path;
  struct stat Identity {};
  timespec ParsedAt{};
  std::shared_ptr<const CIniFile> Ini;
};

bool SameTime(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Time stamps come from a coarse clock: one a second older than the parse
// cannot belong to a write the parse missed.
bool SettledBefore(const timespec &stamp, const timespec &parsed) {
  return stamp.tv_sec + 1 < parsed.tv_sec;
}

bool Unchanged(const ParsedFile &last, const std::wstring &path, const struct stat &st) {
  const struct stat &was = last.Identity;
  return last.Ini && last.Path == path && was.st_dev == st.st_dev && was.st_ino == st.st_ino &&
         was.st_size == st.st_size && SameTime(was.st_mtim, st.st_mtim) &&
         SameTime(was.st_ctim, st.st_ctim) && SettledBefore(st.st_mtim, last.ParsedAt) &&
         SettledBefore(st.st_ctim, last.ParsedAt);
}

} // namespace

std::shared_ptr<const CIniFile> LoadConfiguration(const std::wstring &path) {
  static std::mutex mutex;
  static ParsedFile last;
  const std::string narrow = ToNarrowString(path);
  struct stat st {};
  // FileExists's two questions, the stat also serving the checks below.
  if (stat(narrow.c_str(), &st) != 0 || access(narrow.c_str(), R_OK) != 0)
    return nullptr;
  if (!S_ISREG(st.st_mode) || static_cast<unsigned long>(st.st_size) > MaxConfigurationBytes)
    throw COpenFileError(path);
  std::lock_guard<std::mutex> hold(mutex);
  if (Unchanged(last, path, st))
    return last.Ini;
  ParsedFile now{path, st, {}, nullptr};
  clock_gettime(CLOCK_REALTIME, &now.ParsedAt);
  now.Ini = std::make_shared<const CIniFile>(kConfigFileSeed, path, CIniFile::ModeLoad);
  last = now;
  return now.Ini;
}

void ReloadAuthorFile() {
  const std::shared_ptr<const CIniFile> file = LoadConfiguration(GetDbFullPath());
  if (!file)
    throw MakeError(Errors::ConfigFileMissing);
  const CIniFile &ini = *file;
  _AuthorCode = ini.ReadInteger(L"Authorization", L"Vendor ID");
  // The key is always the decimal form, however the vendor number is written.
  _EntryStr = ini.ReadString(L"SMART Entry", IntegerToWideString(_AuthorCode), L"");
  _SmartVerSupport = static_cast<unsigned char>(
      ini.ReadInteger(L"Version", L"SMART Version Support", _SmartVerSupport) & 0xFF);
  _ExternelSDKName = ini.ReadString(L"Version", L"Externel SDK Name", _ExternelSDKName);
  _UseExternelSDKName =
      ini.ReadInteger(L"Version", L"Use Externel SDK Name", _UseExternelSDKName ? 1 : 0) != 0;
}
