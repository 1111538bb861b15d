// SPDX-License-Identifier: MIT
// Parsing and rendering of integers in the library's formats.
#include "sdsmart/convert.h"
#include "util/error_catalogue.h"

#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

namespace {

std::wstring Quoted(const std::string &s) { return ToWideString(s); }
std::wstring Quoted(const std::wstring &s) { return s; }

template <typename Char> bool HasHexMarker(const std::basic_string<Char> &s) {
  return s.size() > 1 && (s[1] == Char('x') || s[1] == Char('X'));
}

// Formatted extraction into T; the value stands when the stream is still good
// or has consumed the whole text (an out-of-range number gives T's limit).
template <typename T, typename Char> T Extract(const std::basic_string<Char> &s, bool hex) {
  if (s.empty())
    throw MakeError(Errors::EmptyNumber);
  std::basic_istringstream<Char> in(s);
  in.imbue(std::locale::classic()); // the host's global locale must not group digits
  if (hex)
    in >> std::hex;
  T value{};
  in >> value;
  if (in.good() || in.eof())
    return value;
  throw MakeError(Errors::NotANumber, {Quoted(s)});
}

template <typename Signed, typename Unsigned, typename Char>
Signed ParseInteger(const std::basic_string<Char> &s) {
  if (HasHexMarker(s))
    return static_cast<Signed>(Extract<Unsigned>(s, true));
  return Extract<Signed>(s, false);
}

template <typename Char, typename T>
std::basic_string<Char> Render(T v, unsigned int width, bool hex) {
  std::basic_ostringstream<Char> out;
  out.imbue(std::locale::classic());
  if (hex)
    out << std::hex << std::uppercase;
  out << std::setfill(Char('0')) << std::setw(static_cast<int>(width)) << v;
  return out.str();
}

std::wstring Widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }

} // namespace

int StringToInteger(const std::string &s) { return ParseInteger<int, unsigned int>(s); }
int StringToInteger(const std::wstring &s) { return ParseInteger<int, unsigned int>(s); }
long StringToInteger64(const std::string &s) { return ParseInteger<long, unsigned long>(s); }
long StringToInteger64(const std::wstring &s) { return ParseInteger<long, unsigned long>(s); }
unsigned int HexStringToInteger(const std::string &s) { return Extract<unsigned int>(s, true); }
unsigned int HexStringToInteger(const std::wstring &s) { return Extract<unsigned int>(s, true); }
unsigned long HexStringToInteger64(const std::string &s) { return Extract<unsigned long>(s, true); }
unsigned long HexStringToInteger64(const std::wstring &s) {
  return Extract<unsigned long>(s, true);
}

std::string itoa(int v, char *buf, int radix) {
  if (radix == 16)
    std::sprintf(buf, "%x", static_cast<unsigned int>(v));
  else
    std::sprintf(buf, "%d", v);
  return std::string(buf);
}

std::wstring _itow(int v, wchar_t *, int radix) {
  char buffer[255];
  return Widen(itoa(v, buffer, radix));
}

std::string IntegerToString(int v) {
  char buffer[16];
  return itoa(v, buffer, 10);
}

std::wstring IntegerToWideString(int v) {
  wchar_t unused[1];
  return _itow(v, unused, 10);
}

std::string IntegerToString(int v, unsigned int width) { return Render<char>(v, width, false); }
std::wstring IntegerToWideString(int v, unsigned int width) {
  return Render<wchar_t>(v, width, false);
}
std::string Integer64ToString(long v) { return Render<char>(v, 0, false); }
std::wstring Integer64ToWideString(long v) { return Render<wchar_t>(v, 0, false); }
std::string IntegerToHexString(unsigned int v, unsigned int width) {
  return Render<char>(v, width, true);
}
std::wstring IntegerToHexWideString(unsigned int v, unsigned int width) {
  return Render<wchar_t>(v, width, true);
}
std::string Integer64ToHexString(long v, unsigned int width) {
  return Render<char>(static_cast<unsigned long>(v), width, true);
}
std::wstring Integer64ToHexWideString(long v, unsigned int width) {
  return Render<wchar_t>(static_cast<unsigned long>(v), width, true);
}
