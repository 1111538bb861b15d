// SPDX-License-Identifier: MIT
#include "util/files.h"

#include "sdsmart/read_file.h"

#include "sdsmart/unique_fd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sdsmart_tool {
namespace {

[[noreturn]] void Fail(const std::string &what, const std::string &path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// The file a replacement of `path` replaces: `path` itself when nothing is
// there or a regular file is, the regular file a symbolic link leads to.
// Anything else (a device node, FIFO, socket, folder, a link to one or to
// nothing) is refused: renaming over it would replace what is not ours.
std::string ReplaceableTarget(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return path;
  std::string target = path;
  if (S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved || ::stat(resolved.get(), &st) != 0)
      Fail("cannot follow the symbolic link", path);
    target = resolved.get();
  }
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error(path + " is " + FileKind(st.st_mode) +
                             ", not a regular file: sdsmart replaces regular files only");
  return target;
}

} // namespace

std::string DirectoryOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

PendingFile::PendingFile(const std::string &path, mode_t mode)
    : Path(ReplaceableTarget(path)), Mode(mode) {
  size_t slash = Path.find_last_of('/');
  std::string base = Path.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string tmpl = DirectoryOf(Path) + "/." + base + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  Fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (Fd < 0)
    Fail("cannot create a temporary file next to", path);
  Temporary = name.data();
}

PendingFile::~PendingFile() {
  if (Fd >= 0)
    ::close(Fd);
  if (!Temporary.empty())
    ::unlink(Temporary.c_str());
}

void PendingFile::Commit(const std::string &data, Sync sync) {
  CUniqueFd fd(Fd);
  Fd = -1;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd.Get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      Fail("cannot write", Temporary);
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd.Get(), Mode) != 0)
    Fail("cannot set the mode of", Temporary);
  if (sync != Sync::None && ::fsync(fd.Get()) != 0)
    Fail("cannot sync", Temporary);
  if (::close(fd.Release()) != 0)
    Fail("cannot close", Temporary);
  // Whatever took the target's place since it was checked is not replaced.
  if (ReplaceableTarget(Path) != Path)
    throw std::runtime_error(Path + " became a symbolic link; it is not replaced");
  if (::rename(Temporary.c_str(), Path.c_str()) != 0)
    Fail("cannot rename the temporary file to", Path);
  Temporary.clear();
  if (sync == Sync::Rename) {
    CUniqueFd dirFd(::open(DirectoryOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.IsOpen())
      ::fsync(dirFd.Get());
  }
}

void WriteFileAtomically(const std::string &path, const std::string &data, mode_t mode, Sync sync) {
  PendingFile(path, mode).Commit(data, sync);
}

std::string FileKind(mode_t mode) {
  switch (mode & S_IFMT) {
  case S_IFIFO:
    return "a FIFO";
  case S_IFCHR:
    return "a character device";
  case S_IFDIR:
    return "a directory";
  case S_IFSOCK:
    return "a socket";
  case S_IFBLK:
    return "a block device";
  default:
    return "a regular file";
  }
}

bool ReadWholeFile(const std::string &path, std::string &data) {
  data.clear();
  return ReadWholeFileBounded(path, data, kLargestFileRead);
}

bool MakeDirectories(const std::string &path, mode_t mode) {
  if (path.empty())
    return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode);
  std::string parent = DirectoryOf(path);
  if (parent != path && !MakeDirectories(parent, mode))
    return false;
  if (::mkdir(path.c_str(), mode) == 0)
    ::chmod(path.c_str(), mode); // as asked, whatever the umask: as the files in it are
  else if (errno != EEXIST)
    return false;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace sdsmart_tool
