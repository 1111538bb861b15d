// SPDX-License-Identifier: MIT
// What sysfs tells about a card's node, as the kernel lays it out: the block
// device's folder under /sys/devices (reached through /sys/class/block/NAME,
// /sys/block/NAME and /sys/dev/block/MAJ:MIN), its attributes, its device
// link and, for native cards, the register files behind that link. The
// card's kind (card file key "sysfs") decides where the folder lies: behind
// USB, SATA, NVMe or virtio, or among the virtual devices (loop, dm).
#pragma once

#include <string>
#include <sys/types.h>

namespace sdsim {

class CardState;
struct CardConfig;
class Registry;

// The whole disk of a card (Partition 0) or one of its partitions; for an
// eMMC also its boot areas (Boot 1 and 2: NODEboot0, NODEboot1), disks of
// their own beside the user area.
struct SysfsEntry {
  CardState *Card = nullptr;
  unsigned Partition = 0;
  unsigned Boot = 0;
};

// The entry a node path stands for ("/dev/sdx", "/dev/sdx1", "/dev/mmcblk7p1").
bool SysfsByNode(Registry &registry, const std::string &path, SysfsEntry &entry);
// The entry a sysfs path names, with the rest of the path after its folder
// ("" for the folder itself, "removable", "device", "device/csd", ...).
bool SysfsLookup(Registry &registry, const std::string &path, SysfsEntry &entry, std::string &rest);
dev_t DeviceNumber(Registry &registry, const SysfsEntry &entry);
// The text of a file of the folder ("size", "device/csd"); false when there
// is none.
bool SysfsText(Registry &registry, const SysfsEntry &entry, const std::string &rest,
               std::string &text);
// open(2) of a card's sysfs file: true with its descriptor (or -1 and errno)
// when the path is one; false when it is not a card's.
bool SysfsOpen(Registry &registry, const std::string &path, int flags, int &fd);
bool IsSysfsFile(Registry &registry, const std::string &path);
// A file behind a native card's device link ("cid", "life_time", ...):
// false when the kernel shows no such file for the card.
bool DeviceText(const CardConfig &config, const std::string &file, std::string &text);

} // namespace sdsim
