// SPDX-License-Identifier: MIT
// The per-VB tables of a card file: listed values or generated ones.
#include "card/card_json.h"

#include <cmath>
#include <random>

namespace sdsim {
namespace {

// Deterministic draws: the raw mt19937 sequence is fixed by the standard,
// the conversions below are our own.
class Draw {
public:
  explicit Draw(std::uint32_t seed) : Generator(seed) {}
  double Uniform() { return (Generator() + 0.5) / 4294967296.0; }
  double Normal() {
    const double u1 = Uniform(), u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

private:
  std::mt19937 Generator;
};

std::uint32_t Clamp(double value, std::uint32_t high) {
  if (!(value > 0))
    return 0;
  if (value > high)
    return high;
  return static_cast<std::uint32_t>(std::llround(value));
}

std::uint32_t Seed(const Json &generate, unsigned fallback) {
  return static_cast<std::uint32_t>(JsonNumber(generate.value("seed", Json(fallback)), "seed"));
}

std::vector<std::uint32_t> ValueList(const Json &list, const std::string &name, std::uint32_t n,
                                     std::uint32_t pad, std::uint32_t high, bool allowNull,
                                     std::uint32_t nullValue) {
  std::vector<std::uint32_t> out(n, pad);
  if (list.size() > n)
    FailCardFile(name + " lists more entries than the card has VBs (" + std::to_string(n) + ")");
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].is_null() && allowNull) {
      out[i] = nullValue;
      continue;
    }
    const std::uint64_t value = JsonNumber(list[i], name);
    if (value > high)
      FailCardFile(name + " entry " + std::to_string(i) + " is out of range");
    out[i] = static_cast<std::uint32_t>(value);
  }
  return out;
}

// Erase counts, card values; 0xFFFE marks a VB not in use.
LazyTables::Fill ParseEraseCounts(const Json &card, std::uint32_t n) {
  const Json &counts =
      card.contains("erase_counts") ? card["erase_counts"] : Json{{"generate", Json::object()}};
  if (counts.is_array()) {
    const auto values = ValueList(counts, "erase_counts", n, 0xFFFE, 0xFFFE, false, 0);
    return [values](VbTables &t) { t.EraseCounts.assign(values.begin(), values.end()); };
  }
  if (!counts.is_object() || !counts.contains("generate"))
    FailCardFile("erase_counts must be a list or {\"generate\": {...}}");
  const Json &generate = counts["generate"];
  const std::uint32_t seed = Seed(generate, 1);
  const double mean = generate.value("mean", 120.0), spread = generate.value("spread", 15.0);
  const double unused = generate.value("unused", 0.01);
  return [=](VbTables &t) {
    Draw draw(seed);
    t.EraseCounts.assign(n, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      const double u = draw.Uniform();
      const double x = mean + spread * draw.Normal();
      t.EraseCounts[i] = u < unused ? 0xFFFE : static_cast<std::uint16_t>(Clamp(x, 0xFFFD));
    }
  };
}

// Read counts in reads; null / absent: the VB has no count.
LazyTables::Fill ParseReadCounts(const Json &card, std::uint32_t n, CardConfig &config) {
  const Json counts =
      card.value("read_counts", Json{{"format", "native"}, {"generate", Json::object()}});
  if (!counts.is_object())
    FailCardFile("read_counts must be an object");
  const std::string format = counts.value("format", std::string("native"));
  if (format != "native" && format != "global")
    FailCardFile("read_counts format must be \"native\" or \"global\"");
  config.GlobalReadCounts = format == "global";
  config.RemainderSectors = static_cast<unsigned>(
      JsonNumber(counts.value("remainder_sectors", Json(0)), "remainder_sectors"));
  if (config.RemainderSectors > 255)
    FailCardFile("remainder_sectors must be below 256");
  const std::uint32_t maxReads = 0xFFFD * 255u + 254u;
  if (counts.contains("values")) {
    auto values =
        ValueList(counts["values"], "read_counts", n, kNoReadCount, maxReads, true, kNoReadCount);
    return [values](VbTables &t) { t.ReadCounts = values; };
  }
  const Json generate = counts.value("generate", Json::object());
  const std::uint32_t seed = Seed(generate, 2);
  const double mean = generate.value("mean", 40000.0), spread = generate.value("spread", 9000.0);
  const double none = generate.value("none", 0.05);
  return [=](VbTables &t) {
    Draw draw(seed);
    t.ReadCounts.assign(n, kNoReadCount);
    for (std::uint32_t i = 0; i < n; ++i) {
      const double u = draw.Uniform();
      const double x = mean + spread * draw.Normal();
      t.ReadCounts[i] = u < none ? kNoReadCount : Clamp(x, maxReads);
    }
  };
}

// Marks `count` VBs still at 0 with `value`, at random places.
void MarkRandom(std::vector<std::uint16_t> &table, Draw &draw, std::uint64_t count,
                std::uint16_t value) {
  const auto n = static_cast<std::uint32_t>(table.size());
  for (std::uint64_t placed = 0; placed < count;) {
    const auto i = static_cast<std::uint32_t>(draw.Uniform() * n) % n;
    if (table[i] == 0) {
      table[i] = value;
      ++placed;
    }
  }
}

// Run-time statuses (16-bit card values; 2: uncorrectable ECC error).
LazyTables::Fill ParseRuntimeStatus(const Json &card, std::uint32_t n) {
  const Json status = card.value("runtime_status", Json{{"generate", Json::object()}});
  const Json &list = status.is_object() && status.contains("values") ? status["values"] : status;
  if (list.is_array()) {
    const auto values = ValueList(list, "runtime_status", n, 0, 0xFFFF, false, 0);
    return [values](VbTables &t) { t.RuntimeStatus.assign(values.begin(), values.end()); };
  }
  if (!status.is_object() || !status.contains("generate"))
    FailCardFile("runtime_status must be a list, {\"values\": [...]} or {\"generate\": {...}}");
  const Json &generate = status["generate"];
  const std::uint32_t seed = Seed(generate, 3);
  const auto ecc = JsonNumber(generate.value("ecc_errors", Json(0)), "ecc_errors");
  const auto other = JsonNumber(generate.value("other", Json(0)), "other");
  const auto otherValue = JsonNumber(generate.value("other_value", Json(1)), "other_value");
  if (ecc + other > n)
    FailCardFile("runtime_status asks for more bad VBs than the card has");
  return [=](VbTables &t) {
    Draw draw(seed);
    t.RuntimeStatus.assign(n, 0);
    MarkRandom(t.RuntimeStatus, draw, ecc, 2);
    MarkRandom(t.RuntimeStatus, draw, other, static_cast<std::uint16_t>(otherValue));
  };
}

} // namespace

void ParseTables(const Json &card, CardConfig &config) {
  const std::uint32_t n = EntryCount(config);
  if (n > 0x10000)
    FailCardFile("the header describes " + std::to_string(n) +
                 " VB entries; at most 65536 are supported");
  config.VbTableSource =
      LazyTables([erase = ParseEraseCounts(card, n), reads = ParseReadCounts(card, n, config),
                  status = ParseRuntimeStatus(card, n)](VbTables &t) {
        erase(t);
        reads(t);
        status(t);
      });
}

} // namespace sdsim
