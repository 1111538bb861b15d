// SPDX-License-Identifier: MIT
#include "sdsmart/ini_file_loader.h"

#include "sdsmart/io_file.h"
#include "sdsmart/mersenne.h"
#include "util/error_catalogue.h"

#include <algorithm>
#include <cstddef>
#include <fcntl.h>

namespace {

const wchar_t kBlanks[] = L" \t\r\n";

std::wstring ReadUtf16File(const std::wstring &fileName) {
  CIoFile file(fileName, O_RDONLY, O_EXCL, 0, 0);
  std::wstring text;
  file.ReadString(text);
  return text;
}

// The file holds 16-bit units; a character beyond U+FFFF is stored as a
// surrogate pair and becomes one character again here.
void JoinSurrogatePairs(std::wstring &text) {
  size_t out = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    }
    text[out++] = c;
  }
  text.resize(out);
}

} // namespace

// The layout hosts were built against; the name is held where the documented
// reference lies.
struct CIniFileLoaderLayout {
  struct Documented {
    std::wstring text;
    const std::wstring *fileName; // a reference member, laid out as a pointer
    uint64_t pos;
    uint64_t commentStart;
    uint64_t commentEnd;
  };
  static_assert(sizeof(CIniFileLoader) == sizeof(Documented), "CIniFileLoader size");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(offsetof(CIniFileLoader, fileName) == offsetof(Documented, fileName), "fileName");
  static_assert(offsetof(CIniFileLoader, pos) == offsetof(Documented, pos), "pos");
  static_assert(offsetof(CIniFileLoader, commentStart) == offsetof(Documented, commentStart),
                "start");
  static_assert(offsetof(CIniFileLoader, commentEnd) == offsetof(Documented, commentEnd), "end");
#pragma GCC diagnostic pop
};

void ScrambleIniText(std::wstring &text, unsigned int seed) {
  TRandomMersenne random(seed);
  for (wchar_t &c : text) {
    if (c == L'\n' || c == L'\r')
      continue;
    const uint32_t r = random.IRandom(0, 255);
    const uint32_t v = static_cast<uint32_t>(c);
    c = static_cast<wchar_t>((v & 0xFFF0u) + ((v ^ r) & 0x000Fu));
  }
}

CIniFileLoader::CIniFileLoader(const std::wstring &name)
    : text(ReadUtf16File(name)), fileName(std::make_unique<const std::wstring>(name)) {
  Prepare();
}

CIniFileLoader::CIniFileLoader(const std::wstring &name, unsigned int seed)
    : text(ReadUtf16File(name)), fileName(std::make_unique<const std::wstring>(name)) {
  ScrambleIniText(text, seed);
  Prepare();
}

void CIniFileLoader::Prepare() {
  JoinSurrogatePairs(text);
  GetPositionOfComment();
}

void CIniFileLoader::SyntaxError(const std::wstring &what, uint64_t at) const {
  const uint64_t end = std::min<uint64_t>(at, text.size());
  const std::wstring name = fileName ? *fileName : std::wstring(); // empty once moved from
  const auto line = std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(end), L'\n');
  // A missing '*' has always been reported in lower case.
  if (what == L"*")
    throw MakeIniError(Errors::IniMissingStar, name, {std::to_wstring(line)});
  throw MakeIniError(Errors::IniMissing, name, {what, std::to_wstring(line)});
}

void CIniFileLoader::GetPositionOfComment() {
  const uint64_t length = text.size();
  const uint64_t s = text.find(L'/', commentEnd + 1);
  if (s == std::wstring::npos) {
    commentStart = commentEnd = length;
    return;
  }
  commentStart = s;
  const uint64_t p = s + 1;
  if (p >= length)
    SyntaxError(L"/", p);
  if (text[p] == L'*') {
    commentEnd = text.find(L'*', p + 1);
    if (commentEnd == std::wstring::npos)
      SyntaxError(L"*", p);
    ++commentEnd;
    if (commentEnd >= length)
      SyntaxError(L"/", p);
    if (text[commentEnd] != L'/')
      SyntaxError(L"/", commentEnd);
    return;
  }
  if (text[p] == L'/') {
    const uint64_t lineEnd = text.find(L"\r\n", p + 1);
    commentEnd = lineEnd == std::wstring::npos ? length : lineEnd;
    return;
  }
  SyntaxError(L"/", p);
}

template <typename Search> uint64_t CIniFileLoader::SkipComments(uint64_t x, Search search) {
  for (;;) {
    if (x == std::wstring::npos)
      return npos;
    if (x < commentStart)
      return x;
    if (x <= commentEnd) {
      x = search(commentEnd + 1);
      if (x == std::wstring::npos)
        return npos;
    }
    GetPositionOfComment();
  }
}

uint64_t CIniFileLoader::Find(wchar_t c, uint64_t from) {
  auto search = [&](uint64_t at) -> uint64_t { return text.find(c, at); };
  return SkipComments(search(from), search);
}

uint64_t CIniFileLoader::FindFirstNotOf(const wchar_t *set, uint64_t from) {
  auto search = [&](uint64_t at) -> uint64_t { return text.find_first_not_of(set, at); };
  return SkipComments(search(from), search);
}

void CIniFileLoader::GetItem(std::wstring &out, wchar_t terminator) {
  const uint64_t length = text.size();
  out.clear();
  uint64_t start = pos;
  if (terminator == L']') {
    start = Find(L'[', start);
    if (start == npos) {
      pos = length;
      return;
    }
    pos = ++start;
  }
  start = FindFirstNotOf(kBlanks, start);
  if (start == npos) {
    pos = length;
    return;
  }
  pos = start;
  if (text[start] == L'[' && terminator != L']')
    return; // the next section begins
  const std::wstring missing(1, terminator);
  uint64_t end = text.find(terminator, start);
  if (end == std::wstring::npos)
    SyntaxError(missing, pos);
  if (end == start) {
    pos = end + 1;
    return;
  }
  // Comments between the parts of the item are cut out and the parts joined.
  while (commentStart <= end) {
    out.append(text, start, commentStart - start);
    start = commentEnd + 1;
    if (commentEnd >= end) { // the terminator found lay inside the comment
      end = text.find(terminator, start);
      if (end == std::wstring::npos)
        SyntaxError(missing, start);
    }
    GetPositionOfComment();
  }
  pos = end + 1;
  if (end > start) {
    const uint64_t last = text.find_last_not_of(kBlanks, end - 1);
    if (last != std::wstring::npos && last >= start)
      out.append(text, start, last - start + 1);
  }
  // A comment just before the terminator leaves the blanks in front of it.
  const uint64_t kept = out.find_last_not_of(kBlanks);
  out.erase(kept == std::wstring::npos ? 0 : kept + 1);
  out.erase(std::remove(out.begin(), out.end(), L'\r'), out.end());
  out.erase(std::remove(out.begin(), out.end(), L'\n'), out.end());
}

void CIniFileLoader::GetKeyMap(CIniKeyMap &keys) {
  keys.clear();
  std::wstring key, value;
  while (!End()) {
    GetItem(key, L'=');
    if (key.empty())
      break;
    GetItem(value, L';');
    keys.emplace(key, value);
  }
}

bool CIniFileLoader::End() { return pos >= text.size(); }

const std::wstring &CIniFileLoader::Text() { return text; }
