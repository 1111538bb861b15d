// SPDX-License-Identifier: MIT
#include "sdsmart/ini_file.h"

#include "sdsmart/convert.h"
#include "sdsmart/io_file.h"
#include "util/error_catalogue.h"

#include <fcntl.h>
#include <locale>
#include <sstream>

CIniFile::CIniFile(unsigned int seed, const std::wstring &name, unsigned int mode) {
  Open(name, mode, seed);
}

// A copy never shares the cache: it points into the other object's map.
CIniFile::CIniFile(const CIniFile &other) : sections(other.sections), fileName(other.fileName) {}

CIniFile &CIniFile::operator=(const CIniFile &other) {
  if (this != &other) {
    sections = other.sections;
    fileName = other.fileName;
    ClearCache();
  }
  return *this;
}

void CIniFile::Open(const std::wstring &name, unsigned int mode) {
  fileName = name;
  if (mode == ModeNew) {
    sections.clear();
    ClearCache();
    return;
  }
  CIniFileLoader loader(name);
  Load(loader);
}

void CIniFile::Open(const std::wstring &name, unsigned int mode, unsigned int seed) {
  fileName = name;
  if (mode == ModeNew) {
    sections.clear();
    ClearCache();
    return;
  }
  CIniFileLoader loader(name, seed);
  Load(loader);
}

void CIniFile::Load(CIniFileLoader &loader) {
  SectionMap loaded;
  std::wstring name;
  KeyMap keys;
  while (!loader.End()) {
    loader.GetItem(name, L']');
    if (loader.End())
      break; // a header with nothing after it
    loader.GetKeyMap(keys);
    loaded.emplace(name, keys);
  }
  ClearCache(); // the cached position pointed into the old map
  sections.swap(loaded);
}

void CIniFile::Fail(const ErrorMessage &message,
                    std::initializer_list<std::wstring> details) const {
  throw MakeIniError(message, fileName, details);
}

CIniFile::SectionMap::iterator CIniFile::Lookup(const std::wstring &section) const {
  auto &all = const_cast<SectionMap &>(sections);
  if (!cachedSection.empty() && cachedSection == section)
    return cachedPosition;
  auto it = all.find(section);
  if (it != all.end()) {
    cachedSection = section;
    cachedPosition = it;
  }
  return it;
}

CIniFile::KeyMap::const_iterator CIniFile::FindKey(const std::wstring &section,
                                                   const std::wstring &key) const {
  auto it = Lookup(section);
  if (it == sections.end())
    Fail(Errors::IniNoSection, {section});
  auto found = it->second.find(key);
  if (found == it->second.end())
    Fail(Errors::IniNoKey, {key, section});
  return found;
}

std::wstring CIniFile::ReadString(const std::wstring &section, const std::wstring &key) const {
  const std::wstring &v = FindKey(section, key)->second;
  if (!v.empty() && v[0] == L'"') {
    const auto close = v.find(L'"', 1);
    if (close != std::wstring::npos)
      return v.substr(1, close - 1);
  }
  return v;
}

std::wstring CIniFile::ReadString(const std::wstring &section, const std::wstring &key,
                                  const std::wstring &defaultValue) const {
  try {
    return ReadString(section, key);
  } catch (...) {
    return defaultValue;
  }
}

void CIniFile::ReadStrings(const std::wstring &section, const std::wstring &key,
                           std::vector<std::wstring> &out) const {
  SplitString(FindKey(section, key)->second, L" \t", out);
}

void CIniFile::ReadStrings(const std::wstring &section, const std::wstring &key, unsigned int count,
                           std::vector<std::wstring> &out) const {
  ReadStrings(section, key, out);
  if (out.size() < count)
    Fail(Errors::IniTooFewIntegers,
         {std::to_wstring(out.size()), std::to_wstring(count), key, section});
  out.resize(count);
}

int CIniFile::StringToInteger(const std::wstring &s) const {
  if (s.empty())
    Fail(Errors::IniEmptyInteger, {});
  std::wistringstream in(s);
  in.imbue(std::locale::classic());
  int value = 0;
  if (s.size() > 1 && (s[1] == L'x' || s[1] == L'X')) {
    unsigned int u = 0;
    in >> std::hex >> u;
    value = static_cast<int>(u);
  } else {
    in >> value;
  }
  if (in.good() || in.eof())
    return value;
  Fail(Errors::IniNotInteger, {s});
}

int CIniFile::ReadInteger(const std::wstring &section, const std::wstring &key) const {
  return StringToInteger(ReadString(section, key));
}

int CIniFile::ReadInteger(const std::wstring &section, const std::wstring &key,
                          int defaultValue) const {
  try {
    return ReadInteger(section, key);
  } catch (...) {
    return defaultValue;
  }
}

int CIniFile::ReadHexInteger(const std::wstring &section, const std::wstring &key) const {
  return static_cast<int>(HexStringToInteger(ReadString(section, key)));
}

int CIniFile::ReadHexInteger(const std::wstring &section, const std::wstring &key,
                             int defaultValue) const {
  try {
    return ReadHexInteger(section, key);
  } catch (...) {
    return defaultValue;
  }
}

void CIniFile::WriteString(const std::wstring &section, const std::wstring &key,
                           const std::wstring &value) {
  auto it = Lookup(section);
  if (it == sections.end()) {
    sections.emplace(section, KeyMap{{key, value}});
    ClearCache();
    return;
  }
  it->second[key] = value;
}

void CIniFile::WriteInteger(const std::wstring &section, const std::wstring &key, int value) {
  WriteString(section, key, IntegerToWideString(value));
}

void CIniFile::DeleteSection(const std::wstring &section) {
  auto it = Lookup(section);
  if (it != sections.end())
    sections.erase(it);
  ClearCache();
}

void CIniFile::DeleteKey(const std::wstring &section, const std::wstring &key) {
  auto it = Lookup(section);
  if (it != sections.end())
    it->second.erase(key);
}

std::wstring CIniFile::ToText() const {
  std::wstring text;
  for (const auto &section : sections) {
    text += L"[" + section.first + L"]\r\n";
    for (const auto &entry : section.second)
      text += entry.first + L"=" + entry.second + L";\r\n";
    text += L"\r\n";
  }
  return text;
}

void CIniFile::Write(const std::wstring &name, const unsigned int *seed) const {
  // The loader reads 16-bit units, so the text goes out as UTF-16LE.
  std::wstring units;
  for (wchar_t c : ToText()) {
    const uint32_t v = static_cast<uint32_t>(c);
    if (v > 0xFFFF && v <= 0x10FFFF) {
      units += static_cast<wchar_t>(0xD800 + ((v - 0x10000) >> 10));
      units += static_cast<wchar_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
    } else {
      units += static_cast<wchar_t>(v & 0xFFFF);
    }
  }
  if (seed != nullptr)
    ScrambleIniText(units, *seed);
  std::string bytes;
  bytes.reserve(2 * units.size());
  for (wchar_t c : units) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  CIoFile file(name, O_RDWR, O_CREAT | O_TRUNC, 0, 0);
  file.WriteByteOrderMarkOfLittleEndian();
  file.WriteString(bytes);
}

void CIniFile::UpdateFile(const std::wstring &name) { Write(name, nullptr); }
void CIniFile::UpdateFile() { Write(fileName, nullptr); }
void CIniFile::UpdateFile(const std::wstring &name, unsigned int seed) { Write(name, &seed); }

CIniFile &CIniFile::operator+=(const CIniFile &other) {
  for (const auto &section : other.sections) {
    auto it = sections.find(section.first);
    if (it == sections.end())
      sections.insert(section);
    else
      it->second.insert(section.second.begin(), section.second.end());
  }
  return *this;
}

CIniFile operator+(const CIniFile &a, const CIniFile &b) {
  CIniFile sum(a);
  sum += b;
  return sum;
}

bool CIniFile::operator==(const CIniFile &other) const { return sections == other.sections; }

bool CIniFile::operator!=(const CIniFile &other) const { return sections != other.sections; }

bool CIniFile::operator==(const CIniFile &other) {
  return static_cast<const CIniFile &>(*this) == other;
}

bool CIniFile::operator!=(const CIniFile &other) {
  return static_cast<const CIniFile &>(*this) != other;
}

const CIniFile::SectionMap &CIniFile::Sections() const { return sections; }

const std::wstring &CIniFile::GetFileName() const { return fileName; }
