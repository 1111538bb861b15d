// SPDX-License-Identifier: MIT
// Small text, file-name and memory helpers.
#include "sdsmart/convert.h"

#include <cstring>
#include <ctime>
#include <cwctype>
#include <fstream>
#include <iomanip>
#include <locale>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Char>
void Split(const std::basic_string<Char> &s, const std::basic_string<Char> &delims,
           std::vector<std::basic_string<Char>> &out) {
  out.clear();
  using String = std::basic_string<Char>;
  typename String::size_type begin = s.find_first_not_of(delims);
  while (begin != String::npos) {
    typename String::size_type end = s.find_first_of(delims, begin);
    out.push_back(s.substr(begin, end == String::npos ? String::npos : end - begin));
    if (end == String::npos)
      break;
    begin = s.find_first_not_of(delims, end);
  }
}

template <typename Char> bool ErasePartition(std::basic_string<Char> &s) {
  using String = std::basic_string<Char>;
  const Char separators[] = {Char(':'), Char('+'), Char('*'), Char(0)};
  const Char blanks[] = {Char(' '), Char('\t'), Char(0)};
  typename String::size_type pos = s.find_first_of(separators);
  while (pos != String::npos) {
    if (pos == 0)
      return false;
    typename String::size_type after = s.find_first_not_of(blanks, pos + 1);
    if (after == String::npos)
      return false;
    s.erase(pos + 1, after - pos - 1);
    typename String::size_type before = s.find_last_not_of(blanks, pos - 1);
    if (before == String::npos)
      return false;
    typename String::size_type gap = pos - before - 1;
    s.erase(before + 1, gap);
    pos = s.find_first_of(separators, pos - gap + 2);
  }
  return true;
}

template <typename Char> std::basic_string<Char> FileName(const Char *path) {
  if (path == nullptr)
    return std::basic_string<Char>();
  std::basic_string<Char> p(path);
  typename std::basic_string<Char>::size_type slash = p.rfind(Char('/'));
  return slash == std::basic_string<Char>::npos ? p : p.substr(slash + 1);
}

template <typename Char> std::basic_string<Char> &Lower(std::basic_string<Char> &s) {
  const std::ctype<Char> &ctype = std::use_facet<std::ctype<Char>>(std::locale::classic());
  for (Char &c : s)
    c = ctype.tolower(c);
  return s;
}

} // namespace

void SplitString(const std::string &s, const std::string &delims, std::vector<std::string> &out) {
  Split(s, delims, out);
}

void SplitString(const std::wstring &s, const std::wstring &delims,
                 std::vector<std::wstring> &out) {
  Split(s, delims, out);
}

std::wstring ByteArrayToHexStr(const unsigned char *data, unsigned int n) {
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring out;
  out.reserve(3 * static_cast<size_t>(n));
  for (unsigned int i = 0; i < n; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
    out += L' ';
  }
  return out;
}

bool ErasePartitionChar(std::string &s) { return ErasePartition(s); }
bool ErasePartitionChar(std::wstring &s) { return ErasePartition(s); }

bool IsDigit(const std::string &s) {
  for (char c : s)
    if (c < '0' || c > '9')
      return false;
  return true;
}

bool IsDigit(const std::wstring &s) {
  for (wchar_t c : s)
    if (!std::iswdigit(static_cast<wint_t>(c)))
      return false;
  return true;
}

bool IsHexDigit(const std::string &s) {
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
  return true;
}

bool IsHexDigit(const std::wstring &s) {
  for (wchar_t c : s)
    if (!std::iswxdigit(static_cast<wint_t>(c)))
      return false;
  return true;
}

bool IsAsciiString(const std::wstring &s) {
  for (wchar_t c : s)
    if (c > 127)
      return false;
  return true;
}

std::wstring EraseLineEnd(const std::wstring &s) {
  std::wstring::size_type end = s.rfind(L"\r\n");
  return end == std::wstring::npos ? s : s.substr(0, end);
}

std::wstring ElapsedTimeMsToString(unsigned int ms) {
  if (ms > 9999)
    return std::to_wstring(ms / 1000) + L" sec";
  return std::to_wstring(ms) + L" ms";
}

std::wstring GetDateTimeString() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  wchar_t text[64];
  std::swprintf(text, sizeof text / sizeof text[0], L"%d/%02d/%02d  %02d:%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec);
  return text;
}

// Asks the file system rather than opening the file: opening a FIFO would
// block until something writes to it.
bool FileExists(const char *path) {
  if (path == nullptr)
    return false;
  struct stat st {};
  return stat(path, &st) == 0 && access(path, R_OK) == 0;
}

bool FileExists(const wchar_t *path) {
  if (path == nullptr)
    return false;
  return FileExists(w2c(path).c_str());
}

std::string extract_fname(const char *path) { return FileName(path); }
std::wstring extract_fname(const wchar_t *path) { return FileName(path); }

void FillMemory(void *p, unsigned long n, unsigned char v) { std::memset(p, v, n); }

void CloseHandle(int fd) {
  if (fd != -1)
    close(fd);
}

namespace StrUtls {
std::string &ToLower(std::string &s) { return Lower(s); }
std::wstring &ToLower(std::wstring &s) { return Lower(s); }
} // namespace StrUtls

std::wstring ByteArrayToHexStr(unsigned char *data, unsigned int n) {
  return ByteArrayToHexStr(static_cast<const unsigned char *>(data), n);
}
