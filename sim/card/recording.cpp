// SPDX-License-Identifier: MIT
#include "card/recording.h"

#include <stdexcept>

namespace sdsim {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string &what) {
  throw std::runtime_error("sdsim recording: " + what);
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Base64 without its trailing zero bytes, back to `length` bytes.
std::vector<std::uint8_t> Data(const Json &line, const char *key, std::size_t length) {
  if (!line.contains(key))
    return {};
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int held = 0;
  for (char c : line[key].get<std::string>()) {
    if (c == '=')
      break;
    const int d = Base64Digit(c);
    if (d < 0)
      Fail(std::string("bad base64 in \"") + key + "\"");
    bits = bits << 6 | static_cast<std::uint32_t>(d);
    if ((held += 6) >= 8) {
      held -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> held));
    }
  }
  if (out.size() > length)
    Fail(std::string("\"") + key + "\" holds more than the request's length");
  out.resize(length, 0);
  return out;
}

std::vector<std::uint8_t> Hex(const std::string &text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return out;
}

RecordedStep Step(const Json &line) {
  RecordedStep s;
  s.Result = line.at("rc").get<int>();
  s.Error = line.at("errno").get<int>();
  if (line.contains("sg")) {
    const Json &r = line["sg"];
    s.Kind = StepKind::Scsi;
    s.Cdb = Hex(r.at("cdb").get<std::string>());
    s.Direction = r.at("dir").get<int>();
    s.Length = r.at("len").get<std::uint32_t>();
    s.SenseMax = r.at("sense_max").get<unsigned>();
    s.Out = Data(r, "out", s.Length);
    s.Status = line.at("status").get<unsigned>();
    s.MaskedStatus = line.at("masked_status").get<unsigned>();
    s.MsgStatus = line.at("msg_status").get<unsigned>();
    s.HostStatus = line.at("host_status").get<unsigned>();
    s.DriverStatus = line.at("driver_status").get<unsigned>();
    s.Resid = line.at("resid").get<int>();
    s.Info = line.at("info").get<unsigned>();
    s.Sense = Hex(line.at("sense").get<std::string>());
  } else if (line.contains("mmc")) {
    const Json &r = line["mmc"];
    s.Kind = StepKind::Mmc;
    s.Opcode = r.at("opcode").get<std::uint32_t>();
    s.Arg = r.at("arg").get<std::uint32_t>();
    s.Flags = r.at("flags").get<std::uint32_t>();
    s.BlockSize = r.at("blksz").get<std::uint32_t>();
    s.Blocks = r.at("blocks").get<std::uint32_t>();
    s.WriteFlag = r.at("write").get<int>();
    s.AppCommand = r.at("acmd").get<int>();
    s.Length = s.BlockSize * s.Blocks;
    s.Out = Data(r, "out", s.Length);
    s.Response = line.at("response").get<std::array<std::uint32_t, 4>>();
  } else if (line.contains("file")) {
    const Json &r = line["file"];
    s.Kind = r.at("op").get<std::string>() == "write" ? StepKind::FileWrite : StepKind::FileRead;
    s.Offset = r.at("offset").get<std::uint64_t>();
    s.Length = r.at("len").get<std::uint32_t>();
    s.Out = Data(r, "out", s.Length);
  } else {
    Fail("a line that is no request");
  }
  s.In = Data(line, "in", s.Length);
  return s;
}

Json Line(const std::string &text, std::size_t &pos, std::size_t number) {
  const std::size_t end = text.find('\n', pos);
  const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
  pos = end == std::string::npos ? text.size() : end + 1;
  try {
    return Json::parse(line);
  } catch (const Json::exception &e) {
    Fail("line " + std::to_string(number) + ": " + e.what());
  }
}

} // namespace

bool IsRecording(const std::string &text) { return text.rfind("{\"sdsmart_recording\":", 0) == 0; }

Json RecordingCard(const std::string &text) {
  std::size_t pos = 0;
  const Json head = Line(text, pos, 1);
  if (head.value("sdsmart_recording", 0) != 1)
    Fail("not a recording of format 1");
  const Json &c = head.at("card");
  Json card = {{"node", c.at("node")},
               {"capacity_sectors", c.at("capacity_sectors")},
               {"addressing", c.at("addressing")},
               {"entry", kEntryMarker}};
  // A reading without the vendor path read no sector 0: the card's default.
  if (!c.at("sector0").is_null())
    card["sector0"] = c["sector0"];
  if (c.contains("mount") && c["mount"].is_object())
    card["mount"] = {{"point", "auto"},
                     {"fstype", c["mount"].at("fstype")},
                     {"options", c["mount"].at("options")}};
  if (c.value("transport", "") == "native") {
    card["rca"] = c.at("rca");
    card["mmc_host"] = c.at("mmc_host");
    const Json &r = c.at("registers");
    // An eMMC has no SCR: its card keeps the default of its kind.
    for (auto [name, field] : {std::pair{"cid", "CID"}, {"csd", "CSD"}, {"scr", "SCR"}})
      if (!r.at(name).get<std::string>().empty())
        card["header"][field] = r[name];
    for (const char *name : {"ssr", "ocr"})
      if (r.contains(name))
        card[name] = r[name];
  }
  if (c.contains("emmc")) {
    card["sysfs"] = {{"kind", "emmc"}};
    card["emmc"] = c["emmc"];
  }
  return card;
}

std::shared_ptr<const ReplayScript> RecordingSteps(const std::string &text) {
  std::size_t pos = 0;
  // A reading without the vendor path sent no request: the card answers
  // as a card of its kind would.
  if (Line(text, pos, 1).at("card").contains("health_source"))
    return nullptr;
  auto script = std::make_shared<ReplayScript>();
  for (std::size_t number = 2; pos < text.size(); ++number) {
    const Json line = Line(text, pos, number);
    try {
      script->Steps.push_back(Step(line));
    } catch (const Json::exception &e) {
      Fail("line " + std::to_string(number) + ": " + e.what());
    }
  }
  return script;
}

} // namespace sdsim
