// Loading the configuration file into the session record.
#pragma once

#include <string>

// The configuration file: _ConfigPath when it is set, otherwise "config" in the
// working directory captured by SetDiskName.
std::wstring GetDbFullPath();

// Reads vendor number, entry string and version switches from the scrambled
// configuration file. Throws CError (16384 when the file is missing, the INI
// reader's errors otherwise); values read before a failure stay stored.
void ReloadAuthorFile();
