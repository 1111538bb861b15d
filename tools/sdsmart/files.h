// SPDX-License-Identifier: MIT
// Small file helpers: atomic replacement and whole-file reads.
#pragma once

#include <string>
#include <sys/types.h>

namespace sdsmart_tool {

// Writes data to a temporary file in the directory of path, flushes it to
// the disk when sync is set, and renames it over path (then syncs the
// directory). Readers never see a half-written file. Throws
// std::runtime_error with the reason.
void WriteFileAtomically(const std::string &path, const std::string &data, mode_t mode, bool sync);

// Whole contents of a file; false when it cannot be read (errno is set).
bool ReadWholeFile(const std::string &path, std::string &data);

// mkdir -p with the given mode for the directories it creates; true when the
// directory exists afterwards.
bool MakeDirectories(const std::string &path, mode_t mode);

std::string DirectoryOf(const std::string &path);

// The state directory, where the library keeps the sector-0 journal: the
// override when given, else /var/lib/sdsmart when it is (or can be made)
// writable, else $XDG_STATE_HOME/sdsmart, else ~/.local/state/sdsmart. Empty
// when none can be used.
std::string ChooseStateDir(const std::string &overrideDir);

} // namespace sdsmart_tool
