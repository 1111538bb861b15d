#include "scan.h"

#include "card_data.h"
#include "files.h"
#include "output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

std::string ReadAttr(const std::string &path) {
  std::string text;
  if (!ReadWholeFile(path, text))
    return "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? "" : Printable(text.substr(start));
}

bool IsMmcDisk(const std::string &name) {
  if (name.compare(0, 6, "mmcblk") != 0 || name.size() == 6)
    return false;
  return std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsScsiDisk(const std::string &name) {
  return name.size() > 2 && name.compare(0, 2, "sd") == 0 &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

void FillFromSys(ScanEntry &e, const std::string &block) {
  std::string sectors = ReadAttr(block + "/size");
  if (!sectors.empty())
    e.size_bytes = std::strtoull(sectors.c_str(), nullptr, 10) * 512;
  if (e.transport == "usb") {
    e.vendor = ReadAttr(block + "/device/vendor");
    e.model = ReadAttr(block + "/device/model");
  } else {
    e.vendor = ReadAttr(block + "/device/type");
    e.model = ReadAttr(block + "/device/name");
  }
}

std::string BaseName(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string ScanEntry::Caption() const {
  std::string caption = name + " -d " + transport + " # " +
                        (transport == "mmc" ? "native SD host" : "USB card reader");
  std::string what = vendor;
  if (!model.empty())
    what += (what.empty() ? "" : " ") + model;
  if (!what.empty())
    caption += ", " + what;
  if (size_bytes)
    caption += ", " + HumanBytes(size_bytes);
  return caption;
}

std::vector<ScanEntry> ScanSysBlock(const std::string &sys_root) {
  std::vector<ScanEntry> out;
  std::string dir = sys_root + "/block";
  DIR *d = ::opendir(dir.c_str());
  if (!d)
    return out;
  std::vector<std::string> names;
  while (dirent *ent = ::readdir(d))
    names.push_back(ent->d_name);
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string block = dir + "/" + name;
    ScanEntry e;
    e.name = "/dev/" + name;
    if (IsMmcDisk(name)) {
      e.transport = "mmc";
    } else if (IsScsiDisk(name)) {
      if (ReadAttr(block + "/removable") != "1")
        continue;
      char target[PATH_MAX];
      ssize_t n = ::readlink(block.c_str(), target, sizeof target - 1);
      std::string resolved = n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
      if (resolved.find("/usb") == std::string::npos)
        continue;
      e.transport = "usb";
    } else {
      continue;
    }
    FillFromSys(e, block);
    out.push_back(e);
  }
  return out;
}

std::vector<ScanEntry> ProbeCandidates(const std::vector<std::string> &patterns,
                                       const std::string &sys_root,
                                       std::vector<std::string> &errors) {
  std::vector<ScanEntry> out;
  for (const std::string &pattern : patterns) {
    glob_t g{};
    std::vector<std::string> paths;
    if (::glob(pattern.c_str(), GLOB_NOCHECK, nullptr, &g) == 0)
      for (size_t i = 0; i < g.gl_pathc; ++i)
        paths.push_back(g.gl_pathv[i]);
    ::globfree(&g);
    bool wildcard = pattern.find_first_of("*?[") != std::string::npos;
    for (const std::string &path : paths) {
      int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        if (!wildcard || path != pattern)
          errors.push_back(path + ": " + std::strerror(errno));
        continue;
      }
      ScanEntry e;
      e.name = path;
      e.transport = TransportOf(path);
      uint64_t bytes = 0;
      if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
        e.size_bytes = bytes;
      ::close(fd);
      std::string block = sys_root + "/block/" + BaseName(path);
      if (::access(block.c_str(), F_OK) == 0 && path.compare(0, 5, "/dev/") == 0) {
        uint64_t known = e.size_bytes;
        FillFromSys(e, block);
        if (known)
          e.size_bytes = known;
      }
      out.push_back(e);
    }
  }
  return out;
}

std::vector<ScanEntry> ProbeUnlistedNodes(const std::string &sys_root,
                                          const std::string &dev_root) {
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'z'; ++c)
    names.push_back(std::string("sd") + c);
  for (int i = 0; i < 32; ++i)
    names.push_back("mmcblk" + std::to_string(i));
  std::vector<ScanEntry> out;
  for (const std::string &name : names) {
    if (::access((sys_root + "/block/" + name).c_str(), F_OK) == 0)
      continue; // the kernel describes it: ScanSysBlock decides
    std::string path = dev_root + "/" + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    ScanEntry e;
    e.name = path;
    e.transport = TransportOf("/dev/" + name);
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
      e.size_bytes = bytes;
    ::close(fd);
    out.push_back(e);
  }
  return out;
}

std::vector<ScanEntry> Merge(std::vector<ScanEntry> a, const std::vector<ScanEntry> &b) {
  for (const ScanEntry &e : b)
    if (std::none_of(a.begin(), a.end(), [&](const ScanEntry &x) { return x.name == e.name; }))
      a.push_back(e);
  return a;
}

} // namespace sdsmart_tool
