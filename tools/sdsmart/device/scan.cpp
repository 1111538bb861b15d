// SPDX-License-Identifier: MIT
#include "device/scan.h"

#include "card/card_data.h"
#include "device/guard.h"
#include "output/output.h"
#include "util/files.h"

#include "sdsmart/unique_fd.h"

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

ScanEntry EntryOf(const std::string &path, const DeviceVerdict &verdict) {
  ScanEntry e;
  e.Name = path;
  e.Verdict = verdict;
  e.Source = verdict.Source();
  return e;
}

std::string ReadAttr(const std::string &path) { return Printable(ReadSysfsAttribute(path)); }

// Size, maker and model of a card from its sysfs folder.
void FillFromSys(ScanEntry &e, const std::string &block) {
  std::string sectors = ReadAttr(block + "/size");
  if (!sectors.empty())
    e.SizeBytes = std::strtoull(sectors.c_str(), nullptr, 10) * 512;
  if (e.Verdict.Transport == CardTransport::UsbReader) {
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

} // namespace

std::string ScanEntry::Caption() const {
  std::string caption = Name + " # " +
                        (Source == HealthSource::EmmcLife                 ? "eMMC"
                         : Verdict.Transport == CardTransport::NativeHost ? "native SD host"
                                                                          : "USB card reader");
  std::string what = Vendor;
  if (!Model.empty())
    what += (what.empty() ? "" : " ") + Model;
  if (!what.empty())
    caption += ", " + what;
  if (SizeBytes)
    caption += ", " + HumanBytes(SizeBytes);
  return caption + "; " + HealthSourceText(Source) + (Decided.empty() ? "" : ": " + Decided);
}

std::vector<ScanEntry> ScanSysBlock(const std::string &sysRoot, ScanDetail detail) {
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
    DeviceVerdict v = ClassifyBlockDevice(name, sysRoot);
    if (!v.HasHealth())
      continue;
    ScanEntry e = EntryOf("/dev/" + name, v);
    if (detail == ScanDetail::Captions)
      FillFromSys(e, sysRoot + "/class/block/" + name);
    out.push_back(e);
  }
  return out;
}

std::vector<ScanEntry> ProbeCandidates(const std::vector<std::string> &patterns,
                                       const std::string &sysRoot, std::vector<std::string> &errors,
                                       ScanDetail detail) {
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
      DeviceVerdict v;
      if (!ClassifyNode(path, sysRoot, v) || !v.HasHealth()) {
        if (!wildcard) // a pattern meets partitions and other disks as a matter of course
          errors.push_back(path + " is neither an SD card nor an eMMC: " + v.Why);
        continue;
      }
      ScanEntry e = EntryOf(path, v);
      if (detail == ScanDetail::Captions) {
        e.SizeBytes = SizeOf(fd.Get());
        fd.Close();
        uint64_t known = e.SizeBytes;
        FillFromSys(e, sysRoot + "/class/block/" + v.Name);
        if (known)
          e.SizeBytes = known;
      }
      out.push_back(e);
    }
  }
  return out;
}

std::vector<ScanEntry> ProbeUnlistedNodes(const std::string &sysRoot, const std::string &devRoot,
                                          ScanDetail detail) {
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'z'; ++c)
    names.push_back(std::string("sd") + c);
  for (int i = 0; i < 32; ++i)
    names.push_back("mmcblk" + std::to_string(i));
  std::vector<ScanEntry> out;
  for (const std::string &name : names) {
    if (::access((sysRoot + "/block/" + name).c_str(), F_OK) == 0)
      continue; // listed: ScanSysBlock decides
    DeviceVerdict v = ClassifyBlockDevice(name, sysRoot);
    std::string path = devRoot + "/" + name;
    CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!v.HasHealth() || !fd.IsOpen())
      continue;
    ScanEntry e = EntryOf(path, v);
    if (detail == ScanDetail::Captions)
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
