// SPDX-License-Identifier: MIT
#include "output/output.h"

#include "card/plausibility.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace sdsmart_tool {
namespace {

// Label values: UTF-8 (we keep to printable ASCII) with backslash, double
// quote and line feed escaped.
std::string LabelValue(const std::string &s) {
  std::string out;
  for (char ch : Printable(s)) {
    if (ch == '\\' || ch == '"')
      out += '\\';
    out += ch;
  }
  return out;
}

std::string Value(double v) {
  if (std::isnan(v))
    return "NaN";
  if (std::isinf(v))
    return v > 0 ? "+Inf" : "-Inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

class Exposition {
public:
  explicit Exposition(std::string device) : DeviceLabel("device=\"" + LabelValue(device) + "\"") {}

  void Metric(const std::string &name, const char *type, const std::string &help, double value,
              const std::string &labels = "") {
    Header(name, type, help);
    Sample(name, value, labels);
  }
  void Header(const std::string &name, const char *type, const std::string &help) {
    Out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
  }
  void Sample(const std::string &name, double value, const std::string &labels = "") {
    Out << name << "{" << DeviceLabel << labels << "} " << Value(value) << "\n";
  }
  std::string Text() const { return Out.str(); }

private:
  std::string DeviceLabel;
  std::ostringstream Out;
};

// "2026-12-06T21:47:56Z" (the journal's time) as Unix time.
std::optional<int64_t> IsoSeconds(const std::string &text) {
  std::tm utc{};
  const char *end = text.empty() ? nullptr : ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  if (end == nullptr || *end != '\0')
    return std::nullopt;
  return static_cast<int64_t>(::timegm(&utc));
}

std::string Label(const char *name, const std::string &value) {
  return std::string(",") + name + "=\"" + LabelValue(value) + "\"";
}

// The per-VB erase counts as shares of the rated cycles, in the same
// buckets for every card: no label value depends on the data.
void WearHistogram(Exposition &e, const std::vector<uint32_t> &counts, uint32_t rated) {
  static const double bounds[] = {0.02, 0.05, 0.1, 0.2, 0.3,  0.4, 0.5, 0.6,
                                  0.7,  0.8,  0.9, 1,   1.25, 1.5, 2};
  constexpr size_t kBounds = sizeof bounds / sizeof bounds[0];
  uint64_t below[kBounds + 1] = {};
  double sum = 0;
  for (uint32_t v : counts) {
    if (v > kLargestCountedValue)
      continue;
    double share = static_cast<double>(v) / rated;
    sum += share;
    size_t i = 0;
    while (i < kBounds && share > bounds[i])
      ++i;
    ++below[i];
  }
  const std::string name = "sdsmart_erase_count_ratio";
  e.Header(name, "histogram",
           "Virtual blocks by erase count as a share of the rated program/erase cycles.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i <= kBounds; ++i) {
    cumulative += below[i];
    e.Sample(name + "_bucket", static_cast<double>(cumulative),
             Label("le", i < kBounds ? Value(bounds[i]) : "+Inf"));
  }
  e.Sample(name + "_sum", sum);
  e.Sample(name + "_count", static_cast<double>(cumulative));
}

void VerdictMetrics(Exposition &e, const std::optional<HealthResult> &health) {
  if (!health)
    return;
  e.Metric("sdsmart_smart_healthy", "gauge", "1 unless the health verdict is FAILED.",
           health->Status == Verdict::Failed ? 0 : 1);
  e.Metric("sdsmart_smart_warning", "gauge", "1 when the health verdict is WARNING.",
           health->Status == Verdict::Warning ? 1 : 0);
}

// An eMMC's life bands as ratios of the rated life used; a value not
// reported or reserved has no sample, an exceeded life no upper bound.
void EmmcMetrics(Exposition &e, const RunRecord &run) {
  const EmmcLife &life = *run.Emmc;
  e.Metric("sdsmart_device_info", "gauge", "Identity of the card; the value is always 1.", 1,
           Label("transport", TransportKey(run.Transport)) +
               Label("health_source", HealthSourceKey(run.Source)));
  VerdictMetrics(e, run.Health);
  const std::pair<const char *, uint8_t> types[] = {{"a", life.LifeA}, {"b", life.LifeB}};
  e.Header("sdsmart_emmc_life_used_lower_ratio", "gauge",
           "Lower bound of the eMMC's life estimate band: share of the rated life used.");
  for (const auto &[type, value] : types)
    if (std::optional<LifeBand> band = BandOf(value))
      e.Sample("sdsmart_emmc_life_used_lower_ratio", band->UsedFrom / 100.0, Label("type", type));
  e.Header("sdsmart_emmc_life_used_upper_ratio", "gauge",
           "Upper bound of the eMMC's life estimate band (none once the life is exceeded).");
  for (const auto &[type, value] : types)
    if (std::optional<LifeBand> band = BandOf(value); band && band->UsedTo)
      e.Sample("sdsmart_emmc_life_used_upper_ratio", *band->UsedTo / 100.0, Label("type", type));
  if (life.PreEol >= kPreEolNormal && life.PreEol <= kPreEolUrgent)
    e.Metric("sdsmart_emmc_pre_eol_state", "gauge",
             "Reserved blocks of the eMMC: 1 normal, 2 warning (80 % used), 3 urgent (90 %).",
             life.PreEol);
}

// A card that gave no SMART data: who it is and its size, from sysfs.
void RegistersMetrics(Exposition &e, const RunRecord &run) {
  const CardRegisters &r = *run.Registers;
  char serial[16] = "";
  if (r.SerialNumber)
    std::snprintf(serial, sizeof serial, "%08x", *r.SerialNumber);
  // Only what sysfs shows: a card behind a USB reader has its reader.
  std::string labels = Label("transport", TransportKey(run.Transport)) +
                       Label("health_source", HealthSourceKey(run.Source));
  for (const auto &[name, value] : {std::pair{"oem_id", r.OemId},
                                    {"product_name", r.ProductName},
                                    {"serial_number", std::string(serial)},
                                    {"manufacturing_date", r.ManufacturingDate},
                                    {"reader_vendor", r.ReaderVendor},
                                    {"reader_model", r.ReaderModel},
                                    {"reader_serial", r.ReaderSerial}})
    if (!value.empty())
      labels += Label(name, value);
  e.Metric("sdsmart_device_info", "gauge", "Identity of the card; the value is always 1.", 1,
           labels);
  if (r.CapacityBytes)
    e.Metric("sdsmart_capacity_bytes", "gauge", "User capacity of the card from its CSD register.",
             static_cast<double>(*r.CapacityBytes));
}

} // namespace

std::string RenderPrometheus(const RunRecord &run) {
  Exposition e(run.Device);
  e.Metric("sdsmart_smart_read_success", "gauge",
           "1 when the SMART data of the card could be read.", run.Card || run.Emmc ? 1 : 0);
  // Whatever else failed (a recording, the --on-change command, the state)
  // shows here too, with the bits of sdsmart's exit status.
  e.Metric("sdsmart_exit_status", "gauge",
           "Exit status of the run that wrote this file (a bit mask; 0 when all went well).",
           run.ExitStatus);
  if (run.Sector0Intact)
    e.Metric("sdsmart_sector0_intact", "gauge",
             "0 when the run left a command pattern over the card's partition table.",
             *run.Sector0Intact ? 1 : 0);
  // Only in the run that did it: a repair is news once.
  if (std::optional<int64_t> taken = IsoSeconds(run.Sector0Restored))
    e.Metric("sdsmart_sector0_recovered_timestamp_seconds", "gauge",
             "When the copy of the partition table the run first wrote back from the journal of "
             "a run that died with a command pattern over it was taken (Unix time).",
             static_cast<double>(*taken));
  if (run.Emmc)
    EmmcMetrics(e, run);
  if (run.Registers && !run.Card)
    RegistersMetrics(e, run);
  if (!run.Card)
    return e.Text();
  const CardData &d = *run.Card;
  const CardIdentity &id = d.Identity;
  const CardCounters &c = d.Counters;

  char serial[16];
  std::snprintf(serial, sizeof serial, "%08x", id.SerialNumber);
  e.Metric("sdsmart_device_info", "gauge", "Identity of the card; the value is always 1.", 1,
           Label("transport", TransportKey(d.Transport)) +
               Label("health_source", HealthSourceKey(run.Source)) +
               Label("manufacturer", id.Manufacturer) + Label("oem_id", id.OemId) +
               Label("product_name", id.ProductName) + Label("serial_number", serial) +
               Label("manufacturing_date", id.ManufacturingDate) +
               Label("firmware_version", id.FirmwareVersion) +
               Label("hardware_version", id.HardwareVersion) + Label("mp_version", id.MpVersion) +
               Label("flash_id", id.FlashId) + Label("flash_maker", id.FlashMaker) +
               Label("flash_type", id.FlashType) + Label("library_version", id.LibraryVersion));
  VerdictMetrics(e, run.Health);
  if (id.CapacityBytes) // 0: the CSD was not read or does not decode
    e.Metric("sdsmart_capacity_bytes", "gauge", "User capacity of the card from its CSD register.",
             static_cast<double>(id.CapacityBytes));
  if (std::optional<LifeFigures> life = Life(c)) {
    e.Metric("sdsmart_remaining_life_ratio", "gauge",
             "Remaining share of the rated endurance (may be below 0).", life->Remaining / 100.0);
    e.Metric("sdsmart_life_used_ratio", "gauge",
             "Used share of the rated endurance (may exceed 1).", life->Used / 100.0);
  }
  e.Metric("sdsmart_reading_plausible", "gauge",
           "0 when the reading contradicts itself (see the report's reasons).",
           run.Contradictions.empty() ? 1 : 0);
  // A field never written (all ones) is no value: its series is left out, as
  // one not read would be.
  if (!NeverWritten(c.PeCycleCount))
    e.Metric("sdsmart_rated_pe_cycles", "gauge", "Rated program/erase cycles of the flash.",
             c.PeCycleCount);
  e.Metric("sdsmart_block_erases_total", "counter",
           "Erases of physical blocks over the card's life.", c.TotalEraseCount);
  e.Metric("sdsmart_erase_count_average", "gauge", "Average erase count of a virtual block.",
           c.AverageEraseCount);
  e.Header("sdsmart_erase_count_min", "gauge", "Smallest erase count of a virtual block.");
  if (c.MinEraseCount)
    e.Sample("sdsmart_erase_count_min", *c.MinEraseCount, Label("source", "table"));
  if (!NeverWritten16(c.MinEraseCountHeader))
    e.Sample("sdsmart_erase_count_min", c.MinEraseCountHeader, Label("source", "header"));
  e.Header("sdsmart_erase_count_max", "gauge", "Largest erase count of a virtual block.");
  if (c.MaxEraseCount)
    e.Sample("sdsmart_erase_count_max", *c.MaxEraseCount, Label("source", "table"));
  if (!NeverWritten16(c.MaxEraseCountHeader))
    e.Sample("sdsmart_erase_count_max", c.MaxEraseCountHeader, Label("source", "header"));
  e.Metric("sdsmart_erase_count_offset", "gauge",
           "Offset the card adds to every per-block erase count.", c.EraseCountOffset);
  if (!NeverWritten(c.TotalVbCount))
    e.Metric("sdsmart_virtual_blocks", "gauge", "Virtual blocks of the flash.", c.TotalVbCount);
  e.Metric("sdsmart_physical_blocks", "gauge", "Physical blocks of the flash.",
           c.TotalPhysicalBlocks);
  e.Header("sdsmart_bad_blocks", "gauge",
           "Bad physical blocks, found at manufacture or later in use.");
  if (!NeverWritten16(c.InitialBadBlocks))
    e.Sample("sdsmart_bad_blocks", c.InitialBadBlocks, Label("kind", "initial"));
  e.Sample("sdsmart_bad_blocks", c.LaterBadBlocks, Label("kind", "later"));
  e.Metric("sdsmart_spare_blocks_min", "gauge", "Smallest count of spare physical blocks.",
           c.MinSpareBlocks);
  if (!NeverWritten(c.PowerCycles))
    e.Metric("sdsmart_power_cycles_total", "counter", "Power cycles of the card.", c.PowerCycles);
  if (!NeverWritten(c.AbnormalShutdowns))
    e.Metric("sdsmart_abnormal_shutdowns_total", "counter",
             "Power losses without an orderly shutdown.", c.AbnormalShutdowns);
  if (c.EccUncorrectable)
    e.Metric("sdsmart_ecc_uncorrectable_errors_total", "counter", "Uncorrectable ECC errors.",
             *c.EccUncorrectable);
  e.Metric("sdsmart_write_protected", "gauge", "1 when the card reports itself write-protected.",
           c.WriteProtectStatus ? 1 : 0);
  if (d.EraseTableRead && c.PeCycleCount != 0)
    WearHistogram(e, d.EraseCounts, c.PeCycleCount);
  return e.Text();
}

namespace {

struct Family {
  std::string Name, Help, Type, Samples;
};

// A histogram's _bucket, _sum and _count samples belong to its family.
std::string FamilyOf(const std::string &sample, const std::vector<Family> &families) {
  for (const Family &f : families)
    if (f.Type.find(" histogram") != std::string::npos &&
        sample.compare(0, f.Name.size(), f.Name) == 0) {
      std::string suffix = sample.substr(f.Name.size());
      if (suffix == "_bucket" || suffix == "_sum" || suffix == "_count")
        return f.Name;
    }
  return sample;
}

} // namespace

std::string MergePrometheus(const std::vector<std::string> &texts) {
  std::vector<Family> families;
  auto family = [&](const std::string &name) -> Family & {
    for (Family &f : families)
      if (f.Name == name)
        return f;
    return families.emplace_back(Family{name, "", "", ""});
  };
  for (const std::string &text : texts) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      bool help = line.compare(0, 7, "# HELP ") == 0, type = line.compare(0, 7, "# TYPE ") == 0;
      if (help || type) {
        Family &f = family(line.substr(7, line.find(' ', 7) - 7));
        std::string &head = help ? f.Help : f.Type;
        if (head.empty())
          head = line + "\n";
      } else if (!line.empty() && line[0] != '#') {
        family(FamilyOf(line.substr(0, line.find_first_of("{ ")), families)).Samples += line + "\n";
      }
    }
  }
  std::string out;
  for (const Family &f : families)
    out += f.Help + f.Type + f.Samples;
  return out;
}

} // namespace sdsmart_tool
