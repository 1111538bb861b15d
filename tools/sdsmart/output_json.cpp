#include "output.h"

#include <cmath>

namespace sdsmart_tool {
namespace {

using json = Json;

json Number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json Table(const std::vector<uint32_t> &values) {
  json a = json::array();
  for (uint32_t v : values)
    a.push_back(v <= kLargestCountedValue ? json(v) : json(nullptr));
  return a;
}

json CardJson(const CardIdentity &id) {
  json card;
  card["manufacturer"] = id.Manufacturer;
  card["registers_present"] = id.RegistersPresent;
  if (id.RegistersPresent) {
    card["manufacturer_id"] = id.ManufacturerId;
    card["oem_id"] = id.OemId;
    card["product_name"] = id.ProductName;
    card["customized_id"] = id.OemProduct;
    card["product_revision"] = id.ProductRevision;
    card["serial_number"] = id.SerialNumber;
    card["manufacturing_date"] = id.ManufacturingDate;
    card["capacity_bytes"] = id.CapacityBytes;
    card["cid"] = HexBytes(id.Cid);
    card["csd"] = HexBytes(id.Csd);
    card["scr"] = HexBytes(id.Scr);
  }
  card["firmware_version"] = id.FirmwareVersion;
  card["hardware_version"] = id.HardwareVersion;
  card["mp_version"] = id.MpVersion;
  card["library_version"] = id.LibraryVersion;
  card["flash_id"] = id.FlashId;
  card["flash_maker"] = id.FlashMaker;
  card["flash_type"] = id.FlashType;
  card["client_mark"] = id.ClientMark;
  card["header_version"] = id.HeaderVersion;
  return card;
}

} // namespace

Json BuildJson(const RunRecord &run) {
  json j;
  j["json_format_version"] = {kJsonFormatMajor, kJsonFormatMinor};
  json tool;
  tool["name"] = "sdsmart";
  tool["version"] = SDSMART_TOOL_VERSION;
  tool["argv"] = run.Argv;
  json messages = json::array();
  for (const Message &m : run.Messages)
    messages.push_back({{"severity", m.Severity}, {"string", m.Text}});
  tool["messages"] = messages;
  tool["exit_status"] = run.ExitStatus;
  j["sdsmart"] = tool;

  if (!run.Device.empty())
    j["device"] = {{"name", run.Device}, {"transport", TransportOf(run.Device)}};
  if (run.Error)
    j["error"] = {{"code", run.Error->Code}, {"message", run.Error->Message}};
  if (run.Sector0Intact)
    j["sector0"] = {{"intact", *run.Sector0Intact}};
  if (!run.Card)
    return j;

  const CardData &d = *run.Card;
  const CardCounters &c = d.Counters;
  j["card"] = CardJson(d.Identity);

  if (run.Health) {
    json reasons = json::array();
    for (const std::string &r : run.Health->Reasons)
      reasons.push_back(r);
    j["smart_status"] = {{"passed", run.Health->Status != Verdict::Failed},
                         {"verdict", VerdictName(run.Health->Status)},
                         {"reasons", reasons}};
  }
  j["life"] = {{"remaining_percent", Number(c.RemainingLifePercent)},
               {"used_percent", Number(c.LifeUsedPercent)},
               {"rated_pe_cycles", c.PeCycleCount}};
  j["write_protect_status"] = c.WriteProtectStatus;
  json distribution = json::array();
  for (const Region &r : run.Distribution)
    distribution.push_back({{"low", r.Low}, {"high", r.High}, {"vbs", r.Vbs}});
  j["erase_count"] = {{"total", c.TotalEraseCount},
                      {"average", c.AverageEraseCount},
                      {"min", c.MinEraseCount},
                      {"max", c.MaxEraseCount},
                      {"min_from_header", c.MinEraseCountHeader},
                      {"max_from_header", c.MaxEraseCountHeader},
                      {"offset", c.EraseCountOffset},
                      {"distribution", distribution}};
  j["blocks"] = {{"virtual_blocks", c.TotalVbCount},
                 {"blocks_per_vb", c.BlocksPerVb},
                 {"physical_blocks", c.TotalPhysicalBlocks},
                 {"initial_bad", c.InitialBadBlocks},
                 {"later_bad", c.LaterBadBlocks},
                 {"min_spare", c.MinSpareBlocks},
                 {"chip_enables", c.TotalCeCount}};
  j["power"] = {{"cycles", c.PowerCycles}, {"abnormal_shutdowns", c.AbnormalShutdowns}};
  j["ecc"] = {{"uncorrectable", c.EccUncorrectable}, {"capacity", c.EccCapacity}};
  j["per_vb_erase_counts"] = Table(d.EraseCounts);
  j["per_vb_read_counts"] = Table(d.ReadCounts);
  return j;
}

std::string JsonText(const Json &document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace sdsmart_tool
