// SPDX-License-Identifier: MIT
// Write volume beside wear: two readings a day apart give the bytes written
// a day and the write amplification as figured by hand, and only when the
// kernel's count is the same count (same boot, same plugging).
#include "sandbox.h"

namespace sdsmart_tool {
namespace {

constexpr int64_t kDayOne = 1767225600; // 2026-01-01 00:00 UTC
constexpr uint64_t kWritten = 4000000, kErases = 1228800;
const std::string kBootA = "0f0e0d0c-0b0a-4908-8706-050403020100",
                  kBootB = "1f0e0d0c-0b0a-4908-8706-050403020100";

class WriteVolume : public Sandbox {
protected:
  std::string At(const std::string &name, uint64_t sectors, uint64_t seq, uint64_t erases) {
    return run.Card(name, [&](json &c) {
      c["sysfs"] = {{"written_sectors", sectors}, {"diskseq", seq}};
      c["header"]["TotalEraseCount"] = erases;
      c["header"]["MaxEraseCount"] = 6000;
    });
  }
  Result Read(const std::string &card, int64_t now, const std::string &boot,
              const std::string &options) {
    return run.Run("--card " + card + " --now " + std::to_string(now) + " --boot-id " + boot,
                   "--select 0 " + options + " /dev/sdx");
  }
};

TEST_F(WriteVolume, SameBootAndPlugGiveTheFigureOthersNone) {
  const uint64_t sectors = 2 * 1024 * 1024, erases = 4096; // 1 GiB, 4096 blocks a day
  const std::string first = At("first", kWritten, 7, kErases);
  const Result before = Read(first, kDayOne, kBootA, "--json");
  ExpectRun(before, 0);
  const json card = json::parse(before.Out);
  const double blockBytes = static_cast<double>(card["card"]["capacity_bytes"].get<uint64_t>() /
                                                card["blocks"]["physical_blocks"].get<uint64_t>());
  const std::string prom = Dir + "/sdsmart.prom", document = Dir + "/card.json";
  const std::tuple<const char *, uint64_t, std::string, bool> cases[] = {
      {"same", 7, kBootA, true}, {"replugged", 8, kBootA, false}, {"rebooted", 7, kBootB, false}};
  for (const auto &[name, seq, boot, figure] : cases) {
    SCOPED_TRACE(name);
    const std::string history = run.state + "/history";
    std::filesystem::remove_all(history);
    ExpectRun(Read(first, kDayOne, kBootA, "-H"), 0);
    const std::string later = At(name, kWritten + sectors, seq, kErases + erases);
    const Result r = Read(later, kDayOne + 86400, boot, "--json --prometheus=" + prom);
    ExpectRun(r, 0);
    const json doc = json::parse(r.Out), j = doc["forecast"]["write_volume"];
    const std::string text = sdtest::ReadFile(prom);
    const bool shown = text.find("sdsmart_written_bytes_per_day{") != std::string::npos;
    EXPECT_EQ(shown, figure) << text;
    if (!figure) {
      EXPECT_TRUE(j.is_null()) << j;
      ExpectRun(Read(later, kDayOne + 86400, boot, ""), 0, "\nWrites: not known yet (no reading");
      continue;
    }
    EXPECT_EQ(j["bytes_per_day"], sectors * 512);
    EXPECT_EQ(j["days"], 1.0);
    // The library counts the erases of physical blocks.
    const double erased =
        doc["erase_count"]["total"].get<double>() - card["erase_count"]["total"].get<double>();
    EXPECT_EQ(erased, erases * card["blocks"]["blocks_per_vb"].get<double>());
    EXPECT_NEAR(j["write_amplification"].get<double>(), erased * blockBytes / (sectors * 512.0),
                1e-9);
    EXPECT_NE(text.find("sdsmart_write_amplification_ratio{"), std::string::npos) << text;
    sdtest::WriteFile(document, r.Out);
    sdtest::ExpectValidJson("card", document);
    if (*SDSMART_PROMTOOL)
      ExpectRun(Exec({"/bin/sh", "-c", SDSMART_PROMTOOL " check metrics < " + prom}), 0);
  }
}

// A card read by its registers (a model never to be written) keeps its
// count too: the bytes a day, in its JSON, textfile and state file.
TEST_F(WriteVolume, CardsReadByTheirRegistersKeepTheirOwn) {
  const std::string rules = Dir + "/cards.conf", prom = Dir + "/sdsmart.prom";
  sdtest::WriteFile(rules, "name=OFAM1 path=never\n");
  auto read = [&](const std::string &name, uint64_t sectors, uint64_t seq, int64_t now) {
    const std::string card = run.Card(
        name,
        [&](json &c) {
          c["sysfs"] = {{"written_sectors", sectors}, {"diskseq", seq}};
        },
        kSource + "/sim/cards/other_family.json");
    return run.Run("--card " + card + " --now " + std::to_string(now) + " --boot-id " + kBootA,
                   "--cards " + rules + " --json --prometheus=" + prom + " /dev/mmcblk5");
  };
  for (const auto &[seq, figure] : {std::pair{7, true}, {8, false}}) {
    SCOPED_TRACE(seq);
    std::filesystem::remove_all(run.state + "/registers");
    read("first", kWritten, 7, kDayOne);
    const Result r = read("later", kWritten + 2048, seq, kDayOne + 86400);
    ExpectRun(r, kExitAcquisition); // no health data from such a card
    const json j = json::parse(r.Out)["registers"]["history"];
    EXPECT_EQ(j["readings"], 2) << j;
    EXPECT_EQ(j["write_volume"].is_null(), !figure) << j;
    EXPECT_EQ(sdtest::ReadFile(prom).find("sdsmart_written_bytes_per_day{") != std::string::npos,
              figure);
    if (figure) {
      EXPECT_EQ(j["write_volume"]["bytes_per_day"], 2048 * 512);
      EXPECT_TRUE(j["write_volume"]["write_amplification"].is_null()) << "no erase counts";
    }
    EXPECT_EQ(
        json::parse(sdtest::ReadFile(run.state + "/latest/mmcblk5.json"))["registers"]["history"],
        j);
    sdtest::WriteFile(Dir + "/card.json", r.Out);
    sdtest::ExpectValidJson("card", Dir + "/card.json");
  }
}

} // namespace
} // namespace sdsmart_tool
