// SPDX-License-Identifier: MIT
#include "hooks/mount_table.h"

#include "hooks/hook_support.h"
#include "hooks/real_calls.h"
#include "registry/registry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mntent.h>
#include <unistd.h>

namespace sdsim {
namespace {

std::string Escaped(const std::string &text) {
  std::string out;
  for (char ch : text) {
    if (ch == ' ')
      out += "\\040";
    else if (ch == '\t')
      out += "\\011";
    else if (ch == '\n')
      out += "\\012";
    else if (ch == '\\')
      out += "\\134";
    else
      out += ch;
  }
  return out;
}

// The whole of a real file; false, with errno set, when it cannot be opened.
bool ReadRealFile(const char *path, std::string &text) {
  text.clear();
  const int fd = Real().open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char buffer[4096];
  ssize_t n;
  while ((n = Real().read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  Real().close(fd);
  return true;
}

bool IsMounted(const CardState &card) {
  return card.Config().Mounted && !card.MountPoint().empty();
}

// "mount|grep PATTERN" as a shell runs it (any spacing): the pattern, or false
// for any other command.
bool MountGrepPattern(const std::string &command, std::string &pattern) {
  std::size_t i = 0;
  auto spaces = [&] {
    while (i < command.size() && (command[i] == ' ' || command[i] == '\t'))
      ++i;
  };
  spaces();
  if (command.compare(i, 5, "mount") != 0)
    return false;
  i += 5;
  spaces();
  if (i >= command.size() || command[i] != '|')
    return false;
  ++i;
  spaces();
  if (command.compare(i, 4, "grep") != 0)
    return false;
  i += 4;
  if (i >= command.size() || (command[i] != ' ' && command[i] != '\t'))
    return false;
  spaces();
  pattern = command.substr(i);
  while (!pattern.empty() && (pattern.back() == ' ' || pattern.back() == '\n'))
    pattern.pop_back();
  if (pattern.size() >= 2 && (pattern[0] == '\'' || pattern[0] == '"') &&
      pattern.back() == pattern[0])
    pattern = pattern.substr(1, pattern.size() - 2);
  return !pattern.empty() && pattern.find_first_of(" \t|;&<>$`") == std::string::npos;
}

// The cards' lines in mount(8)'s format that contain the pattern; false when
// the command is not such a listing or the pattern concerns no card.
bool MountGrep(Registry &registry, const char *command, std::string &out) {
  std::string pattern;
  if (!MountGrepPattern(command, pattern))
    return false;
  bool any = false;
  out.clear();
  for (const auto &card : registry.All()) {
    const CardConfig &c = card->Config();
    if (!IsMounted(*card))
      continue;
    const std::string line = c.MountDevice + " on " + card->MountPoint() + " type " +
                             c.MountFsType + " (" + c.MountOptions + ")";
    if (line.find(pattern) != std::string::npos) {
      out += line + "\n";
      any = true;
    }
    if (c.Node.find(pattern) != std::string::npos)
      any = true; // the card is ours: answer even when it is not mounted
  }
  return any;
}

} // namespace

bool IsMountTable(const std::string &path) {
  return path == "/proc/self/mounts" || path == "/proc/mounts" || path == "/etc/mtab" ||
         path == "/proc/" + std::to_string(::getpid()) + "/mounts";
}

bool IsMountInfo(const std::string &path) {
  return path == "/proc/self/mountinfo" ||
         path == "/proc/" + std::to_string(::getpid()) + "/mountinfo";
}

bool MountTable(Registry &registry, std::string &text) {
  if (!ReadRealFile("/proc/self/mounts", text) && (errno == EMFILE || errno == ENFILE))
    return false;
  for (const auto &card : registry.All()) {
    if (!IsMounted(*card))
      continue;
    const CardConfig &c = card->Config();
    text += c.MountDevice + " " + Escaped(card->MountPoint()) + " " + c.MountFsType + " " +
            c.MountOptions + " 0 0\n";
  }
  return true;
}

// What mount(8) and findmnt(8) read.
std::string MountInfo(Registry &registry) {
  std::string text;
  ReadRealFile("/proc/self/mountinfo", text);
  unsigned id = 90000;
  for (const auto &card : registry.All()) {
    if (!IsMounted(*card))
      continue;
    const CardConfig &c = card->Config();
    const unsigned minor = card->IsNative() ? 1 : 17;
    const unsigned major = card->IsNative() ? 179 : 8;
    text += std::to_string(id++) + " 1 " + std::to_string(major) + ":" + std::to_string(minor) +
            " / " + Escaped(card->MountPoint()) + " " + c.MountOptions + " - " + c.MountFsType +
            " " + c.MountDevice + " " + c.MountOptions + "\n";
  }
  return text;
}

} // namespace sdsim

using namespace sdsim;

extern "C" {

FILE *setmntent(const char *file, const char *mode) {
  Registry &registry = Registry::Get();
  if (IsNull(file) || registry.Empty() || !IsMountTable(file))
    return Real().setmntent(file, mode);
  std::string text;
  {
    Lock lock(registry.Mutex());
    if (!MountTable(registry, text))
      return nullptr;
  }
  // No descriptor behind the stream: a memory file would cost every read of
  // the table several system calls (its creation, writing, reading, closing).
  return TextStream(std::move(text));
}

FILE *popen(const char *command, const char *mode) {
  Registry &registry = Registry::Get();
  if (IsNull(command) || IsNull(mode) || mode[0] != 'r' || registry.Empty())
    return Real().popen(command, mode);
  Lock lock(registry.Mutex());
  std::string out;
  if (!MountGrep(registry, command, out))
    return Real().popen(command, mode);
  const int fd = ContentFd(out, (std::strchr(mode, 'e') ? O_CLOEXEC : 0));
  FILE *stream = fd < 0 ? nullptr : fdopen(fd, "r");
  // grep's exit status: 0 when it printed a line, 1 otherwise.
  if (stream)
    registry.FakePipes[stream] = out.empty() ? 1 << 8 : 0;
  return stream;
}

int pclose(FILE *stream) {
  Registry &registry = Registry::Get();
  {
    Lock lock(registry.Mutex());
    auto it = registry.FakePipes.find(stream);
    if (it != registry.FakePipes.end()) {
      const int status = it->second;
      registry.FakePipes.erase(it);
      std::fclose(stream);
      return status;
    }
  }
  return Real().pclose(stream);
}

} // extern "C"
