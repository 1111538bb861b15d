// SPDX-License-Identifier: MIT
#include "output/output.h"

#include <cmath>

namespace sdsmart_tool {
namespace {

using json = Json;

template <typename T> json Optional(const std::optional<T> &v) {
  return v ? json(*v) : json(nullptr);
}

// null for a table this run did not read.
json Table(const std::vector<uint32_t> &values, bool read) {
  if (!read)
    return nullptr;
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
    // The library's text of CID bytes 0..7 where it is printable, else
    // their hex.
    std::vector<uint8_t> oemProduct(id.Cid.begin(), id.Cid.begin() + 8);
    bool text = !id.OemProduct.empty() && Printable(id.OemProduct) == id.OemProduct;
    card["customized_id"] = text ? id.OemProduct : HexBytes(oemProduct);
    card["product_revision"] = id.ProductRevision;
    card["serial_number"] = id.SerialNumber;
    card["manufacturing_date"] = id.ManufacturingDate;
    // 0: the CSD does not decode; not read, never a capacity of 0.
    card["capacity_bytes"] = id.CapacityBytes ? json(id.CapacityBytes) : json(nullptr);
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

json StatusJson(const HealthResult &health) {
  json reasons = json::array(), notRead = json::array();
  for (const std::string &r : health.Reasons)
    reasons.push_back(r);
  for (const std::string &r : health.NotRead)
    notRead.push_back(r);
  return {{"passed", health.Status != Verdict::Failed},
          {"verdict", VerdictName(health.Status)},
          {"reasons", reasons},
          {"not_read", notRead}};
}

// A life band as the standard counts it: the raw value, and the share used
// as a range; null bounds for a value not reported or reserved.
json BandJson(uint8_t value) {
  const std::optional<LifeBand> band = BandOf(value);
  return {{"value", value},
          {"used_from_percent", band ? json(band->UsedFrom) : json(nullptr)},
          {"used_to_percent", band ? Optional(band->UsedTo) : json(nullptr)},
          {"text", BandText(value)}};
}

json EmmcJson(const EmmcLife &life) {
  return {{"from", life.From},
          {"life_time_a", BandJson(life.LifeA)},
          {"life_time_b", BandJson(life.LifeB)},
          {"pre_eol", {{"value", life.PreEol}, {"text", PreEolText(life.PreEol)}}}};
}

json RegistersJson(const CardRegisters &r) {
  auto hex = [](const std::vector<uint8_t> &bytes) {
    return bytes.empty() ? json(nullptr) : json(HexBytes(bytes));
  };
  auto text = [](const std::string &s) { return s.empty() ? json(nullptr) : json(Printable(s)); };
  return {{"cid", hex(r.Cid)},
          {"csd", hex(r.Csd)},
          {"scr", hex(r.Scr)},
          {"ssr", hex(r.Ssr)},
          {"ocr", Optional(r.Ocr)},
          {"manufacturer_id", Optional(r.ManufacturerId)},
          {"oem_id", text(r.OemId)},
          {"product_name", text(r.ProductName)},
          {"product_revision", Optional(r.ProductRevision)},
          {"serial_number", Optional(r.SerialNumber)},
          {"manufacturing_date", text(r.ManufacturingDate)},
          {"capacity_bytes", Optional(r.CapacityBytes)},
          {"node_bytes", Optional(r.NodeBytes)},
          {"speed_class", Optional(r.SpeedClass)},
          {"uhs_speed_grade", Optional(r.UhsSpeedGrade)},
          {"video_speed_class", Optional(r.VideoSpeedClass)},
          {"au_size_bytes", Optional(r.AuSizeBytes)},
          {"preferred_erase_size_bytes", Optional(r.PreferredEraseSize)},
          {"reader",
           {{"vendor", text(r.ReaderVendor)},
            {"model", text(r.ReaderModel)},
            {"serial", text(r.ReaderSerial)}}}};
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
    j["device"] = {{"name", run.Device},
                   {"transport", TransportKey(run.Transport)},
                   {"health_source", HealthSourceKey(run.Source)}};
  if (run.Error)
    j["error"] = {{"code", run.Error->Code}, {"message", run.Error->Message}};
  if (run.Sector0Intact)
    j["sector0"] = {{"intact", *run.Sector0Intact}};
  if (!run.Sector0Restored.empty())
    j["sector0"]["recovered"] = {{"journal_time", run.Sector0Restored}};
  if (run.Registers)
    j["registers"] = RegistersJson(*run.Registers);
  if (run.Emmc) {
    j["emmc"] = EmmcJson(*run.Emmc);
    if (run.Health)
      j["smart_status"] = StatusJson(*run.Health);
  }
  if (!run.Card)
    return j;

  const CardData &d = *run.Card;
  const CardCounters &c = d.Counters;
  j["card"] = CardJson(d.Identity);

  if (run.Health)
    j["smart_status"] = StatusJson(*run.Health);
  json contradictions = json::array();
  for (const std::string &r : run.Contradictions)
    contradictions.push_back(r);
  j["plausibility"] = {{"plausible", run.Contradictions.empty()},
                       {"contradictions", contradictions}};
  std::optional<LifeFigures> life = Life(c);
  j["life"] = {{"remaining_percent", life ? json(life->Remaining) : json(nullptr)},
               {"used_percent", life ? json(life->Used) : json(nullptr)},
               {"rated_pe_cycles", c.PeCycleCount}};
  j["write_protect_status"] = c.WriteProtectStatus;
  json distribution = json::array();
  for (const Region &r : run.Distribution)
    distribution.push_back({{"low", r.Low}, {"high", r.High}, {"vbs", r.Vbs}});
  j["erase_count"] = {{"total", c.TotalEraseCount},
                      {"average", c.AverageEraseCount},
                      {"min", Optional(c.MinEraseCount)},
                      {"max", Optional(c.MaxEraseCount)},
                      {"min_from_header", c.MinEraseCountHeader},
                      {"max_from_header", c.MaxEraseCountHeader},
                      {"offset", c.EraseCountOffset},
                      {"distribution", d.EraseTableRead ? distribution : json(nullptr)}};
  j["blocks"] = {{"virtual_blocks", c.TotalVbCount},
                 {"blocks_per_vb", c.BlocksPerVb},
                 {"physical_blocks", c.TotalPhysicalBlocks},
                 {"initial_bad", c.InitialBadBlocks},
                 {"later_bad", c.LaterBadBlocks},
                 {"min_spare", c.MinSpareBlocks},
                 {"chip_enables", c.TotalCeCount}};
  j["power"] = {{"cycles", c.PowerCycles}, {"abnormal_shutdowns", c.AbnormalShutdowns}};
  j["ecc"] = {{"uncorrectable", Optional(c.EccUncorrectable)}, {"capacity", c.EccCapacity}};
  j["per_vb_erase_counts"] = Table(d.EraseCounts, d.EraseTableRead);
  j["per_vb_read_counts"] = Table(d.ReadCounts, d.ReadTableRead);
  return j;
}

std::string JsonText(const Json &document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace sdsmart_tool
