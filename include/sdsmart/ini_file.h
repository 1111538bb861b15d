// SPDX-License-Identifier: MIT
// CIniFile: a configuration file as an ordered map of sections, each an
// ordered map of keys to text values (names are case-sensitive), with typed
// reads, edits, merging and writing back. Files are read by CIniFileLoader.
#pragma once

#include "sdsmart/ini_file_loader.h"

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

struct ErrorMessage;

class CIniFile {
public:
  using KeyMap = CIniKeyMap;
  using SectionMap = std::map<std::wstring, KeyMap>;

  enum : unsigned int {
    ModeLoad = 0, // read the file
    ModeNew = 1   // start an empty model bound to the name (to write a new file)
  };

  CIniFile() = default;
  // Open(fileName, mode, seed): reads the scrambled file unless mode is ModeNew.
  CIniFile(unsigned int seed, const std::wstring &fileName, unsigned int mode);
  CIniFile(const CIniFile &other);
  CIniFile &operator=(const CIniFile &other);

  // Plain file. Throws COpenFileError or CIniFileError; on a throw the model
  // is left as it was.
  void Open(const std::wstring &fileName, unsigned int mode);
  // Scrambled file.
  void Open(const std::wstring &fileName, unsigned int mode, unsigned int seed);
  void Load(CIniFileLoader &loader);

  // Throws CIniFileError IniNoSection or IniNoKey.
  KeyMap::const_iterator FindKey(const std::wstring &section, const std::wstring &key) const;

  // The value; for a value in double quotes, the text between the first two.
  std::wstring ReadString(const std::wstring &section, const std::wstring &key) const;
  std::wstring ReadString(const std::wstring &section, const std::wstring &key,
                          const std::wstring &defaultValue) const;
  // The value split at blanks and tabs.
  void ReadStrings(const std::wstring &section, const std::wstring &key,
                   std::vector<std::wstring> &out) const;
  // Exactly count items (CIniFileError IniTooFewIntegers when fewer; extra ones dropped).
  void ReadStrings(const std::wstring &section, const std::wstring &key, unsigned int count,
                   std::vector<std::wstring> &out) const;

  // Decimal, or hexadecimal when the second character is x/X; CIniFileError
  // IniNotInteger when it is not a number.
  int StringToInteger(const std::wstring &s) const;
  int ReadInteger(const std::wstring &section, const std::wstring &key) const;
  int ReadInteger(const std::wstring &section, const std::wstring &key, int defaultValue) const;
  // Hexadecimal (HexStringToInteger; its CError when not a number).
  int ReadHexInteger(const std::wstring &section, const std::wstring &key) const;
  int ReadHexInteger(const std::wstring &section, const std::wstring &key, int defaultValue) const;

  void WriteString(const std::wstring &section, const std::wstring &key, const std::wstring &value);
  void WriteInteger(const std::wstring &section, const std::wstring &key, int value);
  void DeleteSection(const std::wstring &section);
  void DeleteKey(const std::wstring &section, const std::wstring &key);

  // Writes the model as UTF-16LE after the mark FF FE ("[name]\r\n",
  // "key=value;\r\n", a blank line after each section); characters above
  // U+FFFF as surrogate pairs. What the dialect can express loads back equal.
  void UpdateFile(const std::wstring &fileName);
  void UpdateFile();
  // The same, stored scrambled with seed (as the configuration file is).
  void UpdateFile(const std::wstring &fileName, unsigned int seed);

  // Hosts are built against either form (the documentation does not say
  // which); the non-const ones call the const ones.
  bool operator==(const CIniFile &other) const;
  bool operator!=(const CIniFile &other) const;
  bool operator==(const CIniFile &other);
  bool operator!=(const CIniFile &other);
  // Adds the sections and keys of other that this file lacks.
  CIniFile &operator+=(const CIniFile &other);

  const SectionMap &Sections() const;
  const std::wstring &GetFileName() const;
  // The model as the text UpdateFile stores.
  std::wstring ToText() const;

private:
  void ClearCache() const { cachedSection.clear(); }
  SectionMap::iterator Lookup(const std::wstring &section) const;
  [[noreturn]] void Fail(const ErrorMessage &message,
                         std::initializer_list<std::wstring> details) const;
  void Write(const std::wstring &fileName, const unsigned int *seed) const;

  SectionMap sections;
  std::wstring fileName;
  // The section found by the last lookup; empty means no cache.
  mutable std::wstring cachedSection;
  mutable SectionMap::iterator cachedPosition;
};

CIniFile operator+(const CIniFile &a, const CIniFile &b);
