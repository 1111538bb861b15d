// SPDX-License-Identifier: MIT
#include "device/guard.h"

#include "modes/modes.h"
#include "output/output.h"
#include "util/files.h"

#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace sdsmart_tool {
namespace {

std::string BaseName(const std::string &path) { return path.substr(path.find_last_of('/') + 1); }

bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A path component "usbN": the device hangs below a USB bus.
bool BehindUsb(const std::string &folder) {
  for (size_t at = folder.find("/usb"); at != std::string::npos; at = folder.find("/usb", at + 1)) {
    size_t end = folder.find('/', at + 1);
    std::string digits = folder.substr(at + 4, end == std::string::npos ? end : end - at - 4);
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos)
      return true;
  }
  return false;
}

// What a disk that is no card is, in words.
std::string Describe(const std::string &name, const std::string &folder, bool usb) {
  if (usb)
    return "a fixed (not removable) disk attached through USB";
  if (folder.find("/devices/virtual/") != std::string::npos)
    return StartsWith(name, "loop")  ? "a loop device"
           : StartsWith(name, "dm-") ? "a device-mapper device"
           : StartsWith(name, "md")  ? "a software RAID device"
                                     : "a virtual block device";
  if (folder.find("/nvme/") != std::string::npos)
    return "an NVMe disk";
  if (folder.find("/ata") != std::string::npos)
    return "a SATA disk";
  if (folder.find("/virtio") != std::string::npos)
    return "a virtio disk";
  return "a disk that is neither an mmcblk card nor attached through USB";
}

CardTransport TransportOfDisk(const std::string &kernelName) {
  return StartsWith(kernelName, "mmcblk") ? CardTransport::NativeHost : CardTransport::UsbReader;
}

// A node sysfs does not describe: its name under /dev is all there is.
CardTransport TransportOfNode(const std::string &path) {
  return StartsWith(path, "/dev/") ? TransportOfDisk(path.substr(5)) : CardTransport::UsbReader;
}

// mmcblkN and its hardware areas (mmcblkNbootM, mmcblkNrpmb); false for
// other names.
bool ClassifyMmc(const std::string &name, const std::string &entry, DeviceVerdict &v) {
  if (!StartsWith(name, "mmcblk"))
    return false;
  size_t end = name.find_first_not_of("0123456789", 6);
  if (end == 6 || name.size() == 6)
    return false;
  std::string disk = "/dev/" + name.substr(0, end),
              tail = end == std::string::npos ? "" : name.substr(end);
  if (tail.empty()) {
    bool emmc = ReadSysfsAttribute(entry + "/device/type") == "MMC";
    v.Class = emmc ? DeviceClass::Emmc : DeviceClass::MmcCard;
    if (emmc)
      v.Why = "it is an eMMC (flash memory built into the machine), not a card";
    return true;
  }
  if (tail != "rpmb" && !StartsWith(tail, "boot"))
    return false;
  v.Class = DeviceClass::HardwareArea;
  v.Why = (tail == "rpmb" ? "it is the replay-protected memory block of the eMMC "
                          : "it is a boot partition of the eMMC ") +
          disk;
  return true;
}

} // namespace

const char *TransportKey(CardTransport transport) {
  return transport == CardTransport::NativeHost ? "mmc" : "usb";
}

const char *HealthSourceKey(HealthSource source) {
  switch (source) {
  case HealthSource::EmmcLife:
    return "emmc_life";
  case HealthSource::Registers:
    return "registers";
  case HealthSource::VendorSmart:
    break;
  }
  return "vendor_smart";
}

const char *HealthSourceText(HealthSource source) {
  switch (source) {
  case HealthSource::EmmcLife:
    return "eMMC life estimate (read-only)";
  case HealthSource::Registers:
    return "identity and standard registers only (read-only)";
  case HealthSource::VendorSmart:
    break;
  }
  return "vendor SMART (writes sector 0 during the run)";
}

std::string RealPath(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string ReadSysfsAttribute(const std::string &path) {
  std::string text;
  if (!ReadWholeFile(path, text))
    return "";
  size_t last = text.find_last_not_of(" \n");
  size_t first = text.find_first_not_of(' ');
  return last == std::string::npos ? "" : text.substr(first, last + 1 - first);
}

std::string ReaderSerial(const std::string &sysRoot, const std::string &name) {
  std::string dir = RealPath(sysRoot + "/class/block/" + name + "/device");
  for (int up = 0; up < 8 && dir.size() > 1; ++up) {
    if (!ReadSysfsAttribute(dir + "/idVendor").empty())
      return ReadSysfsAttribute(dir + "/serial");
    dir.erase(dir.find_last_of('/'));
  }
  return "";
}

DeviceVerdict ClassifyBlockDevice(const std::string &name, const std::string &sysRoot) {
  DeviceVerdict v;
  std::string entry = sysRoot + "/class/block/" + name, folder = RealPath(entry);
  if (name.empty() || name.find('/') != std::string::npos || folder.empty()) {
    v.Why = entry + " does not describe it, so whether it is a card cannot be checked";
    return v;
  }
  v.Name = name;
  v.Transport = TransportOfDisk(name);
  std::string partition = ReadSysfsAttribute(entry + "/partition");
  if (!partition.empty()) {
    std::string disk = "/dev/" + BaseName(DirectoryOf(folder));
    v.Class = DeviceClass::Partition;
    v.Why = "it is partition " + partition + " of " + disk +
            "; the card is the whole disk: sdsmart " + disk;
    return v;
  }
  if (ClassifyMmc(name, entry, v))
    return v;
  bool usb = BehindUsb(folder);
  if (usb && ReadSysfsAttribute(entry + "/removable") == "1") {
    v.Class = DeviceClass::UsbRemovable;
    return v;
  }
  v.Class = DeviceClass::OtherDisk;
  v.Why = "it is " + Describe(name, folder, usb);
  return v;
}

bool ClassifyNode(const std::string &path, const std::string &sysRoot, DeviceVerdict &verdict) {
  const std::string node = RealPath(path);
  verdict = DeviceVerdict{};
  verdict.Transport = TransportOfNode(node.empty() ? path : node);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return false;
  if (!S_ISBLK(st.st_mode)) {
    verdict.Class = DeviceClass::NotBlockDevice;
    verdict.Why = "it is " + FileKind(st.st_mode) + ", not a block device";
    return true;
  }
  // The device number finds the kernel's name whatever the node is called.
  std::string byNumber = RealPath(sysRoot + "/dev/block/" + std::to_string(major(st.st_rdev)) +
                                  ":" + std::to_string(minor(st.st_rdev)));
  const CardTransport byNodeName = verdict.Transport;
  verdict = ClassifyBlockDevice(
      BaseName(byNumber.empty() ? (node.empty() ? path : node) : byNumber), sysRoot);
  if (verdict.Name.empty())
    verdict.Transport = byNodeName;
  return true;
}

bool GuardDevice(Options &o, RunStatus &status, DeviceVerdict &verdict, GuardUse use) {
  const bool exists = ClassifyNode(o.Device, "/sys", verdict);
  status.Run().Transport = verdict.Transport;
  if (!exists)
    return true; // opening it says what is wrong
  const bool readOnly = use == GuardUse::ReadHealth && verdict.Class == DeviceClass::Emmc;
  if (!verdict.IsCard() && !readOnly) {
    std::string text = o.Device + " is not an SD card: " + verdict.Why;
    if (verdict.ForceAllows())
      text += "; sdsmart writes its command patterns over sector 0 of the device it reads, so it "
              "reads only mmcblk cards and removable disks behind USB (card readers)";
    if (!o.Force || !verdict.ForceAllows()) {
      status.Say("error", text + (verdict.ForceAllows() ? "; --force reads it all the same" : ""));
      status.Fail(kExitOpenFailed);
      return false;
    }
    status.Say("warning", text + "; reading it all the same (--force)");
  }
  // The library picks its transport by the node's name: /dev/disk/by-id/...
  // links lead to the node itself.
  std::string node = RealPath(o.Device);
  if (!node.empty())
    o.Device = node;
  return true;
}

} // namespace sdsmart_tool
