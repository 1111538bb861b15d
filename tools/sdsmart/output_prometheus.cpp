#include "output.h"

#include <cmath>
#include <cstdio>
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
  explicit Exposition(std::string device) : device_("device=\"" + LabelValue(device) + "\"") {}

  void Metric(const std::string &name, const char *type, const std::string &help, double value,
              const std::string &labels = "") {
    Header(name, type, help);
    Sample(name, value, labels);
  }
  void Header(const std::string &name, const char *type, const std::string &help) {
    out_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
  }
  void Sample(const std::string &name, double value, const std::string &labels = "") {
    out_ << name << "{" << device_ << labels << "} " << Value(value) << "\n";
  }
  std::string Text() const { return out_.str(); }

private:
  std::string device_;
  std::ostringstream out_;
};

std::string Label(const char *name, const std::string &value) {
  return std::string(",") + name + "=\"" + LabelValue(value) + "\"";
}

} // namespace

std::string RenderPrometheus(const RunRecord &run) {
  Exposition e(run.device);
  e.Metric("sdsmart_smart_read_success", "gauge",
           "1 when the SMART data of the card could be read.", run.card ? 1 : 0);
  if (!run.card)
    return e.Text();
  const CardData &d = *run.card;
  const CardIdentity &id = d.identity;
  const CardCounters &c = d.counters;

  char serial[16];
  std::snprintf(serial, sizeof serial, "%08x", id.serial_number);
  e.Metric("sdsmart_device_info", "gauge", "Identity of the card; the value is always 1.", 1,
           Label("transport", d.transport) + Label("manufacturer", id.manufacturer) +
               Label("oem_id", id.oem_id) + Label("product_name", id.product_name) +
               Label("serial_number", serial) + Label("manufacturing_date", id.manufacturing_date) +
               Label("firmware_version", id.firmware_version) +
               Label("hardware_version", id.hardware_version) + Label("mp_version", id.mp_version) +
               Label("flash_id", id.flash_id) + Label("flash_maker", id.flash_maker) +
               Label("flash_type", id.flash_type) + Label("library_version", id.library_version));
  if (run.health)
    e.Metric("sdsmart_smart_healthy", "gauge", "1 unless the health verdict is FAILED.",
             run.health->verdict == Verdict::Failed ? 0 : 1);
  if (run.health)
    e.Metric("sdsmart_smart_warning", "gauge", "1 when the health verdict is WARNING.",
             run.health->verdict == Verdict::Warning ? 1 : 0);
  e.Metric("sdsmart_capacity_bytes", "gauge", "User capacity of the card from its CSD register.",
           static_cast<double>(id.capacity_bytes));
  e.Metric("sdsmart_remaining_life_ratio", "gauge",
           "Remaining share of the rated endurance (may be below 0).",
           static_cast<double>(c.remaining_life_percent) / 100.0);
  e.Metric("sdsmart_life_used_ratio", "gauge", "Used share of the rated endurance (may exceed 1).",
           c.life_used_percent / 100.0);
  e.Metric("sdsmart_rated_pe_cycles", "gauge", "Rated program/erase cycles of the flash.",
           c.pe_cycle_count);
  e.Metric("sdsmart_block_erases_total", "counter",
           "Erases of physical blocks over the card's life.", c.total_erase_count);
  e.Metric("sdsmart_erase_count_average", "gauge", "Average erase count of a virtual block.",
           c.average_erase_count);
  e.Header("sdsmart_erase_count_min", "gauge", "Smallest erase count of a virtual block.");
  e.Sample("sdsmart_erase_count_min", c.min_erase_count, Label("source", "table"));
  e.Sample("sdsmart_erase_count_min", c.min_erase_count_header, Label("source", "header"));
  e.Header("sdsmart_erase_count_max", "gauge", "Largest erase count of a virtual block.");
  e.Sample("sdsmart_erase_count_max", c.max_erase_count, Label("source", "table"));
  e.Sample("sdsmart_erase_count_max", c.max_erase_count_header, Label("source", "header"));
  e.Metric("sdsmart_erase_count_offset", "gauge",
           "Offset the card adds to every per-block erase count.", c.erase_count_offset);
  e.Metric("sdsmart_virtual_blocks", "gauge", "Virtual blocks of the flash.", c.total_vb_count);
  e.Metric("sdsmart_physical_blocks", "gauge", "Physical blocks of the flash.",
           c.total_physical_blocks);
  e.Header("sdsmart_bad_blocks", "gauge",
           "Bad physical blocks, found at manufacture or later in use.");
  e.Sample("sdsmart_bad_blocks", c.initial_bad_blocks, Label("kind", "initial"));
  e.Sample("sdsmart_bad_blocks", c.later_bad_blocks, Label("kind", "later"));
  e.Metric("sdsmart_spare_blocks_min", "gauge", "Smallest count of spare physical blocks.",
           c.min_spare_blocks);
  e.Metric("sdsmart_power_cycles_total", "counter", "Power cycles of the card.", c.power_cycles);
  e.Metric("sdsmart_abnormal_shutdowns_total", "counter",
           "Power losses without an orderly shutdown.", c.abnormal_shutdowns);
  e.Metric("sdsmart_ecc_uncorrectable_errors_total", "counter", "Uncorrectable ECC errors.",
           c.ecc_uncorrectable);
  e.Metric("sdsmart_write_protected", "gauge", "1 when the card reports itself write-protected.",
           c.write_protect_status ? 1 : 0);
  if (!run.distribution.empty()) {
    e.Header("sdsmart_erase_count_distribution_vbs", "gauge",
             "Virtual blocks whose erase count lies in the range low..high.");
    for (const Region &r : run.distribution)
      e.Sample("sdsmart_erase_count_distribution_vbs", r.vbs,
               Label("low", std::to_string(r.low)) + Label("high", std::to_string(r.high)));
  }
  return e.Text();
}

} // namespace sdsmart_tool
