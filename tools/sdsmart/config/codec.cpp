// SPDX-License-Identifier: MIT
#include "config/codec.h"

#include "util/files.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"
#include "sdsmart/ini_file.h"
#include "sdsmart/ini_file_loader.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <sstream>

namespace sdsmart_tool {
namespace {

// UTF-8 -> UTF-16 code units held one per wide character (as the
// configuration reader holds them). Malformed bytes become U+FFFD.
std::wstring Utf8ToUnits(const std::string &s) {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      len = 0;
    }
    bool ok = len != 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      cp = 0xFFFD;
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
    i += len;
  }
  return out;
}

void AppendUtf8(std::string &out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string UnitsToUtf8(const std::wstring &units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = static_cast<uint32_t>(units[i]) & 0xFFFF;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size()) {
      uint32_t low = static_cast<uint32_t>(units[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

std::string WithCrLf(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r'))
      out += '\r';
    out += s[i];
  }
  return out;
}

} // namespace

std::string EncodeConfig(const std::string &plain) {
  std::string text = plain.compare(0, 3, "\xEF\xBB\xBF") == 0 ? plain.substr(3) : plain;
  std::wstring units = Utf8ToUnits(WithCrLf(text));
  ScrambleIniText(units, kConfigFileSeed);
  std::string out = "\xFF\xFE";
  for (wchar_t w : units) {
    uint32_t u = static_cast<uint32_t>(w);
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  }
  return out;
}

bool DecodeConfig(const std::string &stored, std::string &plain, std::string &error) {
  if (stored.size() < 2 || static_cast<unsigned char>(stored[0]) != 0xFF ||
      static_cast<unsigned char>(stored[1]) != 0xFE) {
    error = "not a stored configuration: it does not start with the FF FE mark";
    return false;
  }
  if (stored.size() % 2 != 0) {
    error = "not a stored configuration: odd number of bytes after the mark";
    return false;
  }
  std::wstring units;
  for (size_t i = 2; i + 1 < stored.size(); i += 2)
    units += static_cast<wchar_t>(static_cast<unsigned char>(stored[i]) |
                                  (static_cast<unsigned char>(stored[i + 1]) << 8));
  ScrambleIniText(units, kConfigFileSeed);
  plain = UnitsToUtf8(units);
  return true;
}

namespace {

// A section header of the plain text that the reader does not list was
// swallowed by the value before it (a missing ';'): named with its line.
bool SectionsAsWritten(const std::string &plain, const CIniFile &ini, const std::string &shown,
                       std::ostream &err) {
  std::istringstream lines(plain);
  std::regex header("^\\s*\\[([^\\]]+)\\]\\s*$");
  size_t number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::smatch m;
    if (!std::regex_match(line, m, header))
      continue;
    bool seen = false;
    for (const auto &section : ini.Sections())
      seen |= ToNarrowString(section.first) == m[1].str();
    if (!seen) {
      err << shown << ": section [" << m[1].str() << "] on line " << number
          << " is not read as a section: is a ';' missing at the end of the value before it?\n";
      return false;
    }
  }
  return true;
}

} // namespace

bool CheckConfig(const std::string &path, std::ostream &out, std::ostream &err,
                 const std::string &named, bool entryRequired) {
  const std::string &shown = named.empty() ? path : named;
  std::string stored, plain, why;
  if (!ReadWholeFile(path, stored)) {
    err << shown << ": " << std::strerror(errno) << "\n";
    return false;
  }
  if (!DecodeConfig(stored, plain, why)) {
    err << shown << ": " << why
        << " (a plain-text configuration is stored with 'sdsmart config encode')\n";
    return false;
  }
  CIniFile ini;
  try {
    ini.Open(ToWideString(path), CIniFile::ModeLoad, kConfigFileSeed);
  } catch (const CError &e) {
    std::string text = ToNarrowString(e.GetText());
    err << shown << ": error " << e.GetCode() << ": " << text << "\n";
    std::smatch m;
    if (std::regex_search(text, m, std::regex("on line = ([0-9]+)")))
      err << shown << ": the error is on line " << std::stoul(m[1].str()) + 1
          << " of the plain text\n";
    return false;
  }
  if (!SectionsAsWritten(plain, ini, shown, err))
    return false;
  size_t keys = 0;
  for (const auto &section : ini.Sections()) {
    out << "[" << ToNarrowString(section.first) << "]\n";
    for (const auto &kv : section.second) {
      out << "  " << ToNarrowString(kv.first) << "\n";
      ++keys;
    }
  }
  out << ini.Sections().size() << " section" << (ini.Sections().size() == 1 ? "" : "s") << ", "
      << keys << " key" << (keys == 1 ? "" : "s") << "\n";
  try {
    int vendor = ini.ReadInteger(L"Authorization", L"Vendor ID");
    std::wstring entry = ini.ReadString(L"SMART Entry", IntegerToWideString(vendor), L"");
    out << "vendor number " << vendor << ", entry string of " << entry.size() << " characters\n";
    if (entry.size() != GetEntryLength()) {
      err << shown << ": " << (entryRequired ? "" : "warning: ") << "the entry string of vendor "
          << vendor << " must have " << GetEntryLength() << " characters\n";
      return !entryRequired;
    }
  } catch (const CError &e) {
    err << shown << ": error " << e.GetCode() << ": " << ToNarrowString(e.GetText()) << "\n";
    return false;
  }
  return true;
}

} // namespace sdsmart_tool
