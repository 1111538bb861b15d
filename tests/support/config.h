// SPDX-License-Identifier: MIT
// Configuration files written the way the vendor tool writes them: the
// library's INI writer, scrambled with the fixed seed.
#pragma once

#include "sdsmart/ini_file.h"
#include "sdsmart/ini_file_loader.h"
#include "support.h"

#include <map>

namespace sdtest {

using ConfigSections = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

// The entry string and vendor the virtual cards answer to.
constexpr const char *kEntry = "SDSMTEST";
constexpr int kVendor = 7;

// Text stored the way the configuration tools store it: FF FE, then
// UTF-16LE units (the text here stays within U+FFFF), scrambled if asked.
inline void WriteIniText(const std::string &path, std::wstring text, bool scrambled = false) {
  if (scrambled)
    ScrambleIniText(text, kConfigFileSeed);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * text.size());
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  WriteFile(path, bytes);
}

inline void WriteConfig(const std::string &path, const ConfigSections &sections,
                        bool plain = false) {
  const std::wstring name(path.begin(), path.end());
  CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
  for (const auto &section : sections)
    for (const auto &entry : section.second)
      ini.WriteString(section.first, entry.first, entry.second);
  if (plain)
    ini.UpdateFile(name);
  else
    ini.UpdateFile(name, kConfigFileSeed);
}

// The configuration that opens the virtual cards' special mode and names
// their two flash types.
inline ConfigSections CardConfig(const std::string &entry = kEntry) {
  ConfigSections c;
  c[L"Authorization"][L"Vendor ID"] = std::to_wstring(kVendor);
  c[L"SMART Entry"][std::to_wstring(kVendor)] = std::wstring(entry.begin(), entry.end());
  c[L"Flash Type Name"][L"98 3a 98 a3 76 51"] = L"15nm TLC";
  c[L"Flash Type Name"][L"45 de 94 93 76 51"] = L"19nm MLC";
  return c;
}

} // namespace sdtest
