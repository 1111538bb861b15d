// SPDX-License-Identifier: MIT
// --rebuild-sector0: a card whose sector 0 holds a command pattern and whose
// journal is nowhere (it lay on the card's own root file system) gets a
// partition table made from what lies on the card: on a GPT disk the
// protective MBR in front of its GPT, else an MBR of the file systems found.
// It is shown first and written only with --force, only over a pattern,
// only sector 0, and read back.
#include "device/guard.h"
#include "modes/modes.h"
#include "run/run_plan.h"
#include "sector0/gpt.h"
#include "sector0/partition_finder.h"
#include "sector0/scan_progress.h"
#include "sector0/sector0.h"

#include <sdsmart/partition_table.h>
#include <sdsmart/sdsmart.h>

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", digits, value);
  return text;
}

std::string Size(uint64_t sectors) {
  const double mib = static_cast<double>(sectors) / 2048;
  char text[32];
  if (mib >= 1024)
    std::snprintf(text, sizeof text, "%.1f GiB", mib / 1024);
  else
    std::snprintf(text, sizeof text, "%.1f MiB", mib);
  return text;
}

// The CHS address MBRs still carry: 255 heads, 63 sectors, capped as usual.
void PutChs(uint8_t *at, uint64_t lba) {
  uint64_t cylinder = lba / (255 * 63), head = lba / 63 % 255, sector = lba % 63 + 1;
  if (cylinder > 1023) {
    cylinder = 1023;
    head = 254;
    sector = 63;
  }
  at[0] = static_cast<uint8_t>(head);
  at[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
  at[2] = static_cast<uint8_t>(cylinder & 0xFF);
}

Sector BuildMbr(const std::vector<FoundPartition> &parts, uint32_t diskId) {
  Sector s{};
  using namespace PartitionTable;
  PutLe32(s.data() + DiskIdAt, diskId);
  for (size_t i = 0; i < parts.size(); ++i) {
    uint8_t *e = s.data() + EntriesAt + EntryBytes * i;
    e[EntryStatusAt] = parts[i].Boot ? EntryBootable : 0x00;
    PutChs(e + EntryFirstChsAt, parts[i].Start);
    e[EntryTypeAt] = parts[i].Type;
    PutChs(e + EntryLastChsAt, parts[i].Start + parts[i].Sectors - 1);
    PutLe32(e + EntryFirstLbaAt, static_cast<uint32_t>(parts[i].Start));
    PutLe32(e + EntrySectorCountAt, static_cast<uint32_t>(parts[i].Sectors));
  }
  std::copy(Signature.begin(), Signature.end(), s.begin() + SignatureAt);
  return s;
}

std::string Table(const std::string &device, const std::vector<FoundPartition> &parts) {
  std::string out = "Partition table proposed for " + device + ":\n";
  char line[160];
  std::snprintf(line, sizeof line, "  %-2s %-4s %12s %12s %10s  %-4s %s\n", "#", "boot", "start",
                "sectors", "size", "type", "found");
  out += line;
  for (size_t i = 0; i < parts.size(); ++i) {
    const FoundPartition &p = parts[i];
    std::snprintf(line, sizeof line, "  %-2zu %-4s %12llu %12llu %10s  %-4s %s%s\n", i + 1,
                  p.Boot ? "*" : "", static_cast<unsigned long long>(p.Start),
                  static_cast<unsigned long long>(p.Sectors), Size(p.Sectors).c_str(),
                  Hex(p.Type, 2).c_str(), p.Kind.c_str(),
                  p.Label.empty() ? "" : (" \"" + p.Label + "\"").c_str());
    out += line;
  }
  return out;
}

// The disk identifier boot files name as PARTUUID=xxxxxxxx-NN: the boot
// command line of a FAT partition, the root's /etc/fstab. `where` says in
// which.
std::optional<uint32_t> RecoverDiskId(const CardReader &card,
                                      const std::vector<FoundPartition> &parts,
                                      std::string &where) {
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool fat = parts[i].Kind.compare(0, 3, "FAT") == 0;
    const bool ext = parts[i].Kind.compare(0, 3, "ext") == 0;
    const std::optional<std::string> text = fat   ? FatFileText(card, parts[i], "CMDLINE TXT")
                                            : ext ? ExtFileText(card, parts[i], "etc/fstab")
                                                  : std::nullopt;
    if (std::optional<uint32_t> id = text ? PartUuidDiskId(*text) : std::nullopt) {
      where = std::string(fat ? "cmdline.txt" : "/etc/fstab") + " of partition " +
              std::to_string(i + 1);
      return id;
    }
  }
  return std::nullopt;
}

// Writes `table` to sector 0 and reads it back.
int WriteTable(const Options &o, Sector0Device &device, const Sector &table, RunStatus &status,
               const std::string &what) {
  if (!o.Force) {
    std::cout << "Not written: run again with --force to write this " << what << " to sector 0 of "
              << o.Device << ".\n";
    return 0;
  }
  device.Write(table);
  if (device.Read() != table) {
    status.Say("error", "sector 0 of " + o.Device + " does not read back as written");
    return kExitAcquisition;
  }
  status.Say("information",
             "sector 0 of " + o.Device + " written with the " + what + " above and read back");
  return 0;
}

// A GPT disk gets the protective MBR its GPT expects, never a table of its
// own: the partitions are the GPT's. One intact header is enough to know
// the disk is GPT; the damaged one is named for gdisk to repair.
int RebuildGpt(const Options &o, Sector0Device &device, const GptDisk &gpt, uint64_t capacity,
               RunStatus &status) {
  const GptHeader &used = gpt.Primary ? *gpt.Primary : *gpt.Backup;
  std::cout << "GPT found on " << o.Device << ": disk GUID " << used.DiskGuid << ", "
            << used.Entries << " partition" << (used.Entries == 1 ? "" : "s") << "; primary header "
            << (gpt.Primary ? "intact" : "damaged") << " at LBA 1, backup ";
  if (gpt.Backup)
    std::cout << "intact at LBA " << gpt.Backup->Lba;
  else
    std::cout << "missing or damaged at LBA " << capacity - 1;
  std::cout << ".\n"
            << "Protective MBR proposed for " << o.Device << ": one entry of type ee from LBA 1, "
            << std::min(capacity - 1, PartitionTable::GptProtectiveMaxSectors) << " sectors.\n";
  if (!gpt.Primary || !gpt.Backup)
    status.Say("warning", std::string("the ") + (gpt.Primary ? "backup" : "primary") +
                              " GPT header of " + o.Device +
                              " fails its CRC-32 checks; the protective MBR is made from the " +
                              (gpt.Primary ? "primary" : "backup") +
                              " one, and gdisk's recovery menu rebuilds the damaged one from it");
  if (o.DiskId)
    std::cout << "--disk-id is not used: a GPT names its partitions by their own GUIDs.\n";
  return WriteTable(o, device, ProtectiveMbr(capacity), status, "protective MBR");
}

int Rebuild(const Options &o, RunStatus &status) {
  Sector0Device device(o.Device);
  const Sector now = device.Read();
  if (GetSectorKind(now.data()) == SDSMART_SECTOR_DATA) {
    status.Say("error", "sector 0 of " + o.Device +
                            " holds no command pattern: it is the card's own (a partition table "
                            "or data) and is never rewritten here");
    return kExitAcquisition;
  }
  const uint64_t capacity = device.CapacitySectors();
  ScanProgress *scan = nullptr; // the search for file systems, not the GPT's reads
  CardReader card{[&device, &scan](uint64_t lba, uint32_t count, uint8_t *out) {
                    if (scan)
                      scan->At(lba);
                    device.ReadSectors(static_cast<unsigned int>(lba), count, out);
                  },
                  capacity};
  const GptDisk gpt = FindGpt(card);
  if (gpt.Valid())
    return RebuildGpt(o, device, gpt, capacity, status);
  if (gpt.PrimarySeen) {
    status.Say("error", "a GPT header is on " + o.Device +
                            ", but neither the primary (LBA 1) nor a backup passes its CRC-32 "
                            "checks; no table is written over a damaged GPT");
    return kExitAcquisition;
  }
  if (gpt.Remnant())
    status.Say("warning", "the last sector of " + o.Device +
                              " holds a GPT backup header but LBA 1 holds no GPT header: taken "
                              "for what is left of an earlier GPT, and the table is made from "
                              "the file systems found");
  ScanProgress progress("searching " + o.Device + " for file systems", capacity, STDERR_FILENO);
  scan = &progress;
  const std::vector<FoundPartition> parts = FindPartitions(card);
  scan = nullptr;
  progress.Done();
  if (parts.empty()) {
    status.Say("error", "no FAT, exFAT or ext file system found on " + o.Device +
                            "; nothing to rebuild a partition table from");
    return kExitAcquisition;
  }
  std::string where;
  std::optional<uint32_t> id = o.DiskId;
  if (!id)
    id = RecoverDiskId(card, parts, where);
  std::cout << Table(o.Device, parts);
  if (o.DiskId)
    std::cout << "Disk identifier: 0x" << Hex(*id, 8) << " (--disk-id)\n";
  else if (id)
    std::cout << "Disk identifier: 0x" << Hex(*id, 8) << " (found as PARTUUID in " << where
              << ")\n";
  else
    std::cout << "Disk identifier: none found on the card; whatever names these partitions "
                 "by PARTUUID (boot command line, /etc/fstab) will need it: give it with "
                 "--disk-id HEX\n";
  return WriteTable(o, device, BuildMbr(parts, id.value_or(0)), status, "table");
}

} // namespace

int RunRebuild(const Options &given, RunStatus &status) {
  status.Run().Device = given.Device;
  RunPlan plan;
  Options &o = plan.Opts;
  o = given;       // the device becomes the node its links lead to
  o.Force = false; // here --force writes the table; it never makes a disk a card
  const bool card = GuardDevice(o, status, plan.Verdict);
  o.Force = given.Force;
  if (card && CheckDeviceOpens(o.Device, status)) {
    status.Fail(GuardTransfers(o.Device + ": rebuilding sector 0", status,
                               [&] { return Rebuild(o, status); }));
  }
  return Publish(plan, status);
}

} // namespace sdsmart_tool
