// SPDX-License-Identifier: MIT
// CIniFileLoader: reads a configuration file of the library's INI dialect
// (UTF-16LE after a byte-order mark, optionally scrambled) and cuts it into
// section names, keys and values.
//
// Dialect: "[name]" starts a section; inside it each entry is "key = value;"
// (keys end at '=', values at ';', both trimmed of blanks, tabs and line
// ends, line ends inside them removed). Comments are "/* ... */" (ending at
// the first '*', which must be followed by '/') and "// ..." up to the next
// CR-LF; any other '/' is a syntax error. The first of duplicate sections or
// keys wins. Syntax errors are CIniFileError IniSyntax with the line (counted
// from 0) where they were found.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

using CIniKeyMap = std::map<std::wstring, std::wstring>;

// Seed of the scrambled configuration file.
constexpr unsigned int kConfigFileSeed = 0x5C1E93A7u;

// The scrambling transform, applied in place: every character other than CR
// and LF has its low 4 bits XOR-ed with the low 4 bits of the next
// IRandom(0, 255) of a TRandomMersenne seeded with seed; bits above the 16th
// are cleared. For 16-bit units it is its own inverse.
void ScrambleIniText(std::wstring &text, unsigned int seed);

class CIniFileLoader {
public:
  static constexpr uint64_t npos = static_cast<uint64_t>(-1);

  // Reads a plain file. Throws COpenFileError or CIniFileError.
  explicit CIniFileLoader(const std::wstring &fileName);
  // Reads a scrambled file and unscrambles it with seed.
  CIniFileLoader(const std::wstring &fileName, unsigned int seed);

  bool End();
  // The next section name (terminator ']'), key ('=') or value (';'); empty
  // when a key is asked for and the next section (or the end) comes first.
  void GetItem(std::wstring &out, wchar_t terminator);
  // All entries of the current section.
  void GetKeyMap(CIniKeyMap &keys);

  // Comment-aware searches from position from; npos when none.
  void GetPositionOfComment();
  uint64_t Find(wchar_t c, uint64_t from);
  uint64_t FindFirstNotOf(const wchar_t *set, uint64_t from);

  const std::wstring &Text();

private:
  void Prepare();
  [[noreturn]] void SyntaxError(const std::wstring &what, uint64_t at) const;
  template <typename Search> uint64_t SkipComments(uint64_t x, Search search);

  // Hosts know the object as {text; const std::wstring &fileName; pos;
  // commentStart; commentEnd}. A reference to the caller's string dangles
  // once a temporary name is gone, so the loader keeps its own copy behind a
  // pointer, which has the reference's size and place.
  std::wstring text;
  std::unique_ptr<const std::wstring> fileName;
  uint64_t pos = 0;
  uint64_t commentStart = 0;
  uint64_t commentEnd = npos;

  friend struct CIniFileLoaderLayout;
};
