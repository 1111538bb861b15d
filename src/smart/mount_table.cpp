// SPDX-License-Identifier: MIT
#include "smart/mount_table.h"

#include <cstring>
#include <memory>

namespace {

// The card's own file system is mounted from the node itself or from one of
// its partitions: the node followed by digits ("/dev/sdb1") or by "p" and
// digits ("/dev/mmcblk0p1"). A node whose name ends in a digit takes the "p"
// form only, so that "/dev/mmcblk1" never claims "/dev/mmcblk12".
bool IsNodeOrPartition(const char *source, const std::string &node) {
  if (node.empty() || std::strncmp(source, node.c_str(), node.size()) != 0)
    return false;
  const char *rest = source + node.size();
  if (*rest == '\0')
    return true;
  const bool endsInDigit = node.back() >= '0' && node.back() <= '9';
  if (*rest == 'p')
    ++rest;
  else if (endsInDigit)
    return false;
  if (*rest == '\0')
    return false;
  for (; *rest; ++rest)
    if (*rest < '0' || *rest > '9')
      return false;
  return true;
}

// The next field of a line: up to a blank or tab, those after it skipped;
// "" once the line is used up.
char *NextField(char *&rest) {
  char *field = rest;
  rest += std::strcspn(rest, " \t");
  if (*rest != '\0') {
    *rest++ = '\0';
    rest += std::strspn(rest, " \t");
  }
  return field;
}

// The escapes the kernel writes for a blank, a tab, a line feed and a
// backslash, and "\\", decoded in place.
const char *Decoded(char *field) {
  struct Escape {
    const char *Text;
    char Byte;
  };
  static constexpr Escape kEscapes[] = {
      {"\\040", ' '}, {"\\011", '\t'}, {"\\012", '\n'}, {"\\134", '\\'}, {"\\\\", '\\'}};
  char *out = field;
  for (const char *in = field; *in;) {
    const Escape *escape = nullptr;
    if (*in == '\\')
      for (const Escape &e : kEscapes)
        if (std::strncmp(in, e.Text, std::strlen(e.Text)) == 0) {
          escape = &e;
          break;
        }
    *out++ = escape ? escape->Byte : *in;
    in += escape ? std::strlen(escape->Text) : 1;
  }
  *out = '\0';
  return field;
}

} // namespace

bool FindCardMount(FILE *table, const std::string &node, CardMount &mount) {
  // Room for a long mount line; a longer one is cut there and the rest of
  // it skipped.
  constexpr int kLineSize = 64 * 1024;
  const std::unique_ptr<char[]> line(new char[kLineSize]);
  while (std::fgets(line.get(), kLineSize, table)) {
    if (char *end = std::strchr(line.get(), '\n')) {
      while (end != line.get() && (end[-1] == ' ' || end[-1] == '\t'))
        --end;
      *end = '\0';
    } else {
      char skipped[1024];
      while (std::fgets(skipped, sizeof skipped, table) && !std::strchr(skipped, '\n')) {
      }
    }
    char *rest = line.get() + std::strspn(line.get(), " \t");
    if (*rest == '\0' || *rest == '#' || !IsNodeOrPartition(Decoded(NextField(rest)), node))
      continue;
    mount.Directory = Decoded(NextField(rest));
    NextField(rest); // the file system's type
    mount.Options = Decoded(NextField(rest));
    return true;
  }
  return false;
}
