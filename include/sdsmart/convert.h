// SPDX-License-Identifier: MIT
// Text and number conversions shared by the whole library.
#pragma once

#include <string>
#include <vector>

// Narrow (multibyte, in the environment's locale) <-> wide (UTF-32) text.
// Neither changes the process-wide locale; a failed conversion gives "".
std::wstring ToWideString(const std::string &s);
std::string ToNarrowString(const std::wstring &s);

// The same for C strings: a null pointer or a failed conversion gives "".
std::wstring c2w(const char *s);
std::string w2c(const wchar_t *s);

// Text to integer. Decimal, or hexadecimal when the second character is x/X
// (StringToInteger*); always hexadecimal, 0x prefix optional (HexStringTo*).
// Leading blanks are skipped and trailing junk after a number is ignored; an
// out-of-range value gives the type's limit. Throws CError (code -1) on an
// empty text or a text that holds no number.
int StringToInteger(const std::string &s);
int StringToInteger(const std::wstring &s);
long StringToInteger64(const std::string &s);
long StringToInteger64(const std::wstring &s);
unsigned int HexStringToInteger(const std::string &s);
unsigned int HexStringToInteger(const std::wstring &s);
unsigned long HexStringToInteger64(const std::string &s);
unsigned long HexStringToInteger64(const std::wstring &s);

// Integer to text. Widths fill with '0' on the left (-5 in 4 is "00-5");
// hexadecimal is upper-case without prefix; wider values are never cut.
std::string IntegerToString(int v);
std::wstring IntegerToWideString(int v);
std::string IntegerToString(int v, unsigned int width);
std::wstring IntegerToWideString(int v, unsigned int width);
std::string Integer64ToString(long v);
std::wstring Integer64ToWideString(long v);
std::string IntegerToHexString(unsigned int v, unsigned int width);
std::wstring IntegerToHexWideString(unsigned int v, unsigned int width);
std::string Integer64ToHexString(long v, unsigned int width);
std::wstring Integer64ToHexWideString(long v, unsigned int width);

// Lower-case hexadecimal when radix is 16, decimal otherwise. buf must hold
// at least 12 characters; the text is also returned.
std::string itoa(int v, char *buf, int radix);
// As itoa, widened; buf is not written.
std::wstring _itow(int v, wchar_t *buf, int radix);

// Clears out and appends the maximal runs of characters not in delims.
void SplitString(const std::string &s, const std::string &delims, std::vector<std::string> &out);
void SplitString(const std::wstring &s, const std::wstring &delims, std::vector<std::wstring> &out);

// Each byte as two lower-case hex digits and one space ("0a ff ").
std::wstring ByteArrayToHexStr(unsigned char *data, unsigned int n);
std::wstring ByteArrayToHexStr(const unsigned char *data, unsigned int n);

// Removes blanks and tabs around each ':', '+' and '*'. False when a separator
// starts the text or has nothing but blanks on one side (the erasures made so
// far are kept).
bool ErasePartitionChar(std::string &s);
bool ErasePartitionChar(std::wstring &s);

// Character-class tests; an empty text passes.
bool IsDigit(const std::string &s);
bool IsDigit(const std::wstring &s);
bool IsHexDigit(const std::string &s);
bool IsHexDigit(const std::wstring &s);
bool IsAsciiString(const std::wstring &s);

// s up to its last "\r\n"; s itself when it holds none.
std::wstring EraseLineEnd(const std::wstring &s);

// "9999 ms", "10 sec" (above 9999 ms, whole seconds).
std::wstring ElapsedTimeMsToString(unsigned int ms);
// Local time now as "2026/01/31  08:05:09".
std::wstring GetDateTimeString();

// True when the file exists and can be read.
bool FileExists(const char *path);
bool FileExists(const wchar_t *path);

// The part after the last '/'; the whole path when it has none.
std::string extract_fname(const char *path);
std::wstring extract_fname(const wchar_t *path);

void FillMemory(void *p, unsigned long n, unsigned char v);
// close(fd) unless fd is -1.
void CloseHandle(int fd);

namespace StrUtls {
// Lower-cases every character in place with the classic ("C") locale, so
// only A-Z change; returns s.
std::string &ToLower(std::string &s);
std::wstring &ToLower(std::wstring &s);
} // namespace StrUtls
