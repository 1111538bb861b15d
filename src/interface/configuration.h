// SPDX-License-Identifier: MIT
// Loading the configuration file into the session record.
#pragma once

#include <sdsmart/sdsmart.h>

#include <memory>
#include <string>

// The configuration file: _ConfigPath when it is set, otherwise "config" in the
// working directory captured by SetDiskName.
std::wstring GetDbFullPath();

// Reads vendor number, entry string and version switches from the scrambled
// configuration file. Throws CError (ConfigFileMissing when there is none, the INI
// reader's errors otherwise); values read before a failure stay stored.
void ReloadAuthorFile();

// Opens the configuration file at path as the scrambled INI file it must
// be; null when there is none that can be read (FileExists). Anything but a
// regular file of at most MaxConfigurationBytes is refused with
// COpenFileError, so that a FIFO cannot block the caller and a huge file
// cannot exhaust its memory.
//
// Every acquisition reads the file again for its flash type names, most
// often just after SetConfigPath read it: the last file parsed is kept and
// served again while it is the same file, unchanged (same inode, size,
// modification and change times, and those older than the parse by more
// than the file system's clock step, so that a rewrite in the same tick
// cannot pass for the old file).
class CIniFile;
constexpr unsigned long MaxConfigurationBytes = SDSMART_MAX_CONFIG_BYTES;
std::shared_ptr<const CIniFile> LoadConfiguration(const std::wstring &path);
