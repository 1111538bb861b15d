// SPDX-License-Identifier: MIT
// Loading the configuration file into the session record.
#pragma once

#include <sdsmart/sdsmart.h>

#include <string>

// The configuration file: _ConfigPath when it is set, otherwise "config" in the
// working directory captured by SetDiskName.
std::wstring GetDbFullPath();

// Reads vendor number, entry string and version switches from the scrambled
// configuration file. Throws CError (ConfigFileMissing when there is none, the INI
// reader's errors otherwise); values read before a failure stay stored.
void ReloadAuthorFile();

// Opens the configuration file at path (known to exist) as the scrambled INI
// file it must be. Anything but a regular file of at most
// MaxConfigurationBytes is refused with COpenFileError, so that a
// FIFO cannot block the caller and a huge file cannot exhaust its memory.
class CIniFile;
constexpr unsigned long MaxConfigurationBytes = SDSMART_MAX_CONFIG_BYTES;
CIniFile LoadConfiguration(const std::wstring &path);
