// Text and number conversions shared by the whole library.
#pragma once

#include <string>

// Narrow (multibyte, in the environment's locale) <-> wide (UTF-32) text.
// Neither changes the process-wide locale; a failed conversion gives "".
std::wstring ToWideString(const std::string &s);
std::string ToNarrowString(const std::wstring &s);
