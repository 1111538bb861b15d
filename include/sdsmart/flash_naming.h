// SPDX-License-Identifier: MIT
// Flash maker names, flash-ID text and the configured flash type names: the
// lookup every acquisition makes (GetFlashType), for a host that has a flash
// ID and a configuration file of its own.
#pragma once

#include <string>

// "45 de 94 93 76 51": the six ID bytes in lower-case hex, joined by blanks.
std::wstring FlashIDToString(const unsigned char *id);
// Maker name of a flash maker code; "Unknown" for codes not in the table.
std::wstring FlashMIDToString(int makerId);
// Flash type name from the "Flash Type Name" section of the configuration,
// refined by the flash type code and rated cycles. Throws CError (-1, "Can't
// find config file") when configPath names no file, and the INI reader's
// errors for a malformed file.
std::wstring GetFlashTypeString(const unsigned char *id, unsigned char flashTypeCode,
                                unsigned int peCycles, const std::wstring &configPath);
