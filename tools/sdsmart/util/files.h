// SPDX-License-Identifier: MIT
// Small file helpers: atomic replacement and whole-file reads.
#pragma once

#include <string>
#include <sys/types.h>

namespace sdsmart_tool {

// A file replaced atomically. The temporary file is made next to path at
// once, so that a folder that is missing or not writable is found before any
// other work; Commit fills it, flushes it to the disk as sync says and
// renames it over path. Readers never see a
// half-written file; one never committed is removed. Only a regular file is
// replaced: a path that holds anything else (a device node, FIFO, socket,
// folder) is refused, at once and again before the rename; a symbolic link
// to a regular file is followed and that file replaced in its own folder.
// Both throw std::runtime_error with the reason.
// What a crash after Commit may undo. None: anything (a textfile, a
// cache). Contents: the replacement, not the file (the old file or the new
// one, whole: for a file the next run writes again). Rename: nothing (the
// folder is synced too: a file the user asked for, a record).
enum class Sync { None, Contents, Rename };

class PendingFile {
public:
  PendingFile(const std::string &path, mode_t mode);
  ~PendingFile();
  PendingFile(const PendingFile &) = delete;
  PendingFile &operator=(const PendingFile &) = delete;
  void Commit(const std::string &data, Sync sync);

private:
  std::string Path, Temporary;
  mode_t Mode;
  int Fd = -1;
};

void WriteFileAtomically(const std::string &path, const std::string &data, mode_t mode, Sync sync);

// Files the tool reads (configurations, records, textfiles) are small; a
// larger one is refused with EFBIG rather than read into memory.
constexpr size_t kLargestFileRead = 16u << 20;

// Whole contents of a file; false when it cannot be read or is larger than
// kLargestFileRead (errno is set).
bool ReadWholeFile(const std::string &path, std::string &data);

// What a node is, for messages: "a FIFO", "a character device", "a
// directory", "a socket", "a regular file", "a block device".
std::string FileKind(mode_t mode);

// mkdir -p with the given mode (not narrowed by the umask) for the
// directories it creates; true when the directory exists afterwards.
bool MakeDirectories(const std::string &path, mode_t mode);

std::string DirectoryOf(const std::string &path);

} // namespace sdsmart_tool
