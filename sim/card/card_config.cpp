// SPDX-License-Identifier: MIT
// The card file: geometry, entry string, sector 0, mount, registers and the
// SMART header fields. The per-VB tables are read in card_tables.cpp.
#include "card/card_config.h"

#include "card/card_json.h"
#include "card/card_registers.h"
#include "card/recording.h"
#include "hooks/real_calls.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace sdsim {
namespace {

std::string Resolve(const std::string &path, const std::string &base) {
  if (path.empty() || path[0] == '/' || base.empty())
    return path;
  return base + "/" + path;
}

template <std::size_t N>
std::array<std::uint8_t, N> HexBytes(const Json &value, const std::string &name) {
  if (!value.is_string())
    FailCardFile(name + " must be a hex string");
  std::string digits;
  for (char ch : value.get<std::string>()) {
    if (std::isxdigit(static_cast<unsigned char>(ch)))
      digits += ch;
    else if (ch != ' ' && ch != ':' && ch != '-')
      FailCardFile(name + " holds a character that is not a hex digit");
  }
  if (digits.size() != 2 * N)
    FailCardFile(name + " must hold " + std::to_string(N) + " bytes");
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  return out;
}

const char *const kNumberFields[] = {"FlashTypeCode",
                                     "PECycleCount",
                                     "BaseVBEntryCount",
                                     "InitialBadBlockCount",
                                     "LaterBadBlockCount",
                                     "MinSpareBlockCount",
                                     "ECCCapacity",
                                     "TotalEraseCount",
                                     "AbnormalShutdownCount",
                                     "PowerCycleCount",
                                     "CECount",
                                     "BlocksPerVB",
                                     "MPVersionMajor",
                                     "MPVersionMinor",
                                     "TotalVBCount",
                                     "VBsPerUnit",
                                     "ExtraVBEntriesPerUnit",
                                     "MinEraseCount",
                                     "MaxEraseCount",
                                     "EraseCountOffset",
                                     "WPStatus",
                                     "HeaderVersion"};

void SetHeaderDefaults(CardConfig &config) {
  config.Numbers = {{"FlashTypeCode", 2},       {"PECycleCount", 3000},
                    {"BaseVBEntryCount", 1024}, {"InitialBadBlockCount", 12},
                    {"LaterBadBlockCount", 0},  {"MinSpareBlockCount", 40},
                    {"ECCCapacity", 72},        {"AbnormalShutdownCount", 3},
                    {"PowerCycleCount", 812},   {"CECount", 2},
                    {"BlocksPerVB", 4},         {"MPVersionMajor", 3},
                    {"MPVersionMinor", 12},     {"TotalVBCount", 4096},
                    {"VBsPerUnit", 1024},       {"ExtraVBEntriesPerUnit", 1024},
                    {"EraseCountOffset", 0},    {"WPStatus", 0},
                    {"HeaderVersion", 2}};
  config.HwVersion = "VC-A100-SDSIM";
  config.FwVersion = "FW1.07.22";
  config.ClientMark = "SDSIM VIRTUAL CARD";
  config.FlashId = {{0x98, 0x3A, 0x98, 0xA3, 0x76, 0x51}};
}

// A numeric header field: true when `key` names one.
bool ParseNumberField(const std::string &key, const Json &value, CardConfig &config) {
  for (const char *name : kNumberFields) {
    if (key != name)
      continue;
    if (value.is_string() && value.get<std::string>() == "auto") {
      config.Numbers.erase(key);
      return true;
    }
    const std::uint64_t n = JsonNumber(value, key);
    if (n > 0xFFFFFFFFull)
      FailCardFile(key + " does not fit its field");
    config.Numbers[key] = static_cast<std::uint32_t>(n);
    return true;
  }
  return false;
}

void ParseOtherField(const std::string &key, const Json &value, CardConfig &config) {
  if (key == "HWVersion" || key == "FWVersion" || key == "ClientMark") {
    if (!value.is_string())
      FailCardFile(key + " must be a string");
    const std::string text = value.get<std::string>();
    const std::size_t limit = key == "ClientMark" ? 356 : 16;
    if (text.size() > limit)
      FailCardFile(key + " is longer than its field");
    (key == "HWVersion"   ? config.HwVersion
     : key == "FWVersion" ? config.FwVersion
                          : config.ClientMark) = text;
  } else if (key == "Signature") {
    if (!value.is_string() || value.get<std::string>().size() != 3)
      FailCardFile("Signature must be 3 characters");
    std::memcpy(config.Signature.data(), value.get<std::string>().data(), 3);
  } else if (key == "FlashID") {
    config.FlashId = HexBytes<6>(value, key);
  } else if (key == "CID") {
    config.Cid = HexBytes<16>(value, key);
  } else if (key == "CSD") {
    config.Csd = HexBytes<16>(value, key);
  } else if (key == "SCR") {
    config.Scr = HexBytes<8>(value, key);
  } else if (key == "UseDetailSectorCountEx") {
    config.UseDetailCountEx = value.get<bool>();
  } else {
    FailCardFile("unknown header field \"" + key + "\"");
  }
}

void ParseHeader(const Json &header, CardConfig &config) {
  SetHeaderDefaults(config);
  if (header.is_null())
    return;
  if (!header.is_object())
    FailCardFile("\"header\" must be an object");
  for (auto it = header.begin(); it != header.end(); ++it)
    if (!ParseNumberField(it.key(), it.value(), config))
      ParseOtherField(it.key(), it.value(), config);
}

void ParseGeometry(const Json &card, CardConfig &config) {
  config.Node = card.at("node").get<std::string>();
  if (config.Node.empty() || config.Node[0] != '/')
    FailCardFile("node must be an absolute path");
  if (card.contains("capacity_bytes")) {
    const std::uint64_t bytes = JsonNumber(card["capacity_bytes"], "capacity_bytes");
    if (bytes % 512)
      FailCardFile("capacity_bytes must be a multiple of 512");
    config.CapacitySectors = bytes / 512;
  } else {
    config.CapacitySectors = JsonNumber(card.at("capacity_sectors"), "capacity_sectors");
  }
  if (config.CapacitySectors < 2 || config.CapacitySectors > 0xFFFFFFFFull)
    FailCardFile("capacity must be 2 to 2^32-1 sectors");
  const std::string addressing = card.value("addressing", std::string("block"));
  if (addressing != "block" && addressing != "byte")
    FailCardFile("addressing must be \"block\" or \"byte\"");
  config.ByteAddressed = addressing == "byte";
  if (config.ByteAddressed && config.CapacitySectors * 512 > 0xFFFFFFFFull)
    FailCardFile("a byte-addressed card holds less than 4 GiB");
  config.Entry = card.at("entry").get<std::string>();
  if (config.Entry.size() != 8)
    FailCardFile("entry must be 8 characters");
}

void ParseSector0(const Json &card, const std::string &baseDir, CardConfig &config) {
  const Json sector0 = card.value("sector0", Json("mbr"));
  if (sector0 == "mbr") {
    config.Sector0 = DefaultMbr(config.CapacitySectors);
  } else if (sector0 == "zero") {
    config.Sector0.fill(0);
  } else if (sector0.is_object() && sector0.contains("file")) {
    const std::string bytes = ReadWholeFile(Resolve(sector0["file"].get<std::string>(), baseDir));
    if (bytes.size() < 512)
      FailCardFile("sector0 file is shorter than 512 bytes");
    std::memcpy(config.Sector0.data(), bytes.data(), 512);
  } else if (sector0.is_string()) {
    config.Sector0 = HexBytes<512>(sector0, "sector0");
  } else {
    FailCardFile("sector0 must be \"mbr\", \"zero\", 512 hex bytes or {\"file\": path}");
  }
}

void ParseMount(const Json &card, const std::string &baseDir, CardConfig &config) {
  if (!card.contains("mount") || card["mount"].is_null())
    return;
  const Json &mount = card["mount"];
  config.Mounted = true;
  const std::string point = mount.value("point", std::string("auto"));
  config.AutoMount = point == "auto";
  if (!config.AutoMount)
    config.MountPoint = Resolve(point, baseDir);
  config.MountDevice = mount.value("device", config.Node + (config.IsNative() ? "p1" : "1"));
  config.MountFsType = mount.value("fstype", std::string("vfat"));
  config.MountOptions = mount.value("options", std::string("rw,nosuid,nodev,relatime"));
}

// The kind a node's name implies: mmcblkN an SD card (its boot and RPMB
// areas an eMMC's), loopN, dm-N, nvme..., vd... as the kernel names them, any
// other a removable disk behind a USB reader.
std::string DefaultSysfsKind(const std::string &node) {
  const std::string name = node.substr(node.rfind('/') + 1);
  auto begins = [&](const char *prefix) { return name.rfind(prefix, 0) == 0; };
  if (begins("mmcblk"))
    return name.find_first_not_of("0123456789", 6) == std::string::npos ? "mmc" : "emmc";
  if (begins("loop"))
    return "loop";
  if (begins("dm-"))
    return "dm";
  if (begins("nvme"))
    return "nvme";
  if (begins("vd"))
    return "virtio";
  return "usb-removable";
}

void ParseSysfs(const Json &card, CardConfig &config) {
  const Json sysfs = card.value("sysfs", Json::object());
  if (!sysfs.is_object())
    FailCardFile("\"sysfs\" must be an object");
  config.SysfsKind = sysfs.value("kind", DefaultSysfsKind(config.Node));
  if (std::find(std::begin(kSysfsKinds), std::end(kSysfsKinds), config.SysfsKind) ==
      std::end(kSysfsKinds))
    FailCardFile("unknown sysfs kind \"" + config.SysfsKind + "\"");
  config.Partitions =
      static_cast<unsigned>(JsonNumber(sysfs.value("partitions", Json(1)), "partitions"));
  if (config.Partitions > 7)
    FailCardFile("a card has at most 7 partitions");
  config.WrittenSectors = JsonNumber(sysfs.value("written_sectors", Json(0)), "written_sectors");
  config.DiskSeq = JsonNumber(sysfs.value("diskseq", Json(1)), "diskseq");
}

std::uint8_t Byte(const Json &value, const std::string &name) {
  const std::uint64_t n = JsonNumber(value, name);
  if (n > 255)
    FailCardFile(name + " must be 0 to 255");
  return static_cast<std::uint8_t>(n);
}

// The registers: eMMC ones for that kind, else an SD card's; the card
// file's "emmc", "ssr" and "ocr" over them (CID, CSD and SCR come with the
// header fields).
void ParseRegisters(const Json &card, CardConfig &config) {
  const auto serial = static_cast<std::uint32_t>(std::hash<std::string>{}(config.Node));
  if (config.IsEmmc()) {
    config.Csd = DefaultEmmcCsd();
    config.Cid = DefaultEmmcCid(serial);
  } else {
    config.Csd = DefaultCsd(config.CapacitySectors, config.ByteAddressed);
    config.Cid = DefaultCid(serial);
  }
  config.Scr = {{0x02, 0x35, 0x80, 0x03, 0x00, 0x00, 0x00, 0x00}};
  config.Ssr = card.contains("ssr") ? HexBytes<64>(card["ssr"], "ssr")
                                    : DefaultSsr(config.CapacitySectors, config.ByteAddressed);
  if (card.contains("ocr")) {
    const std::uint64_t ocr = JsonNumber(card["ocr"], "ocr");
    if (ocr > 0xFFFFFFFFull)
      FailCardFile("ocr must fit 32 bits");
    config.Ocr = static_cast<std::uint32_t>(ocr);
  }
  if (!card.contains("emmc"))
    return;
  const Json &emmc = card["emmc"];
  if (!config.IsEmmc() || !emmc.is_object())
    FailCardFile("\"emmc\" must be an object, on a card of sysfs kind \"emmc\"");
  EmmcConfig &e = config.Emmc;
  if (emmc.contains("life_time")) {
    const Json &life = emmc["life_time"];
    if (!life.is_array() || life.size() != 2)
      FailCardFile("emmc.life_time must be [A, B]");
    e.LifeTimeA = Byte(life[0], "emmc.life_time");
    e.LifeTimeB = Byte(life[1], "emmc.life_time");
  }
  e.PreEolInfo = Byte(emmc.value("pre_eol", Json(e.PreEolInfo)), "emmc.pre_eol");
  e.ExtCsdRev = Byte(emmc.value("ext_csd_rev", Json(e.ExtCsdRev)), "emmc.ext_csd_rev");
  e.SysfsLife = emmc.value("sysfs_life", true);
}

unsigned BusyCount(const Json &busy, const char *key) {
  return static_cast<unsigned>(JsonNumber(busy.value(key, Json(0)), std::string("busy.") + key));
}

// A delay in microseconds: at most one second a step.
std::uint32_t LatencyUs(const Json &latency, const char *key) {
  const std::uint64_t us = JsonNumber(latency.value(key, Json(0)), std::string("latency.") + key);
  if (us > 1000000)
    FailCardFile(std::string("latency.") + key + " must be at most 1000000");
  return static_cast<std::uint32_t>(us);
}

CardConfig ParseCard(const Json &card, const std::string &baseDir) {
  CardConfig config;
  ParseGeometry(card, config);
  ParseSector0(card, baseDir, config);
  if (card.contains("image") && !card["image"].is_null())
    config.Image = Resolve(card["image"].get<std::string>(), baseDir);
  ParseMount(card, baseDir, config);
  ParseSysfs(card, config);
  if (card.contains("rca"))
    config.Rca = static_cast<std::uint16_t>(JsonNumber(card["rca"], "rca"));
  if (card.contains("mmc_host"))
    config.MmcHost = static_cast<unsigned>(JsonNumber(card["mmc_host"], "mmc_host"));

  ParseRegisters(card, config);
  ParseHeader(card.value("header", Json()), config);
  ParseTables(card, config);

  const Json busy = card.value("busy", Json::object());
  config.BusyHeader = BusyCount(busy, "header");
  config.BusyFirstDetail = BusyCount(busy, "first_detail");
  config.BusyPmt = BusyCount(busy, "pmt");
  config.BusyFile = BusyCount(busy, "file");

  const Json latency = card.value("latency", Json::object());
  config.TransferLatencyUs = LatencyUs(latency, "transfer_us");
  config.FileStepLatencyUs = LatencyUs(latency, "file_step_us");
  return config;
}

} // namespace

const char *const kSysfsKinds[9] = {"usb-removable", "usb-fixed", "sata", "nvme", "virtio",
                                    "loop",          "dm",        "mmc",  "emmc"};

void FailCardFile(const std::string &what) { throw std::runtime_error("sdsim card file: " + what); }

std::uint64_t JsonNumber(const Json &value, const std::string &name) {
  if (value.is_number_unsigned())
    return value.get<std::uint64_t>();
  if (value.is_number_integer()) {
    const auto i = value.get<std::int64_t>();
    if (i < 0)
      FailCardFile(name + " must not be negative");
    return static_cast<std::uint64_t>(i);
  }
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    char *end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0)
      FailCardFile(name + " is not a number: \"" + text + "\"");
    return n;
  }
  FailCardFile(name + " must be a number");
}

std::string DirName(const std::string &path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ReadWholeFile(const std::string &path) {
  const int fd = Real().open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw std::runtime_error("sdsim: cannot open " + path + ": " + std::strerror(errno));
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = Real().read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  Real().close(fd);
  return text;
}

std::uint32_t EntryCount(const CardConfig &config) {
  auto get = [&](const char *name) {
    auto it = config.Numbers.find(name);
    return it == config.Numbers.end() ? 0u : it->second;
  };
  const std::uint32_t perUnit = get("VBsPerUnit") & 0xFFFF;
  const std::uint32_t units = perUnit ? get("TotalVBCount") / perUnit : 1u;
  return get("BaseVBEntryCount") + (get("ExtraVBEntriesPerUnit") & 0xFFFF) * (units - 1u);
}

CardConfig ParseCardConfig(const std::string &jsonText, const std::string &baseDir) {
  if (IsRecording(jsonText)) {
    CardConfig config = ParseCard(RecordingCard(jsonText), baseDir);
    config.Script = RecordingSteps(jsonText);
    return config;
  }
  Json card;
  try {
    card = Json::parse(jsonText);
  } catch (const std::exception &e) {
    FailCardFile(std::string("not valid JSON: ") + e.what());
  }
  if (!card.is_object())
    FailCardFile("the card must be a JSON object");
  try {
    if (card.contains("recording")) { // a card file that names a recording
      const std::string path = Resolve(card["recording"].get<std::string>(), baseDir);
      return ParseCardConfig(ReadWholeFile(path), DirName(path));
    }
    return ParseCard(card, baseDir);
  } catch (const nlohmann::json::exception &e) {
    FailCardFile(e.what());
  }
}

} // namespace sdsim
