// SPDX-License-Identifier: MIT
// `sdsmart config decode|encode|check`: the configuration file is stored as
// UTF-16LE text after an FF FE mark, each 16-bit unit other than CR and LF
// scrambled with a seeded Mersenne-twister stream (the transform is its own
// inverse). The plain form is UTF-8 text.
#pragma once

#include <ostream>
#include <string>

namespace sdsmart_tool {

// Plain UTF-8 text -> stored bytes (mark, scrambled UTF-16LE). Bare line
// feeds become CR LF, as the configuration dialect ends "//" comments at CR LF;
// a UTF-8 byte-order mark is dropped.
std::string EncodeConfig(const std::string &plain);

// Stored bytes -> plain UTF-8 text; false with a reason when the bytes are not
// a stored configuration (no FF FE mark, odd length).
bool DecodeConfig(const std::string &stored, std::string &plain, std::string &error);

// Parses the stored file at path with the library's INI reader and lists its
// sections and keys (values are not shown: they include the vendor's entry
// string) on out; on a parse error prints its code and text, with the line
// counted from 1, on err, under the name `named` (the user's file; default
// path). Returns true when the file parsed, every section of its text was
// read as one, and it names a vendor with an entry string of the length the
// cards take (without entryRequired, a template whose entry string is still
// to be filled in: a warning only).
bool CheckConfig(const std::string &path, std::ostream &out, std::ostream &err,
                 const std::string &named = "", bool entryRequired = true);

} // namespace sdsmart_tool
