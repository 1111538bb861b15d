// SPDX-License-Identifier: MIT
#include "sdsmart/error.h"

#include "util/error_catalogue.h"

#include <sstream>

namespace {
// Source file names are plain ASCII paths; widen byte by byte so that building
// an error never depends on the process locale.
std::wstring Widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }

// Numbers go through a wide stream, as these messages always have.
std::wstring Dec(unsigned int v) {
  std::wostringstream os;
  os << v;
  return os.str();
}
} // namespace

CError::CError() : code(static_cast<int64_t>(ErrorCode::Uncoded)) {}
CError::CError(int64_t c) : code(c) {}
CError::CError(const std::wstring &t) : code(static_cast<int64_t>(ErrorCode::Uncoded)), text(t) {}
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
    : CError(MakeError(Errors::BufferTooSmall, {Dec(size), Widen(file), Dec(line)})) {}

CSectorBufferSizeError::CSectorBufferSizeError(const std::string &file, unsigned int line,
                                               unsigned int size)
    : CError(MakeError(Errors::NotWholeSectors, {Dec(size), Widen(file), Dec(line)})) {}

CArrayIndexError::CArrayIndexError(const std::string &file, unsigned int line, unsigned int index,
                                   unsigned int size)
    : CError(MakeError(Errors::IndexOutOfRange, {Dec(index), Dec(size), Widen(file), Dec(line)})) {}

COpenFileError::COpenFileError(const std::wstring &name)
    : CError(MakeError(Errors::CannotOpenFile, {name})), fileName(name) {}

CIniFileError::CIniFileError(unsigned int c, const std::wstring &t, const std::wstring &name)
    : CError(c, t), fileName(name) {}

int64_t CError::GetCode() const { return code; }

std::wstring CError::GetText() const { return text; }

const std::wstring &COpenFileError::GetFileName() const { return fileName; }

const std::wstring &CIniFileError::GetFileName() const { return fileName; }

CError::CError(const CError &other) = default;
