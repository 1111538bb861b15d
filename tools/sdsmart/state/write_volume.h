// SPDX-License-Identifier: MIT
// Write volume beside wear: the block layer's count of sectors written to a
// node, kept with each reading, gives the bytes written a day and, with the
// card's own erase counts, the write amplification. A count belongs to one
// boot and one plugging of the card (the kernel starts it at 0 for each), so
// only readings of the same boot and disk sequence number are compared.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct HistoryReading;

// A count is kept only whole: all three, or none (a count without its boot
// and plugging cannot be compared).
struct BlockWrites {
  std::optional<uint64_t> Sectors; // 512-byte sectors written since the disk appeared
  uint64_t DiskSeq = 0;            // the disk's sequence number: new at each plugging
  std::string BootId;              // the kernel's identity of this boot
};

// /sys/class/block/NAME/stat (7th field) and diskseq, /proc/sys/kernel/random/boot_id;
// no count unless all three are read.
BlockWrites ReadBlockWrites(const std::string &device, const std::string &sysRoot = "/sys",
                            const std::string &procRoot = "/proc");

// A history line's written_sectors, diskseq and boot_id (none without a
// count); TakeWriteCount is false when they are there but malformed (the
// line is no reading).
void PutWriteCount(nlohmann::ordered_json &line, const BlockWrites &writes);
bool TakeWriteCount(const nlohmann::json &line, BlockWrites &writes);

// `earlier` is a count of the same boot and plugging as `later`, not above it.
bool SameCount(const BlockWrites &later, const BlockWrites &earlier);

struct WriteVolume {
  double Days = 0; // between the two readings compared
  double BytesPerDay = 0;
  // Bytes the card erased for each byte written: erased blocks times a
  // block's share of the capacity, over the bytes written. Unknown without
  // both erase totals, a block size or any bytes written.
  std::optional<double> Amplification;
  // The wear at this volume: the life used a day (the forecast's rate) for
  // each terabyte written a day. Known for cards of this family with a wear
  // rate only; it tells whether fewer writes would slow the wear.
  std::optional<double> LifePercentPerTb;
};

// Why there is no figure ("" when there is one): the newest reading has no
// count, or no earlier reading within `windowDays` shares its boot and plug.
std::string WriteVolumeOf(const std::vector<HistoryReading> &readings, unsigned windowDays,
                          WriteVolume &volume);

// "Writes: 2.15 GB a day over 1.00 days; write amplification 3.20; 0.45 % of
// life per TB written" or why not.
std::string WriteVolumeLine(const std::optional<WriteVolume> &volume, const std::string &why);
// The JSON documents' write_volume (null when unknown) and the textfile's
// series, absent when unknown (labels: the device's label set).
nlohmann::ordered_json WriteVolumeJson(const std::optional<WriteVolume> &volume);
std::string WriteVolumeMetrics(const std::string &labels, const std::optional<WriteVolume> &volume);

} // namespace sdsmart_tool
