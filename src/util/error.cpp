#include "util/error.h"

#include <sstream>

namespace {
// Source file names are plain ASCII paths; widen byte by byte so that building
// an error never depends on the process locale.
std::wstring Widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }
} // namespace

CError::CError() : code(-1) {}
CError::CError(int64_t c) : code(c) {}
CError::CError(const std::wstring &t) : code(-1), text(t) {}
CError::CError(unsigned int c, const std::wstring &t) : code(static_cast<int64_t>(c)), text(t) {}

CError &CError::operator=(const CError &other) {
  code = other.code;
  text = other.text;
  return *this;
}

const wchar_t *CError::what() const { return text.c_str(); }

void CError::Set(int64_t newCode, const std::wstring &newText) {
  code = newCode;
  text = newText;
}

void CError::SetText(const std::wstring &newText) { text = newText; }

CBufferSizeError::CBufferSizeError(const std::string &file, unsigned int line, unsigned int size)
    : CError(int64_t{45056}) {
  std::wostringstream os;
  os << L"[Error] : Buffer size < " << size << L" at " << Widen(file) << L", Line = " << line;
  text = os.str();
}

CSectorBufferSizeError::CSectorBufferSizeError(const std::string &file, unsigned int line,
                                               unsigned int size)
    : CError(int64_t{45056}) {
  std::wostringstream os;
  os << L"[Error] : Buffer size( " << size << L" ) != N * 512, at " << Widen(file) << L", Line = "
     << line;
  text = os.str();
}

CArrayIndexError::CArrayIndexError(const std::string &file, unsigned int line, unsigned int index,
                                   unsigned int size)
    : CError(int64_t{45056}) {
  std::wostringstream os;
  os << L"[Error] : Access index " << index << L" exceeds array size " << size << L" at "
     << Widen(file) << L", Line = " << line;
  text = os.str();
}

COpenFileError::COpenFileError(const std::wstring &name) : CError(int64_t{16384}), fileName(name) {
  SetText(L"[Error] : Cann't open file, " + name + L".");
}

CIniFileError::CIniFileError(unsigned int c, const std::wstring &t, const std::wstring &name)
    : CError(c, t), fileName(name) {}

int64_t CError::GetCode() const { return code; }

std::wstring CError::GetText() const { return text; }

const std::wstring &COpenFileError::GetFileName() const { return fileName; }

const std::wstring &CIniFileError::GetFileName() const { return fileName; }

CError::CError(const CError &other) = default;
