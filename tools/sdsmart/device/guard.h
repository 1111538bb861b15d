// SPDX-License-Identifier: MIT
// What a block device is, from sysfs, and whether sdsmart may write to it.
// Reading a card's SMART data writes command patterns over its sector 0, so
// the tool reads only what can be a card: an mmcblk disk of a native SD host
// or a SCSI disk with removable media behind USB (a card reader). --scan and
// the guard of every acquisition use this one classification, and whatever
// the tool says of how a card is reached (reports, JSON, textfiles,
// recordings) comes from it.
#pragma once

#include <string>

namespace sdsmart_tool {

struct Options;
class RunStatus;

enum class DeviceClass {
  MmcCard,        // mmcblkN of an SD card
  UsbRemovable,   // a removable SCSI disk behind USB: a card reader
  Partition,      // a partition of a disk: never, even with --force
  HardwareArea,   // mmcblkNbootM, mmcblkNrpmb: never, even with --force
  Emmc,           // mmcblkN of an eMMC: never, even with --force
  OtherDisk,      // fixed, NVMe, virtual, loop, device-mapper: with --force
  NotBlockDevice, // a FIFO, character device, file...: never (opening a FIFO hangs)
  UnknownToSysfs, // sysfs does not describe it: with --force
};

// How a node is reached, the tool's one word for it: an mmcblk disk on a
// native SD host (the MMC block ioctl), any other disk by SCSI pass-through
// as a USB card reader is. Documents spell it their own way (TransportKey;
// recordings say "native"), texts "native SD host" and "USB card reader".
enum class CardTransport { UsbReader, NativeHost };

// "usb" or "mmc": the spelling of the JSON documents, textfiles and --scan.
const char *TransportKey(CardTransport transport);

// What a run reads a node's health by: the vendor SMART path (writes
// command patterns over sector 0 for the length of the run) for cards, the
// eMMC's own life estimate (read-only) for an eMMC, and for a card known not
// to take the vendor path its identity and standard registers only
// (read-only: no health data).
enum class HealthSource { VendorSmart, EmmcLife, Registers };

// "vendor_smart", "emmc_life", "registers": the spelling of documents and
// textfiles.
const char *HealthSourceKey(HealthSource source);
// "vendor SMART (writes sector 0 during the run)", "eMMC life estimate
// (read-only)", "identity and standard registers only (read-only)".
const char *HealthSourceText(HealthSource source);

struct DeviceVerdict {
  DeviceClass Class = DeviceClass::UnknownToSysfs;
  std::string Name; // the kernel's name ("sdb"); "" when unknown
  // By the kernel's name, or by the node's name under /dev when sysfs does
  // not describe it (as the library chooses its drive).
  CardTransport Transport = CardTransport::UsbReader;
  std::string Why; // for every class but the cards: "it is partition 1 of /dev/sdb; ..."
  bool IsCard() const {
    return Class == DeviceClass::MmcCard || Class == DeviceClass::UsbRemovable;
  }
  bool ForceAllows() const {
    return IsCard() || Class == DeviceClass::OtherDisk || Class == DeviceClass::UnknownToSysfs;
  }
  // A node whose health can be read: a card, or an eMMC read without writing.
  bool HasHealth() const { return IsCard() || Class == DeviceClass::Emmc; }
  HealthSource Source() const {
    return Class == DeviceClass::Emmc ? HealthSource::EmmcLife : HealthSource::VendorSmart;
  }
};

// The block device the kernel names `name`, from <sysRoot>/class/block/NAME
// (sysRoot is "/sys" on a live system).
DeviceVerdict ClassifyBlockDevice(const std::string &name, const std::string &sysRoot);

// A node path (links followed), found in sysfs by its device number, else by
// its name. false when the node does not exist (the verdict has its
// transport by the name): opening it will say why.
bool ClassifyNode(const std::string &path, const std::string &sysRoot, DeviceVerdict &verdict);

// What the guarded run does to the node.
enum class GuardUse {
  Write,      // writes to it: cards only (others with --force)
  ReadHealth, // an acquisition: an eMMC passes too, to be read without writing
};

// The guard before a run: true when the node may be used as `use` says. A
// refusal says why and sets the exit bit of a device that cannot be used.
// The device is replaced by the node its links lead to, the name the
// library chooses its transport by; the run's record gets the transport.
bool GuardDevice(Options &options, RunStatus &status, DeviceVerdict &verdict,
                 GuardUse use = GuardUse::Write);

// realpath(3); "" when the path does not resolve.
std::string RealPath(const std::string &path);
// A sysfs attribute without its line feed and padding; "" when unreadable.
std::string ReadSysfsAttribute(const std::string &path);
// The serial number of the USB device the disk the kernel names `name`
// hangs below (a card reader); "" when it has none.
std::string ReaderSerial(const std::string &sysRoot, const std::string &name);

} // namespace sdsmart_tool
