// SPDX-License-Identifier: MIT
// --scan: the card devices of this machine: the disks under /sys/block that
// the device guard takes for cards (removable SCSI disks behind USB, mmcblk
// disks of SD cards) or for an eMMC (never its boot and RPMB areas), each
// with what its health is read by; explicit candidates (paths or glob patterns) given on
// the command line are opened and classified the same way.
#pragma once

#include "device/guard.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct ScanEntry {
  std::string Name;      // "/dev/sdb"
  DeviceVerdict Verdict; // the device guard's: kernel name, transport, kind
  HealthSource Source = HealthSource::VendorSmart; // the verdict's, or a rule's
  std::string Decided; // the card rule that settled the source ("FILE line N"), if any
  std::string Vendor;  // from sysfs, may be empty
  std::string Model;
  uint64_t SizeBytes = 0; // 0 when unknown
  std::string Caption() const;
};

// What a scan learns of each card: its name and transport, or (Captions)
// also the maker, model and size that --scan shows; --all needs the names.
enum class ScanDetail { Names, Captions };

// Candidates under <sysRoot>/block (sysRoot is "/sys" on a live system).
std::vector<ScanEntry> ScanSysBlock(const std::string &sysRoot,
                                    ScanDetail detail = ScanDetail::Captions);

// Paths matching each pattern (the pattern itself when nothing matches)
// that open and are cards; problems (nodes that do not open, a path named
// on its own that is no card) are appended to errors.
std::vector<ScanEntry> ProbeCandidates(const std::vector<std::string> &patterns,
                                       const std::string &sysRoot, std::vector<std::string> &errors,
                                       ScanDetail detail = ScanDetail::Captions);

// Nodes named like card devices (<devRoot>/sda..sdz, mmcblk0..mmcblk31)
// that open and that sysfs describes as cards by name although
// <sysRoot>/block does not list them (the virtual card answers by path).
std::vector<ScanEntry> ProbeUnlistedNodes(const std::string &sysRoot, const std::string &devRoot,
                                          ScanDetail detail = ScanDetail::Captions);

// The two lists merged, in order, without repeated names.
std::vector<ScanEntry> Merge(std::vector<ScanEntry> a, const std::vector<ScanEntry> &b);

// What --scan lists: the card devices of this machine, then the candidates
// that open (modes/scan.cpp).
std::vector<ScanEntry> ScanList(const std::vector<std::string> &patterns,
                                std::vector<std::string> &errors,
                                ScanDetail detail = ScanDetail::Captions);

} // namespace sdsmart_tool
