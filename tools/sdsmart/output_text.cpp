#include "output.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace sdsmart_tool {
namespace {

class Section {
public:
  explicit Section(std::ostringstream &out, const std::string &title) : out_(out) {
    out_ << "\n=== " << title << " ===\n";
  }
  void Row(const std::string &label, const std::string &value) {
    std::string l = label + ":";
    if (l.size() < 26)
      l.resize(26, ' ');
    else
      l += ' ';
    out_ << l << value << "\n";
  }

private:
  std::ostringstream &out_;
};

std::string Num(uint64_t v) {
  // Thousands separated by commas, as the reports of other disk tools do.
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0)
      out += ',';
    out += digits[i];
  }
  return out;
}

std::string Pct(double v) {
  if (std::isnan(v))
    return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %%", v);
  return text;
}

std::string Hex(uint64_t v, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llx", width, static_cast<unsigned long long>(v));
  return text;
}

std::string TransportText(const std::string &t) {
  return t == "mmc" ? "native SD host (MMC block ioctl)" : "USB card reader (SCSI pass-through)";
}

} // namespace

std::string RenderHealthOnly(const RunRecord &run) {
  std::ostringstream out;
  if (!run.health)
    return "";
  out << "SMART overall-health self-assessment: " << VerdictName(run.health->verdict) << "\n";
  for (const std::string &why : run.health->reasons)
    out << "  - " << why << "\n";
  return out.str();
}

std::string RenderReport(const RunRecord &run, const ReportStyle &style) {
  std::ostringstream out;
  if (!run.card)
    return "";
  const CardData &d = *run.card;
  const CardIdentity &id = d.identity;
  const CardCounters &c = d.counters;

  Section dev(out, "Device");
  dev.Row("Device", Printable(d.device));
  dev.Row("Transport", TransportText(d.transport));

  Section ident(out, "Card identity");
  ident.Row("Manufacturer", Printable(id.manufacturer));
  if (id.registers_present) {
    char mid[16];
    std::snprintf(mid, sizeof mid, "0x%02x", id.manufacturer_id);
    ident.Row("CID manufacturer ID", mid);
    ident.Row("OEM ID", Printable(id.oem_id));
    ident.Row("Product name", Printable(id.product_name));
    char rev[32];
    std::snprintf(rev, sizeof rev, "%u.%u (0x%02x)", id.product_revision >> 4,
                  id.product_revision & 15, id.product_revision);
    ident.Row("Product revision", rev);
    ident.Row("Serial number", Hex(id.serial_number, 8));
    ident.Row("Manufacturing date", Printable(id.manufacturing_date));
    ident.Row("Capacity (CSD)", id.capacity_bytes ? Num(id.capacity_bytes) + " bytes [" +
                                                        HumanBytes(id.capacity_bytes) + "]"
                                                  : "unknown");
    ident.Row("CID", HexBytes(id.cid));
    ident.Row("CSD", HexBytes(id.csd));
    ident.Row("SCR", HexBytes(id.scr));
  } else {
    ident.Row("Card registers", "not carried by this header version");
  }
  ident.Row("Firmware version", Printable(id.firmware_version));
  ident.Row("Hardware version", Printable(id.hardware_version));
  ident.Row("MP version", Printable(id.mp_version));
  ident.Row("Library version", Printable(id.library_version));
  ident.Row("Flash ID", Printable(id.flash_id));
  ident.Row("Flash maker", Printable(id.flash_maker));
  ident.Row("Flash type", Printable(id.flash_type));
  if (!id.client_mark.empty())
    ident.Row("Client mark", Printable(id.client_mark));
  ident.Row("SMART header version", std::to_string(id.header_version));

  Section health(out, "Health");
  if (run.health) {
    health.Row("SMART overall health", VerdictName(run.health->verdict));
    for (const std::string &why : run.health->reasons)
      health.Row("  reason", why);
  }
  health.Row("Remaining life", Pct(c.remaining_life_percent));
  health.Row("Life used",
             Pct(c.life_used_percent) + " of " + Num(c.pe_cycle_count) + " rated P/E cycles");
  health.Row("Write protected", c.write_protect_status
                                    ? "yes (status " + std::to_string(c.write_protect_status) + ")"
                                    : "no");

  Section erase(out, "Erase counts");
  erase.Row("Total erases", Num(c.total_erase_count) + " (physical blocks)");
  erase.Row("Average per VB", Num(c.average_erase_count));
  erase.Row("Min / max (table)", Num(c.min_erase_count) + " / " + Num(c.max_erase_count));
  erase.Row("Min / max (header)",
            Num(c.min_erase_count_header) + " / " + Num(c.max_erase_count_header));
  erase.Row("Erase-count offset", Num(c.erase_count_offset));

  Section blocks(out, "Blocks");
  blocks.Row("Virtual blocks (VB)", Num(c.total_vb_count) + " x " + Num(c.blocks_per_vb) + " = " +
                                        Num(c.total_physical_blocks) + " physical blocks");
  blocks.Row("Initial bad blocks", Num(c.initial_bad_blocks));
  blocks.Row("Later bad blocks", Num(c.later_bad_blocks));
  blocks.Row("Min spare blocks", Num(c.min_spare_blocks));
  blocks.Row("Total CE count", Num(c.total_ce_count));

  Section power(out, "Power and errors");
  power.Row("Power cycles", Num(c.power_cycles));
  power.Row("Abnormal shutdowns", Num(c.abnormal_shutdowns));
  power.Row("Uncorrectable ECC", Num(c.ecc_uncorrectable));
  power.Row("ECC capacity", Num(c.ecc_capacity));

  size_t used = 0;
  for (uint32_t v : d.erase_counts)
    used += v <= kLargestCountedValue;
  out << "\n=== Erase-count distribution (" << Num(used) << " of " << Num(d.erase_counts.size())
      << " VBs in use) ===\n";
  if (run.distribution.empty()) {
    out << "  no per-VB erase counts were read\n";
  } else {
    for (const std::string &line : DrawBarChart(run.distribution, style.width, style.glyph))
      out << line << "\n";
  }
  return out.str();
}

} // namespace sdsmart_tool
