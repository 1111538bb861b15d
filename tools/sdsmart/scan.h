// --scan: the card devices of this machine. Candidates are the SCSI disks
// with removable media behind USB (card readers) and the mmcblk disks of
// native SD hosts, found under /sys/block; explicit candidates (paths or
// glob patterns) given on the command line are probed by opening them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct ScanEntry {
  std::string Name;      // "/dev/sdb"
  std::string Transport; // "usb" or "mmc"
  std::string Vendor;    // from sysfs, may be empty
  std::string Model;
  uint64_t SizeBytes = 0; // 0 when unknown
  std::string Caption() const;
};

// Candidates under <sysRoot>/block (sysRoot is "/sys" on a live system).
std::vector<ScanEntry> ScanSysBlock(const std::string &sysRoot);

// Paths matching each pattern (the pattern itself when nothing matches)
// that open; problems (nodes that do not open) are appended to errors.
std::vector<ScanEntry> ProbeCandidates(const std::vector<std::string> &patterns,
                                       const std::string &sysRoot,
                                       std::vector<std::string> &errors);

// Nodes named like card devices (<devRoot>/sda..sdz, mmcblk0..mmcblk31)
// that open although <sysRoot>/block does not describe them: block nodes
// passed into a container whose /sys is masked, or the virtual card.
std::vector<ScanEntry> ProbeUnlistedNodes(const std::string &sysRoot, const std::string &devRoot);

// The two lists merged, in order, without repeated names.
std::vector<ScanEntry> Merge(std::vector<ScanEntry> a, const std::vector<ScanEntry> &b);

// What --scan lists: the card devices of this machine, then the candidates
// that open (scan_mode.cpp).
std::vector<ScanEntry> ScanList(const std::vector<std::string> &patterns,
                                std::vector<std::string> &errors);

} // namespace sdsmart_tool
