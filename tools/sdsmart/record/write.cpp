// SPDX-License-Identifier: MIT
// The recording file: JSON lines. The first line describes the recording,
// the card and the run; each further line is one request and its answer, in
// the order they were sent. Data are base64 without their trailing zero
// bytes (the request's length says how many there were), which keeps the
// largest card's recording well under a megabyte.
#include "record/record.h"

#include <sdsmart/sdsmart.h>

namespace sdsmart_tool {
namespace {

constexpr int kRecordingFormat = 1;

std::string Base64(const std::vector<uint8_t> &data) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t n = data.size();
  while (n > 0 && data[n - 1] == 0)
    --n;
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (size_t i = 0; i < n; i += 3) {
    const uint32_t v = uint32_t{data[i]} << 16 | (i + 1 < n ? uint32_t{data[i + 1]} << 8 : 0) |
                       (i + 2 < n ? data[i + 2] : 0);
    out += digits[v >> 18 & 63];
    out += digits[v >> 12 & 63];
    out += i + 1 < n ? digits[v >> 6 & 63] : '=';
    out += i + 2 < n ? digits[v & 63] : '=';
  }
  return out;
}

Json CardLine(const RecordedCard &c) {
  Json card;
  card["node"] = c.Node;
  card["transport"] = c.Transport == CardTransport::NativeHost ? "native" : "usb";
  // Absent: the vendor path (recordings older than the read-only ones).
  const bool vendor = c.Source == HealthSource::VendorSmart;
  if (!vendor)
    card["health_source"] = HealthSourceKey(c.Source);
  card["capacity_sectors"] = c.CapacitySectors;
  card["addressing"] = c.ByteAddressed ? "byte" : "block";
  // A reading without the vendor path never reads sector 0.
  card["sector0"] = vendor ? Json(HexBytes({c.Sector0.begin(), c.Sector0.end()})) : Json(nullptr);
  card["mount"] =
      c.Mounted ? Json{{"fstype", c.MountFsType}, {"options", c.MountOptions}} : Json(nullptr);
  if (c.Transport == CardTransport::NativeHost) {
    card["rca"] = c.Rca;
    card["mmc_host"] = c.MmcHost;
    card["registers"] = {
        {"cid", HexBytes(c.Cid)}, {"csd", HexBytes(c.Csd)}, {"scr", HexBytes(c.Scr)}};
    if (!c.Ssr.empty())
      card["registers"]["ssr"] = HexBytes(c.Ssr);
    if (!c.Ocr.empty())
      card["registers"]["ocr"] = Printable(c.Ocr);
  } else {
    card["reader"] = {{"usb_id", c.ReaderUsbId},
                      {"vendor", Printable(c.ReaderVendor)},
                      {"model", Printable(c.ReaderModel)},
                      {"serial", Printable(c.ReaderSerial)}};
  }
  if (c.Emmc)
    card["emmc"] = {{"life_time", {c.Emmc->LifeA, c.Emmc->LifeB}},
                    {"pre_eol", c.Emmc->PreEol},
                    {"sysfs_life", c.Emmc->From == "sysfs"}};
  return card;
}

// What docs/cards.md lists of the card: the SMART header's model, or for a
// reading without it the model as sysfs names it.
Json ModelLine(const RecordedCard &c, const RunRecord &run) {
  if (c.Source != HealthSource::VendorSmart)
    return {{"type", Printable(c.Type)},
            {"name", Printable(c.Name)},
            {"manfid", Printable(c.ManfId)},
            {"oemid", Printable(c.OemId)},
            {"date", Printable(c.Date)}};
  if (!run.Card)
    return nullptr;
  const CardIdentity &id = run.Card->Identity;
  return {{"manufacturer", id.Manufacturer},
          {"hardware_version", id.HardwareVersion},
          {"firmware_version", id.FirmwareVersion},
          {"mp_version", id.MpVersion},
          {"flash_id", id.FlashId},
          {"flash_maker", id.FlashMaker},
          {"flash_type", id.FlashType},
          {"header_version", id.HeaderVersion},
          {"capacity_bytes", id.CapacityBytes}};
}

Json RequestLine(const RecordedRequest &q) {
  Json line;
  if (q.Kind == SDSMART_TRANSFER_SG_IO) {
    line["sg"] = {{"cdb", HexBytes(q.Cdb)},
                  {"dir", q.Direction},
                  {"len", q.Length},
                  {"sense_max", q.SenseMax}};
  } else if (q.Kind == SDSMART_TRANSFER_MMC_CMD) {
    line["mmc"] = {{"opcode", q.Opcode},   {"arg", q.Arg},       {"flags", q.Flags},
                   {"blksz", q.BlockSize}, {"blocks", q.Blocks}, {"write", q.WriteFlag},
                   {"acmd", q.AppCommand}};
  } else {
    line["file"] = {{"op", q.Kind == SDSMART_TRANSFER_FILE_WRITE ? "write" : "read"},
                    {"offset", q.Offset},
                    {"len", q.Length}};
  }
  Json &request = line.begin().value();
  if (!q.Out.empty())
    request["out"] = Base64(q.Out);
  line["rc"] = q.Result;
  line["errno"] = q.Error;
  if (q.Kind == SDSMART_TRANSFER_SG_IO) {
    line["status"] = q.Status;
    line["masked_status"] = q.MaskedStatus;
    line["msg_status"] = q.MsgStatus;
    line["host_status"] = q.HostStatus;
    line["driver_status"] = q.DriverStatus;
    line["resid"] = q.Resid;
    line["info"] = q.Info;
    line["sense"] = HexBytes(q.Sense);
  } else if (q.Kind == SDSMART_TRANSFER_MMC_CMD) {
    line["response"] = q.Response;
  }
  if (!q.In.empty())
    line["in"] = Base64(q.In);
  return line;
}

} // namespace

std::string RecordingText(const Recording &r, const RunRecord &run) {
  Json head;
  head["sdsmart_recording"] = kRecordingFormat;
  head["redacted"] = !r.Raw;
  head["tool_version"] = SDSMART_TOOL_VERSION;
  head["library_version"] = Printable(GetLibraryVersion());
  // The vendor path's configuration and result; none for a reading
  // without it, which never called the library.
  const bool vendor = r.Card.Source == HealthSource::VendorSmart;
  head["vendor"] = vendor ? Json(_AuthorCode) : Json(nullptr);
  head["smart_version"] = vendor ? Json(_SmartVerSupport) : Json(nullptr);
  head["select"] = vendor ? Json(_FuncSel) : Json(nullptr);
  head["card"] = CardLine(r.Card);
  head["model"] = ModelLine(r.Card, run);
  head["result"] = vendor
                       ? Json{{"code", GetErrorCode()}, {"message", Printable(GetErrorMessage())}}
                       : Json(nullptr);
  head["requests"] = r.Requests.size();
  std::string text = head.dump() + "\n";
  for (const RecordedRequest &q : r.Requests)
    text += RequestLine(q).dump() + "\n";
  return text;
}

} // namespace sdsmart_tool
