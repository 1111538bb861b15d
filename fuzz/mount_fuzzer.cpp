// SPDX-License-Identifier: MIT
// The mount check of the host-file method: which mount-table entry belongs
// to the card (the node itself or one of its partitions) and whether it is
// mounted read-only. The input is a node name (first line) and a mount table
// (the rest), served to the library in place of /proc/self/mounts.
//
// Link with -Wl,--wrap=setmntent: the library's setmntent call reaches
// __wrap_setmntent below, which opens the fuzzed table instead.
#include "fuzz_support.h"

#include "sdsmart/convert.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/usb_drive.h"

#include <clocale>
#include <cstdio>
#include <mntent.h>

namespace {

std::string g_table;

bool IsCardSource(const char *source, const std::string &node) {
  const std::string s = source;
  if (node.empty() || s.compare(0, node.size(), node) != 0)
    return false;
  size_t i = node.size();
  if (i == s.size())
    return true;
  // "/dev/mmcblk1" has partitions "/dev/mmcblk1p2", never "/dev/mmcblk12".
  const bool endsInDigit = node.back() >= '0' && node.back() <= '9';
  if (s[i] == 'p')
    ++i;
  else if (endsInDigit)
    return false;
  if (i == s.size())
    return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9')
      return false;
  return true;
}

} // namespace

extern "C" FILE *__real_setmntent(const char *file, const char *mode);

extern "C" FILE *__wrap_setmntent(const char *file, const char *mode) {
  if (std::strcmp(file, "/proc/self/mounts") != 0)
    return __real_setmntent(file, mode);
  if (g_table.empty())
    return std::fopen("/dev/null", "re");
  return fmemopen(g_table.data(), g_table.size(), "r");
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (!std::setlocale(LC_ALL, "C.UTF-8"))
    std::setlocale(LC_ALL, "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const size_t eol = input.find('\n');
  std::string node = input.substr(0, eol);
  node = node.substr(0, node.find('\0')); // a node name is a C string
  // The reader holds the name as wide text; one the locale cannot carry
  // becomes empty and matches nothing.
  node = ToNarrowString(ToWideString(node));
  g_table = eol == std::string::npos ? std::string() : input.substr(eol + 1);

  CUsbDrive drive; // never opened: the mount check does not touch the card
  CSpecialMode2Cmd channel(drive, L"SDSMTEST");
  const bool terminated = false;
  const unsigned char version = 3;
  CSmartInfoReader reader(channel, L"SDSMTEST", ToWideString(node), terminated, version);
  reader.CheckUnFormatAndWriteProtected();
  FUZZ_CHECK(reader.IsUnformatted() == reader.GetSmartFilePath().empty(),
             "a mounted card has a host-file path, an unmounted one none");
  if (reader.IsUnformatted())
    FUZZ_CHECK(!reader.IsWriteProtected(), "an unmounted card is not write-protected");

  // The same table read independently: the first entry from the node or one
  // of its partitions ("/dev/sdb1", "/dev/mmcblk0p1") is the card's.
  FILE *table = fmemopen(g_table.data(), g_table.size() ? g_table.size() : 1, "r");
  struct mntent entry;
  char line[64 * 1024];
  std::string dir;
  bool found = false;
  while (table && !g_table.empty() && getmntent_r(table, &entry, line, sizeof line)) {
    if (IsCardSource(entry.mnt_fsname, node)) {
      found = true;
      dir = entry.mnt_dir;
      break;
    }
  }
  if (table)
    std::fclose(table);
  if (std::getenv("SDSMART_FUZZ_VERBOSE"))
    std::fprintf(stderr, "node [%s] found %d dir [%s] library: unformatted %d path [%ls]\n",
                 node.c_str(), found, dir.c_str(), reader.IsUnformatted(),
                 reader.GetSmartFilePath().c_str());
  // A mount point the locale cannot carry cannot name the host file: the card
  // counts as not mounted (the direct method is used), and the file is never
  // put anywhere else (such as "/SmartFile6459.txt").
  const bool nameable = ToNarrowString(ToWideString(dir)) == dir;
  FUZZ_CHECK((found && nameable) == !reader.IsUnformatted(),
             "the card's entry is found when it is there and its mount point can be named");
  if (!reader.IsUnformatted())
    FUZZ_CHECK(reader.GetSmartFilePath() == ToWideString(dir) + L"/SmartFile6459.txt",
               "the host file lies in the card's mount point");
  return 0;
}
