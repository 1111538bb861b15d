// SPDX-License-Identifier: MIT
#include "state/write_volume.h"

#include "output/output.h"
#include "state/history_store.h"
#include "util/files.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace sdsmart_tool {
namespace {

constexpr double kDay = 86400;
constexpr double kLeastDays = 1.0 / 24; // an hour: shorter spans say little a day

} // namespace

bool SameCount(const BlockWrites &later, const BlockWrites &earlier) {
  return later.Sectors && earlier.Sectors && later.DiskSeq == earlier.DiskSeq &&
         later.BootId == earlier.BootId && *earlier.Sectors <= *later.Sectors;
}

void PutWriteCount(nlohmann::ordered_json &line, const BlockWrites &writes) {
  if (!writes.Sectors)
    return;
  line["written_sectors"] = *writes.Sectors;
  line["diskseq"] = writes.DiskSeq;
  line["boot_id"] = writes.BootId;
}

bool TakeWriteCount(const nlohmann::json &line, BlockWrites &writes) {
  writes = BlockWrites();
  if (!line.contains("written_sectors"))
    return true; // not read, or a line of a version before it
  const nlohmann::json &sectors = line["written_sectors"],
                       seq = line.value("diskseq", nlohmann::json()),
                       boot = line.value("boot_id", nlohmann::json());
  if (!sectors.is_number_unsigned() || !seq.is_number_unsigned() || !boot.is_string())
    return false;
  writes = {sectors.get<uint64_t>(), seq.get<uint64_t>(), boot.get<std::string>()};
  return true;
}

BlockWrites ReadBlockWrites(const std::string &device, const std::string &sysRoot,
                            const std::string &procRoot) {
  BlockWrites w;
  const std::string folder =
      sysRoot + "/class/block/" + device.substr(device.find_last_of('/') + 1) + "/";
  std::string text;
  uint64_t fields[7] = {}, seq = 0;
  if (ReadWholeFile(folder + "stat", text) &&
      std::sscanf(
          text.c_str(),
          "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64,
          &fields[0], &fields[1], &fields[2], &fields[3], &fields[4], &fields[5], &fields[6]) == 7)
    w.Sectors = fields[6];
  if (ReadWholeFile(folder + "diskseq", text) && std::sscanf(text.c_str(), "%" SCNu64, &seq) == 1)
    w.DiskSeq = seq;
  if (ReadWholeFile(procRoot + "/sys/kernel/random/boot_id", text))
    w.BootId = text.substr(0, text.find('\n'));
  const bool boot =
      w.BootId.size() == 36 && w.BootId.find_first_not_of("0123456789abcdef-") == std::string::npos;
  return w.Sectors && w.DiskSeq && boot ? w : BlockWrites();
}

std::string WriteVolumeOf(const std::vector<HistoryReading> &readings, unsigned windowDays,
                          WriteVolume &volume) {
  if (readings.empty() || !readings.back().Writes.Sectors)
    return "not read (the kernel shows no write count, disk sequence number or boot id)";
  const HistoryReading &last = readings.back();
  // Back from the newest over the readings of its boot and plugging.
  size_t first = readings.size() - 1;
  while (first > 0 && SameCount(last.Writes, readings[first - 1].Writes) &&
         last.Time - readings[first - 1].Time <= int64_t{windowDays} * 86400)
    --first;
  const HistoryReading &start = readings[first];
  volume.Days = static_cast<double>(last.Time - start.Time) / kDay;
  if (first == readings.size() - 1 || volume.Days < kLeastDays)
    return "not known yet (no reading an hour or more before, since the card was plugged in "
           "and the system started)";
  const double bytes = 512.0 * static_cast<double>(*last.Writes.Sectors - *start.Writes.Sectors);
  volume.BytesPerDay = bytes / volume.Days;
  const double bytesPerBlock = static_cast<double>(last.BlockBytes);
  if (bytes > 0 && bytesPerBlock > 0 && last.TotalErases >= start.TotalErases &&
      !last.Implausible && !start.Implausible)
    volume.Amplification =
        static_cast<double>(last.TotalErases - start.TotalErases) * bytesPerBlock / bytes;
  return "";
}

std::string WriteVolumeLine(const std::optional<WriteVolume> &volume, const std::string &why) {
  if (!volume)
    return "Writes: " + why + "\n";
  char days[32], amplification[32] = "not known";
  std::snprintf(days, sizeof days, "%.2f", volume->Days);
  if (volume->Amplification)
    std::snprintf(amplification, sizeof amplification, "%.2f", *volume->Amplification);
  std::string wear;
  if (volume->LifePercentPerTb) {
    char figure[48];
    std::snprintf(figure, sizeof figure, "; %.2f %% of life per TB written",
                  *volume->LifePercentPerTb);
    wear = figure;
  }
  return "Writes: " + HumanBytes(static_cast<uint64_t>(std::llround(volume->BytesPerDay))) +
         " a day over " + days + " days; write amplification " + amplification + wear + "\n";
}

nlohmann::ordered_json WriteVolumeJson(const std::optional<WriteVolume> &volume) {
  using J = nlohmann::ordered_json;
  if (!volume)
    return nullptr;
  return {{"days", std::round(volume->Days * 100) / 100},
          {"bytes_per_day", std::llround(volume->BytesPerDay)},
          {"write_amplification", volume->Amplification ? J(*volume->Amplification) : J(nullptr)},
          {"life_percent_per_tb",
           volume->LifePercentPerTb ? J(*volume->LifePercentPerTb) : J(nullptr)}};
}

std::string WriteVolumeMetrics(const std::string &labels,
                               const std::optional<WriteVolume> &volume) {
  std::string text;
  char value[64];
  if (volume) {
    std::snprintf(value, sizeof value, "%.12g", volume->BytesPerDay);
    text += "# HELP sdsmart_written_bytes_per_day Bytes written to the device a day since the "
            "same boot and plugging, from its history.\n"
            "# TYPE sdsmart_written_bytes_per_day gauge\nsdsmart_written_bytes_per_day{" +
            labels + "} " + value + "\n";
  }
  if (volume && volume->Amplification) {
    std::snprintf(value, sizeof value, "%.12g", *volume->Amplification);
    text += "# HELP sdsmart_write_amplification_ratio Bytes the card erased for each byte "
            "written, over the same span.\n# TYPE sdsmart_write_amplification_ratio gauge\n"
            "sdsmart_write_amplification_ratio{" +
            labels + "} " + value + "\n";
  }
  return text;
}

} // namespace sdsmart_tool
