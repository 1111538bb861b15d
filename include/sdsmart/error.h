// SPDX-License-Identifier: MIT
// The library's exception family: a numeric code and a wide text. Failures are
// thrown as CError (or a subclass) and caught only at the exported boundary.
#pragma once

#include <cstdint>
#include <string>

class CError {
public:
  CError();
  explicit CError(int64_t code);
  explicit CError(const std::wstring &text);
  CError(unsigned int code, const std::wstring &text);
  CError(const CError &other);
  CError &operator=(const CError &other);

  virtual const wchar_t *what() const;

  int64_t GetCode() const;
  std::wstring GetText() const;
  void Set(int64_t newCode, const std::wstring &newText);
  void SetText(const std::wstring &newText);

protected:
  int64_t code;
  std::wstring text;
};

class CBufferSizeError : public CError {
public:
  CBufferSizeError(const std::string &file, unsigned int line, unsigned int size);
};

class CSectorBufferSizeError : public CError {
public:
  CSectorBufferSizeError(const std::string &file, unsigned int line, unsigned int size);
};

class CArrayIndexError : public CError {
public:
  CArrayIndexError(const std::string &file, unsigned int line, unsigned int index,
                   unsigned int size);
};

class COpenFileError : public CError {
public:
  explicit COpenFileError(const std::wstring &fileName);
  const std::wstring &GetFileName() const;

private:
  std::wstring fileName;
};

class CIniFileError : public CError {
public:
  CIniFileError(unsigned int code, const std::wstring &text, const std::wstring &fileName);
  const std::wstring &GetFileName() const;

private:
  std::wstring fileName;
};
