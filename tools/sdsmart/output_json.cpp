#include "output.h"

#include <cmath>

namespace sdsmart_tool {
namespace {

using nlohmann::json;

json Number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json Table(const std::vector<uint32_t> &values) {
  json a = json::array();
  for (uint32_t v : values)
    a.push_back(v <= kLargestCountedValue ? json(v) : json(nullptr));
  return a;
}

} // namespace

json BuildJson(const RunRecord &run) {
  json j;
  j["json_format_version"] = {kJsonFormatMajor, kJsonFormatMinor};
  json tool;
  tool["name"] = "sdsmart";
  tool["version"] = SDSMART_TOOL_VERSION;
  tool["argv"] = run.argv;
  json messages = json::array();
  for (const Message &m : run.messages)
    messages.push_back({{"severity", m.severity}, {"string", m.text}});
  tool["messages"] = messages;
  tool["exit_status"] = run.exit_status;
  j["sdsmart"] = tool;

  if (!run.device.empty())
    j["device"] = {{"name", run.device}, {"transport", TransportOf(run.device)}};
  if (run.error)
    j["error"] = {{"code", run.error->code}, {"message", run.error->message}};
  if (!run.card)
    return j;

  const CardData &d = *run.card;
  const CardIdentity &id = d.identity;
  const CardCounters &c = d.counters;
  json card;
  card["manufacturer"] = id.manufacturer;
  card["header_version"] = id.header_version;
  card["registers_present"] = id.registers_present;
  if (id.registers_present) {
    card["manufacturer_id"] = id.manufacturer_id;
    card["oem_id"] = id.oem_id;
    card["product_name"] = id.product_name;
    card["customized_id"] = id.oem_product;
    card["product_revision"] = id.product_revision;
    card["serial_number"] = id.serial_number;
    card["manufacturing_date"] = id.manufacturing_date;
    card["capacity_bytes"] = id.capacity_bytes;
    card["cid"] = HexBytes(id.cid);
    card["csd"] = HexBytes(id.csd);
    card["scr"] = HexBytes(id.scr);
  }
  card["firmware_version"] = id.firmware_version;
  card["hardware_version"] = id.hardware_version;
  card["mp_version"] = id.mp_version;
  card["library_version"] = id.library_version;
  card["flash_id"] = id.flash_id;
  card["flash_maker"] = id.flash_maker;
  card["flash_type"] = id.flash_type;
  card["client_mark"] = id.client_mark;
  j["card"] = card;

  if (run.health) {
    json reasons = json::array();
    for (const std::string &r : run.health->reasons)
      reasons.push_back(r);
    j["smart_status"] = {{"passed", run.health->verdict != Verdict::Failed},
                         {"verdict", VerdictName(run.health->verdict)},
                         {"reasons", reasons}};
  }
  j["life"] = {{"remaining_percent", Number(c.remaining_life_percent)},
               {"used_percent", Number(c.life_used_percent)},
               {"rated_pe_cycles", c.pe_cycle_count}};
  json distribution = json::array();
  for (const Region &r : run.distribution)
    distribution.push_back({{"low", r.low}, {"high", r.high}, {"vbs", r.vbs}});
  j["erase_count"] = {{"total", c.total_erase_count},
                      {"average", c.average_erase_count},
                      {"min", c.min_erase_count},
                      {"max", c.max_erase_count},
                      {"min_from_header", c.min_erase_count_header},
                      {"max_from_header", c.max_erase_count_header},
                      {"offset", c.erase_count_offset},
                      {"distribution", distribution}};
  j["blocks"] = {{"virtual_blocks", c.total_vb_count},
                 {"blocks_per_vb", c.blocks_per_vb},
                 {"physical_blocks", c.total_physical_blocks},
                 {"initial_bad", c.initial_bad_blocks},
                 {"later_bad", c.later_bad_blocks},
                 {"min_spare", c.min_spare_blocks},
                 {"chip_enables", c.total_ce_count}};
  j["power"] = {{"cycles", c.power_cycles}, {"abnormal_shutdowns", c.abnormal_shutdowns}};
  j["ecc"] = {{"capacity", c.ecc_capacity}, {"uncorrectable", c.ecc_uncorrectable}};
  j["write_protect_status"] = c.write_protect_status;
  j["per_vb_erase_counts"] = Table(d.erase_counts);
  j["per_vb_read_counts"] = Table(d.read_counts);
  return j;
}

} // namespace sdsmart_tool
