// SPDX-License-Identifier: MIT
// What the recording says about the card besides its requests: read from
// sysfs and the mount table only, so that the node sees no extra request.
#include "card/card_data.h"
#include "device/guard.h"
#include "record/record.h"

#include <cstdlib>
#include <mntent.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

std::vector<uint8_t> HexRegister(const std::string &text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return bytes;
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first partition's mount, as the library looks for it.
void FindMount(const std::string &node, RecordedCard &card) {
  FILE *table = ::setmntent("/proc/self/mounts", "r");
  if (!table)
    return;
  // The kernel names partitions of a disk whose name ends in a digit with a "p".
  const bool digit = !node.empty() && node.back() >= '0' && node.back() <= '9';
  const std::string first = node + (digit ? "p1" : "1");
  while (const mntent *m = ::getmntent(table)) {
    if (first == m->mnt_fsname) {
      card.Mounted = true;
      card.MountFsType = m->mnt_type;
      card.MountOptions = m->mnt_opts;
      break;
    }
  }
  ::endmntent(table);
}

// The USB device above the reader's disk: its id, and its serial number.
void FindReader(const std::string &device, RecordedCard &card) {
  card.ReaderVendor = ReadSysfsAttribute(device + "/vendor");
  card.ReaderModel = ReadSysfsAttribute(device + "/model");
  for (std::string dir = RealPath(device); dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
    const std::string vendor = ReadSysfsAttribute(dir + "/idVendor");
    if (vendor.empty())
      continue;
    card.ReaderUsbId = vendor + ":" + ReadSysfsAttribute(dir + "/idProduct");
    card.ReaderSerial = ReadSysfsAttribute(dir + "/serial");
    return;
  }
}

} // namespace

RecordedCard DescribeCard(const std::string &node, CardTransport transport) {
  RecordedCard card;
  card.Node = node;
  card.Transport = transport; // the transport the recording names
  const std::string sys = "/sys/class/block/" + BaseName(node);
  card.CapacitySectors = std::strtoull(ReadSysfsAttribute(sys + "/size").c_str(), nullptr, 10);
  FindMount(node, card);
  // What sysfs shows: a reader's USB ids above its disk, or a native host's
  // registers of the card.
  FindReader(sys + "/device", card);
  card.Cid = HexRegister(ReadSysfsAttribute(sys + "/device/cid"));
  card.Csd = HexRegister(ReadSysfsAttribute(sys + "/device/csd"));
  card.Scr = HexRegister(ReadSysfsAttribute(sys + "/device/scr"));
  card.Ssr = HexRegister(ReadSysfsAttribute(sys + "/device/ssr"));
  card.Ocr = ReadSysfsAttribute(sys + "/device/ocr");
  for (auto [field, file] : {std::pair{&card.Type, "type"},
                             {&card.Name, "name"},
                             {&card.ManfId, "manfid"},
                             {&card.OemId, "oemid"},
                             {&card.Date, "date"}})
    *field = ReadSysfsAttribute(sys + "/device/" + file);
  // CSD version 1.0: a standard-capacity card, addressed in bytes.
  card.ByteAddressed = !card.Csd.empty() && (card.Csd[0] >> 6) == 0;
  // The device link ends in mmcH:RRRR.
  char link[256] = {};
  if (::readlink((sys + "/device").c_str(), link, sizeof link - 1) > 0) {
    const std::string name = BaseName(link);
    const size_t colon = name.find(':');
    if (name.rfind("mmc", 0) == 0 && colon != std::string::npos) {
      card.MmcHost = static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
      card.Rca = static_cast<unsigned>(std::strtoul(name.c_str() + colon + 1, nullptr, 16));
    }
  }
  return card;
}

} // namespace sdsmart_tool
