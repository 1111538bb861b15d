#include "card_config.h"

#include "real_calls.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace sdsim {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string &what) {
  throw std::runtime_error("sdsim card file: " + what);
}

std::string Resolve(const std::string &path, const std::string &base) {
  if (path.empty() || path[0] == '/' || base.empty())
    return path;
  return base + "/" + path;
}

std::uint64_t Number(const Json &v, const std::string &name) {
  if (v.is_number_unsigned())
    return v.get<std::uint64_t>();
  if (v.is_number_integer()) {
    auto i = v.get<std::int64_t>();
    if (i < 0)
      Fail(name + " must not be negative");
    return static_cast<std::uint64_t>(i);
  }
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char *end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(s.c_str(), &end, 0);
    if (s.empty() || *end != '\0' || errno != 0)
      Fail(name + " is not a number: \"" + s + "\"");
    return n;
  }
  Fail(name + " must be a number");
}

template <std::size_t N>
std::array<std::uint8_t, N> HexBytes(const Json &v, const std::string &name) {
  if (!v.is_string())
    Fail(name + " must be a hex string");
  std::string digits;
  for (char ch : v.get<std::string>()) {
    if (std::isxdigit(static_cast<unsigned char>(ch)))
      digits += ch;
    else if (ch != ' ' && ch != ':' && ch != '-')
      Fail(name + " holds a character that is not a hex digit");
  }
  if (digits.size() != 2 * N)
    Fail(name + " must hold " + std::to_string(N) + " bytes");
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  return out;
}

// Deterministic draws: the raw mt19937 sequence is fixed by the standard,
// the conversions below are our own.
class Draw {
public:
  explicit Draw(std::uint32_t seed) : gen_(seed) {}
  double Uniform() { return (gen_() + 0.5) / 4294967296.0; }
  double Normal() {
    const double u1 = Uniform(), u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

private:
  std::mt19937 gen_;
};

std::uint32_t Clamp(double v, std::uint32_t hi) {
  if (!(v > 0))
    return 0;
  if (v > hi)
    return hi;
  return static_cast<std::uint32_t>(std::llround(v));
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

void ParseHeader(const Json &h, CardConfig &c) {
  c.numbers = {{"FlashTypeCode", 2},       {"PECycleCount", 3000},
               {"BaseVBEntryCount", 1024}, {"InitialBadBlockCount", 12},
               {"LaterBadBlockCount", 0},  {"MinSpareBlockCount", 40},
               {"ECCCapacity", 72},        {"AbnormalShutdownCount", 3},
               {"PowerCycleCount", 812},   {"CECount", 2},
               {"BlocksPerVB", 4},         {"MPVersionMajor", 3},
               {"MPVersionMinor", 12},     {"TotalVBCount", 4096},
               {"VBsPerUnit", 1024},       {"ExtraVBEntriesPerUnit", 1024},
               {"EraseCountOffset", 0},    {"WPStatus", 0},
               {"HeaderVersion", 2}};
  c.hw_version = "SM2708-SDSIM";
  c.fw_version = "FW1.07.22";
  c.client_mark = "SDSIM VIRTUAL CARD";
  c.flash_id = {{0x98, 0x3A, 0x98, 0xA3, 0x76, 0x51}};
  if (h.is_null())
    return;
  if (!h.is_object())
    Fail("\"header\" must be an object");
  for (auto it = h.begin(); it != h.end(); ++it) {
    const std::string &key = it.key();
    const Json &v = it.value();
    bool known = false;
    for (const char *name : kNumberFields)
      if (key == name) {
        if (v.is_string() && v.get<std::string>() == "auto") {
          c.numbers.erase(key);
        } else {
          std::uint64_t n = Number(v, key);
          if (n > 0xFFFFFFFFull)
            Fail(key + " does not fit its field");
          c.numbers[key] = static_cast<std::uint32_t>(n);
        }
        known = true;
      }
    if (known)
      continue;
    if (key == "HWVersion" || key == "FWVersion" || key == "ClientMark") {
      if (!v.is_string())
        Fail(key + " must be a string");
      std::string s = v.get<std::string>();
      const std::size_t limit = key == "ClientMark" ? 356 : 16;
      if (s.size() > limit)
        Fail(key + " is longer than its field");
      (key == "HWVersion" ? c.hw_version : key == "FWVersion" ? c.fw_version : c.client_mark) = s;
    } else if (key == "Signature") {
      if (!v.is_string() || v.get<std::string>().size() != 3)
        Fail("Signature must be 3 characters");
      std::memcpy(c.signature.data(), v.get<std::string>().data(), 3);
    } else if (key == "FlashID") {
      c.flash_id = HexBytes<6>(v, key);
    } else if (key == "CID") {
      c.cid = HexBytes<16>(v, key);
    } else if (key == "CSD") {
      c.csd = HexBytes<16>(v, key);
    } else if (key == "SCR") {
      c.scr = HexBytes<8>(v, key);
    } else if (key == "UseDetailSectorCountEx") {
      c.use_detail_count_ex = v.get<bool>();
    } else {
      Fail("unknown header field \"" + key + "\"");
    }
  }
}

std::vector<std::uint32_t> ValueList(const Json &v, const std::string &name, std::uint32_t n,
                                     std::uint32_t pad, std::uint32_t hi, bool allow_null,
                                     std::uint32_t null_value) {
  std::vector<std::uint32_t> out(n, pad);
  if (v.size() > n)
    Fail(name + " lists more entries than the card has VBs (" + std::to_string(n) + ")");
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i].is_null() && allow_null) {
      out[i] = null_value;
      continue;
    }
    std::uint64_t x = Number(v[i], name);
    if (x > hi)
      Fail(name + " entry " + std::to_string(i) + " is out of range");
    out[i] = static_cast<std::uint32_t>(x);
  }
  return out;
}

void ParseTables(const Json &j, CardConfig &c) {
  const std::uint32_t n = EntryCount(c);
  if (n > 0x10000)
    Fail("the header describes " + std::to_string(n) + " VB entries; at most 65536 are supported");

  // Erase counts, card values; 0xFFFE marks a VB not in use.
  const Json &e =
      j.contains("erase_counts") ? j["erase_counts"] : Json{{"generate", Json::object()}};
  c.erase_counts.assign(n, 0);
  if (e.is_array()) {
    auto v = ValueList(e, "erase_counts", n, 0xFFFE, 0xFFFE, false, 0);
    for (std::uint32_t i = 0; i < n; ++i)
      c.erase_counts[i] = static_cast<std::uint16_t>(v[i]);
  } else if (e.is_object() && e.contains("generate")) {
    const Json &g = e["generate"];
    Draw d(static_cast<std::uint32_t>(Number(g.value("seed", Json(1)), "seed")));
    const double mean = g.value("mean", 120.0), spread = g.value("spread", 15.0);
    const double unused = g.value("unused", 0.01);
    for (std::uint32_t i = 0; i < n; ++i) {
      const double u = d.Uniform();
      const double x = mean + spread * d.Normal();
      c.erase_counts[i] = u < unused ? 0xFFFE : static_cast<std::uint16_t>(Clamp(x, 0xFFFD));
    }
  } else {
    Fail("erase_counts must be a list or {\"generate\": {...}}");
  }

  // Read counts in reads; null / absent: the VB has no count.
  const Json r = j.value("read_counts", Json{{"format", "native"}, {"generate", Json::object()}});
  if (!r.is_object())
    Fail("read_counts must be an object");
  const std::string format = r.value("format", std::string("native"));
  if (format != "native" && format != "global")
    Fail("read_counts format must be \"native\" or \"global\"");
  c.global_read_counts = format == "global";
  c.remainder_sectors =
      static_cast<unsigned>(Number(r.value("remainder_sectors", Json(0)), "remainder_sectors"));
  if (c.remainder_sectors > 255)
    Fail("remainder_sectors must be below 256");
  const std::uint32_t max_reads = 0xFFFD * 255u + 254u;
  c.read_counts.assign(n, kNoReadCount);
  if (r.contains("values")) {
    c.read_counts =
        ValueList(r["values"], "read_counts", n, kNoReadCount, max_reads, true, kNoReadCount);
  } else {
    const Json g = r.value("generate", Json::object());
    Draw d(static_cast<std::uint32_t>(Number(g.value("seed", Json(2)), "seed")));
    const double mean = g.value("mean", 40000.0), spread = g.value("spread", 9000.0);
    const double none = g.value("none", 0.05);
    for (std::uint32_t i = 0; i < n; ++i) {
      const double u = d.Uniform();
      const double x = mean + spread * d.Normal();
      c.read_counts[i] = u < none ? kNoReadCount : Clamp(x, max_reads);
    }
  }

  // Run-time statuses (16-bit card values; 2: uncorrectable ECC error).
  const Json s = j.value("runtime_status", Json{{"generate", Json::object()}});
  c.runtime_status.assign(n, 0);
  const Json &list = s.is_object() && s.contains("values") ? s["values"] : s;
  if (list.is_array()) {
    auto v = ValueList(list, "runtime_status", n, 0, 0xFFFF, false, 0);
    for (std::uint32_t i = 0; i < n; ++i)
      c.runtime_status[i] = static_cast<std::uint16_t>(v[i]);
  } else if (s.is_object() && s.contains("generate")) {
    const Json &g = s["generate"];
    Draw d(static_cast<std::uint32_t>(Number(g.value("seed", Json(3)), "seed")));
    const auto ecc = Number(g.value("ecc_errors", Json(0)), "ecc_errors");
    const auto other = Number(g.value("other", Json(0)), "other");
    const auto other_value = Number(g.value("other_value", Json(1)), "other_value");
    if (ecc + other > n)
      Fail("runtime_status asks for more bad VBs than the card has");
    auto mark = [&](std::uint64_t count, std::uint16_t value) {
      for (std::uint64_t placed = 0; placed < count;) {
        auto i = static_cast<std::uint32_t>(d.Uniform() * n) % n;
        if (c.runtime_status[i] == 0) {
          c.runtime_status[i] = value;
          ++placed;
        }
      }
    };
    mark(ecc, 2);
    mark(other, static_cast<std::uint16_t>(other_value));
  } else {
    Fail("runtime_status must be a list, {\"values\": [...]} or {\"generate\": {...}}");
  }
}

void SetBits(std::array<std::uint8_t, 16> &reg, unsigned hi, unsigned lo, std::uint64_t value) {
  for (unsigned bit = lo; bit <= hi; ++bit) {
    const unsigned byte = 15 - bit / 8, shift = bit % 8;
    const bool on = (value >> (bit - lo)) & 1u;
    reg[byte] = static_cast<std::uint8_t>((reg[byte] & ~(1u << shift)) | (on ? 1u << shift : 0u));
  }
}

} // namespace

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
  char buf[4096];
  for (;;) {
    const ssize_t got = Real().read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    text.append(buf, static_cast<std::size_t>(got));
  }
  Real().close(fd);
  return text;
}

std::uint32_t EntryCount(const CardConfig &c) {
  auto get = [&](const char *name) {
    auto it = c.numbers.find(name);
    return it == c.numbers.end() ? 0u : it->second;
  };
  const std::uint32_t per_unit = get("VBsPerUnit") & 0xFFFF;
  const std::uint32_t units = per_unit ? get("TotalVBCount") / per_unit : 1u;
  return get("BaseVBEntryCount") + (get("ExtraVBEntriesPerUnit") & 0xFFFF) * (units - 1u);
}

std::uint8_t Crc7(const std::uint8_t *data, std::size_t n) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned in = (data[i] >> bit) & 1u;
      const unsigned top = (crc >> 6) & 1u;
      crc = static_cast<std::uint8_t>((crc << 1) & 0x7F);
      if (in ^ top)
        crc ^= 0x09;
    }
  return crc;
}

std::array<std::uint8_t, 16> DefaultCsd(std::uint64_t sectors, bool byte_addressed) {
  std::array<std::uint8_t, 16> r{};
  if (!byte_addressed) {
    SetBits(r, 127, 126, 1); // CSD version 2.0
    SetBits(r, 119, 112, 0x0E);
    SetBits(r, 103, 96, 0x32); // 25 MHz
    SetBits(r, 95, 84, 0x5B5);
    SetBits(r, 83, 80, 9);
    SetBits(r, 69, 48, sectors / 1024 ? sectors / 1024 - 1 : 0);
    SetBits(r, 46, 46, 1);
    SetBits(r, 45, 39, 0x7F);
    SetBits(r, 28, 26, 2);
    SetBits(r, 25, 22, 9);
    SetBits(r, 14, 14, 0);
  } else {
    std::uint64_t count = (sectors * 512) >> 14;
    unsigned mult = 3, bl = 9;
    while (count > 4096) {
      if (mult < 7)
        ++mult;
      else
        ++bl;
      count >>= 1;
    }
    SetBits(r, 127, 126, 0); // CSD version 1.0: byte-addressed
    SetBits(r, 119, 112, 0x2E);
    SetBits(r, 103, 96, 0x32);
    SetBits(r, 95, 84, 0x5F5);
    SetBits(r, 83, 80, bl);
    SetBits(r, 79, 79, 1);
    SetBits(r, 73, 62, count ? count - 1 : 0);
    SetBits(r, 61, 59, 7);
    SetBits(r, 58, 56, 6);
    SetBits(r, 55, 53, 7);
    SetBits(r, 52, 50, 6);
    SetBits(r, 49, 47, mult);
    SetBits(r, 46, 46, 1);
    SetBits(r, 45, 39, 0x1F);
    SetBits(r, 28, 26, 4);
    SetBits(r, 25, 22, bl);
  }
  r[15] = static_cast<std::uint8_t>(Crc7(r.data(), 15) << 1 | 1);
  return r;
}

std::array<std::uint8_t, 16> DefaultCid(std::uint32_t serial) {
  std::array<std::uint8_t, 16> r{{0x9F, 'T', 'I', 'S', 'D', 'S', 'I', 'M', 0x10}};
  r[9] = static_cast<std::uint8_t>(serial >> 24);
  r[10] = static_cast<std::uint8_t>(serial >> 16);
  r[11] = static_cast<std::uint8_t>(serial >> 8);
  r[12] = static_cast<std::uint8_t>(serial);
  r[13] = 0x01; // manufactured 2025-03
  r[14] = 0x93;
  r[15] = static_cast<std::uint8_t>(Crc7(r.data(), 15) << 1 | 1);
  return r;
}

std::array<std::uint8_t, 512> DefaultMbr(std::uint64_t sectors) {
  std::array<std::uint8_t, 512> s{};
  const std::uint32_t start = 8192;
  const std::uint64_t rest = sectors > start ? sectors - start : 0;
  const std::uint32_t size = rest > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rest);
  const std::uint8_t sig[4] = {0x5D, 0x1C, 0x3B, 0x9A};
  std::memcpy(&s[440], sig, 4);
  std::uint8_t *p = &s[446];
  p[0] = 0x00;                           // not bootable
  p[1] = 0xFE, p[2] = 0xFF, p[3] = 0xFF; // CHS unused: LBA only
  p[4] = 0x0C;                           // FAT32 with LBA
  p[5] = 0xFE, p[6] = 0xFF, p[7] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    p[8 + i] = static_cast<std::uint8_t>(start >> (8 * i));
    p[12 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

CardConfig ParseCardConfig(const std::string &json_text, const std::string &base_dir) {
  Json j;
  try {
    j = Json::parse(json_text);
  } catch (const std::exception &e) {
    Fail(std::string("not valid JSON: ") + e.what());
  }
  if (!j.is_object())
    Fail("the card must be a JSON object");
  try {
    CardConfig c;
    c.node = j.at("node").get<std::string>();
    if (c.node.empty() || c.node[0] != '/')
      Fail("node must be an absolute path");
    if (j.contains("capacity_bytes")) {
      const std::uint64_t b = Number(j["capacity_bytes"], "capacity_bytes");
      if (b % 512)
        Fail("capacity_bytes must be a multiple of 512");
      c.capacity_sectors = b / 512;
    } else {
      c.capacity_sectors = Number(j.at("capacity_sectors"), "capacity_sectors");
    }
    if (c.capacity_sectors < 2 || c.capacity_sectors > 0xFFFFFFFFull)
      Fail("capacity must be 2 to 2^32-1 sectors");
    const std::string addressing = j.value("addressing", std::string("block"));
    if (addressing != "block" && addressing != "byte")
      Fail("addressing must be \"block\" or \"byte\"");
    c.byte_addressed = addressing == "byte";
    if (c.byte_addressed && c.capacity_sectors * 512 > 0xFFFFFFFFull)
      Fail("a byte-addressed card holds less than 4 GiB");
    c.entry = j.at("entry").get<std::string>();
    if (c.entry.size() != 8)
      Fail("entry must be 8 characters");

    const Json s0 = j.value("sector0", Json("mbr"));
    if (s0 == "mbr")
      c.sector0 = DefaultMbr(c.capacity_sectors);
    else if (s0 == "zero")
      c.sector0.fill(0);
    else if (s0.is_object() && s0.contains("file")) {
      const std::string bytes = ReadWholeFile(Resolve(s0["file"].get<std::string>(), base_dir));
      if (bytes.size() < 512)
        Fail("sector0 file is shorter than 512 bytes");
      std::memcpy(c.sector0.data(), bytes.data(), 512);
    } else if (s0.is_string()) {
      c.sector0 = HexBytes<512>(s0, "sector0");
    } else {
      Fail("sector0 must be \"mbr\", \"zero\", 512 hex bytes or {\"file\": path}");
    }

    if (j.contains("image") && !j["image"].is_null())
      c.image = Resolve(j["image"].get<std::string>(), base_dir);

    if (j.contains("mount") && !j["mount"].is_null()) {
      const Json &m = j["mount"];
      c.mounted = true;
      const std::string point = m.value("point", std::string("auto"));
      c.auto_mount = point == "auto";
      if (!c.auto_mount)
        c.mount_point = Resolve(point, base_dir);
      const bool native = c.node.rfind("/dev/mmcblk", 0) == 0;
      c.mount_device = m.value("device", c.node + (native ? "p1" : "1"));
      c.mount_fstype = m.value("fstype", std::string("vfat"));
      c.mount_options = m.value("options", std::string("rw,nosuid,nodev,relatime"));
    }
    if (j.contains("rca"))
      c.rca = static_cast<std::uint16_t>(Number(j["rca"], "rca"));
    if (j.contains("mmc_host"))
      c.mmc_host = static_cast<unsigned>(Number(j["mmc_host"], "mmc_host"));

    c.csd = DefaultCsd(c.capacity_sectors, c.byte_addressed);
    c.cid = DefaultCid(static_cast<std::uint32_t>(std::hash<std::string>{}(c.node)));
    c.scr = {{0x02, 0x35, 0x80, 0x03, 0x00, 0x00, 0x00, 0x00}};
    ParseHeader(j.value("header", Json()), c);
    ParseTables(j, c);

    const Json b = j.value("busy", Json::object());
    c.busy_header = static_cast<unsigned>(Number(b.value("header", Json(0)), "busy.header"));
    c.busy_first_detail =
        static_cast<unsigned>(Number(b.value("first_detail", Json(0)), "busy.first_detail"));
    c.busy_pmt = static_cast<unsigned>(Number(b.value("pmt", Json(0)), "busy.pmt"));
    c.busy_file = static_cast<unsigned>(Number(b.value("file", Json(0)), "busy.file"));
    return c;
  } catch (const nlohmann::json::exception &e) {
    Fail(e.what());
  }
}

} // namespace sdsim
