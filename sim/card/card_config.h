// SPDX-License-Identifier: MIT
// What a card file describes: the card's geometry, its firmware's entry
// string, its registers and SMART data. Parsed from JSON (sim/README.md).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sdsim {

struct ReplayScript;

constexpr std::uint32_t kNoReadCount = 0xFFFFFFFF;
constexpr std::size_t kSector = 512;
constexpr std::uint32_t kEmmcBootSectors = 8192; // each of an eMMC's two boot areas: 4 MiB

// The per-VB tables (card values), all of the entry count.
struct VbTables {
  std::vector<std::uint16_t> EraseCounts;
  std::vector<std::uint32_t> ReadCounts; // in reads; kNoReadCount: none
  std::vector<std::uint16_t> RuntimeStatus;
};

// Tables filled on first use. Drawing a generated table is most of the time
// attaching a card takes, and under the launcher every process attaches every
// card of the run while it reads the SMART pages of one at most. The card
// file is checked when it is parsed; only the filling waits.
class LazyTables {
public:
  using Fill = std::function<void(VbTables &)>;
  LazyTables() : Shared(std::make_shared<State>()) {}
  explicit LazyTables(Fill fill) : LazyTables() { Shared->Pending = std::move(fill); }
  const VbTables &Get() const {
    std::call_once(Shared->Once, [this] {
      if (Shared->Pending)
        Shared->Pending(Shared->Tables);
      Shared->Pending = nullptr;
    });
    return Shared->Tables;
  }

private:
  struct State {
    std::once_flag Once;
    Fill Pending;
    VbTables Tables;
  };
  std::shared_ptr<State> Shared; // copies of a config share one set of tables
};

// What an eMMC (sysfs kind "emmc") reports in its EXT_CSD and sysfs.
struct EmmcConfig {
  std::uint8_t LifeTimeA = 1, LifeTimeB = 1; // DEVICE_LIFE_TIME_EST_TYP_A/B (bytes 268, 269)
  std::uint8_t PreEolInfo = 1;               // PRE_EOL_INFO (byte 267)
  std::uint8_t ExtCsdRev = 8;                // EXT_CSD_REV (byte 192)
  bool SysfsLife = true; // the kernel shows life_time and pre_eol_info (older ones do not)
};

struct CardConfig {
  std::string Node;
  std::uint64_t CapacitySectors = 0;
  bool ByteAddressed = false;
  std::string Entry; // exactly 8 bytes
  std::array<std::uint8_t, 512> Sector0{};
  std::string Image; // backing image path, "" for a card held in memory

  // Mounted file system for the extension mode.
  bool Mounted = false;
  bool AutoMount = false; // the sim picks a temporary directory
  std::string MountPoint;
  std::string MountDevice; // e.g. /dev/sdx1
  std::string MountFsType = "vfat";
  std::string MountOptions = "rw,relatime";

  // Native host identity.
  std::uint16_t Rca = 0xAAAA;
  unsigned MmcHost = 0;

  // What sysfs tells about the node: one of kSysfsKinds (by default what the
  // node's name implies) and the partitions the kernel lists for it.
  std::string SysfsKind;
  unsigned Partitions = 1;
  // The block layer's count of sectors written since the disk appeared
  // (field 7 of its stat file) and the disk's sequence number (diskseq): a
  // re-plugged card is a new disk with a new number and a count from 0.
  std::uint64_t WrittenSectors = 0;
  std::uint64_t DiskSeq = 1;

  // Header fields in host order, by name; texts and byte fields separately.
  std::map<std::string, std::uint32_t> Numbers;
  std::string HwVersion, FwVersion, ClientMark;
  std::array<std::uint8_t, 3> Signature{{'S', 'I', '0'}};
  std::array<std::uint8_t, 6> FlashId{};
  std::array<std::uint8_t, 16> Cid{}, Csd{};
  std::array<std::uint8_t, 8> Scr{};
  std::array<std::uint8_t, 64> Ssr{}; // SD Status (ACMD13)
  // The OCR as the kernel keeps it: the voltage window the host chose.
  std::uint32_t Ocr = 0x00200000;
  EmmcConfig Emmc;
  bool UseDetailCountEx = true;

  LazyTables VbTableSource;
  const VbTables &Tables() const { return VbTableSource.Get(); }
  bool GlobalReadCounts = false;
  unsigned RemainderSectors = 0; // global format; 0: chosen from the entry count

  // Busy answers.
  unsigned BusyHeader = 0;      // busy reads before each header
  unsigned BusyFirstDetail = 0; // busy reads of detail 0 (HeaderVersion 0 or 1)
  unsigned BusyPmt = 0;         // busy PMT polls before the confirmation
  unsigned BusyFile = 0;        // busy headers placed ahead of a host-file answer

  // Latency model: the time each transfer and each host-file step takes
  // (a real sleep, outside the registry's lock); 0 answers at once.
  std::uint32_t TransferLatencyUs = 0;
  std::uint32_t FileStepLatencyUs = 0;

  // A card that answers from a recording (sdsim --recording): its requests.
  std::shared_ptr<const ReplayScript> Script;

  bool IsNative() const { return Node.rfind("/dev/mmcblk", 0) == 0; }
  bool IsEmmc() const { return SysfsKind == "emmc"; }
};

// "usb-removable", "usb-fixed", "sata", "nvme", "virtio", "loop", "dm",
// "mmc", "emmc".
extern const char *const kSysfsKinds[9];

// Parses a card description. baseDir resolves relative paths. Throws
// std::runtime_error with a readable message.
CardConfig ParseCardConfig(const std::string &jsonText, const std::string &baseDir);
std::string ReadWholeFile(const std::string &path);
std::string DirName(const std::string &path);

// N = BaseVBEntryCount + ExtraVBEntriesPerUnit * (U - 1), U = TotalVBCount /
// VBsPerUnit (1 when VBsPerUnit is 0), in unsigned 32-bit arithmetic.
std::uint32_t EntryCount(const CardConfig &config);

} // namespace sdsim
