#include "scan.h"

#include "card_data.h"
#include "files.h"
#include "output.h"

#include "util/unique_fd.h"

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
    e.SizeBytes = std::strtoull(sectors.c_str(), nullptr, 10) * 512;
  if (e.Transport == "usb") {
    e.Vendor = ReadAttr(block + "/device/vendor");
    e.Model = ReadAttr(block + "/device/model");
  } else {
    e.Vendor = ReadAttr(block + "/device/type");
    e.Model = ReadAttr(block + "/device/name");
  }
}

// Bytes of a block device; 0 when the node does not say.
uint64_t SizeOf(int fd) {
  uint64_t bytes = 0;
  return ::ioctl(fd, BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
}

std::string BaseName(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string ScanEntry::Caption() const {
  std::string caption = Name + " -d " + Transport + " # " +
                        (Transport == "mmc" ? "native SD host" : "USB card reader");
  std::string what = Vendor;
  if (!Model.empty())
    what += (what.empty() ? "" : " ") + Model;
  if (!what.empty())
    caption += ", " + what;
  if (SizeBytes)
    caption += ", " + HumanBytes(SizeBytes);
  return caption;
}

std::vector<ScanEntry> ScanSysBlock(const std::string &sysRoot) {
  std::vector<ScanEntry> out;
  std::string dir = sysRoot + "/block";
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
    e.Name = "/dev/" + name;
    if (IsMmcDisk(name)) {
      e.Transport = "mmc";
    } else if (IsScsiDisk(name)) {
      if (ReadAttr(block + "/removable") != "1")
        continue;
      char target[PATH_MAX];
      ssize_t n = ::readlink(block.c_str(), target, sizeof target - 1);
      std::string resolved = n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
      if (resolved.find("/usb") == std::string::npos)
        continue;
      e.Transport = "usb";
    } else {
      continue;
    }
    FillFromSys(e, block);
    out.push_back(e);
  }
  return out;
}

std::vector<ScanEntry> ProbeCandidates(const std::vector<std::string> &patterns,
                                       const std::string &sysRoot,
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
      CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      if (!fd.IsOpen()) {
        if (!wildcard || path != pattern)
          errors.push_back(path + ": " + std::strerror(errno));
        continue;
      }
      ScanEntry e;
      e.Name = path;
      e.Transport = TransportOf(path);
      e.SizeBytes = SizeOf(fd.Get());
      fd.Close();
      std::string block = sysRoot + "/block/" + BaseName(path);
      if (::access(block.c_str(), F_OK) == 0 && path.compare(0, 5, "/dev/") == 0) {
        uint64_t known = e.SizeBytes;
        FillFromSys(e, block);
        if (known)
          e.SizeBytes = known;
      }
      out.push_back(e);
    }
  }
  return out;
}

std::vector<ScanEntry> ProbeUnlistedNodes(const std::string &sysRoot, const std::string &devRoot) {
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'z'; ++c)
    names.push_back(std::string("sd") + c);
  for (int i = 0; i < 32; ++i)
    names.push_back("mmcblk" + std::to_string(i));
  std::vector<ScanEntry> out;
  for (const std::string &name : names) {
    if (::access((sysRoot + "/block/" + name).c_str(), F_OK) == 0)
      continue; // the kernel describes it: ScanSysBlock decides
    std::string path = devRoot + "/" + name;
    CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsOpen())
      continue;
    ScanEntry e;
    e.Name = path;
    e.Transport = TransportOf("/dev/" + name);
    e.SizeBytes = SizeOf(fd.Get());
    out.push_back(e);
  }
  return out;
}

std::vector<ScanEntry> Merge(std::vector<ScanEntry> a, const std::vector<ScanEntry> &b) {
  for (const ScanEntry &e : b)
    if (std::none_of(a.begin(), a.end(), [&](const ScanEntry &x) { return x.Name == e.Name; }))
      a.push_back(e);
  return a;
}

} // namespace sdsmart_tool
