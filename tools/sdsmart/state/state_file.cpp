// SPDX-License-Identifier: MIT
#include "state/state_file.h"

#include "util/files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

std::string NodeName(const std::string &device) {
  return device.substr(device.find_last_of('/') + 1);
}

[[noreturn]] void Fail(const std::string &what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

void WriteCardState(const std::string &path, const std::string &latestDir,
                    const std::string &device, const std::string &document) {
  if (!MakeDirectories(DirectoryOf(path), 0755) || !MakeDirectories(latestDir, 0755))
    Fail("cannot make the folders of " + path);
  WriteFileAtomically(path, document, 0644, Sync::Contents);
  // The link is replaced in one rename as well: a reader finds the old card
  // or the new one.
  std::string link = latestDir + "/" + NodeName(device) + ".json";
  std::string target = "../" + NodeName(DirectoryOf(path)) + "/" + NodeName(path);
  char current[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), current, sizeof current);
  if (n > 0 && std::string(current, static_cast<size_t>(n)) == target)
    return; // the same card as last time
  std::string temporary = link + ".new";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0)
    Fail("cannot make the link " + temporary);
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    Fail("cannot rename the link to " + link);
  }
}

std::string LatestCardId(const std::string &latestDir, const std::string &device) {
  char target[PATH_MAX];
  std::string link = latestDir + "/" + NodeName(device) + ".json";
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0)
    return "";
  std::string name = NodeName(std::string(target, static_cast<size_t>(n)));
  return name.size() > 5 ? name.substr(0, name.size() - 5) : "";
}

} // namespace sdsmart_tool
