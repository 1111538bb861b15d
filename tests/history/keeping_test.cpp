// SPDX-License-Identifier: MIT
// What the history keeps and says when a run is not as it should be: a
// reading that contradicts itself, a clock set back or not set, counts a run
// did not read, lines that are no reading, a file over the bound, and a folder
// the reader may not read.
#include "history_fixture.h"

#include "state/forecast.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

namespace {

using namespace history_test;

// The forecast over readings four days apart (used percent each), one of
// them implausible.
TEST(Forecast, StatusRatesAndDatesFollowTheReadings) {
  constexpr int64_t kDay = 86400;
  struct Case {
    const char *name;
    const char *used; // one reading each
    int implausible;  // index, or -1
    const char *status;
    std::optional<double> perDay; // the JSON's used_percent_per_day
    const char *zeroDate;         // the JSON's zero_date begins so
    const char *said;             // in the report's line
  };
  const Case cases[] = {
      {"implausible left out", "10 11 12 13 60", 4, "ok", 0.25, "2025-12",
       "remaining life reaches 10 %"},
      {"no wear", "10 10 10", -1, "no wear seen", 0.0, "null",
       "Wear rate: no wear seen over 8 days"},
      // The rounding of equal readings is no rate, and gives no date.
      {"noise", "10 10.000000001 10 10.000000001", -1, "no wear seen", 0.0, "null", "no wear seen"},
      {"limit reached", "85 88 91 94", -1, "ok", 0.75, "2025-01-21",
       "remaining life at or below 10 % since 2025-01-09, 0 % around 2025-01"},
      {"used up", "98 99 100 101", -1, "exhausted", 0.25, "2025-01-09",
       "; life exhausted since 2025-01-09\n"},
      {"used up, one reading", "100", -1, "exhausted", std::nullopt, "2025-01-01",
       "Wear rate: not enough history (1 reading over 0 days; a forecast needs at least 3 over 7 "
       "days); life exhausted since 2025-01-01\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<sdsmart_tool::HistoryReading> readings;
    for (const std::string &used : Words(c.used)) {
      sdsmart_tool::HistoryReading r;
      r.Time = kStart + static_cast<int64_t>(readings.size()) * 4 * kDay;
      r.UsedPercent = std::stod(used);
      r.RemainingPercent = 100 - *r.UsedPercent;
      r.Implausible = static_cast<int>(readings.size()) == c.implausible;
      // A terabyte written between readings: a quarter a day.
      r.Writes = {readings.size() * 1953125000, 1, "0f0e0d0c-0b0a-4908-8706-050403020100"};
      readings.push_back(r);
    }
    const auto f = sdsmart_tool::MakeForecast(readings, 90, 10);
    const json j = json::parse(sdsmart_tool::ForecastJson(f).dump());
    EXPECT_EQ(j["status"], c.status) << j;
    EXPECT_EQ(j["used_percent_per_day"], c.perDay ? json(*c.perDay) : json(nullptr)) << j;
    const std::string zero = j["zero_date"].is_null() ? "null" : j["zero_date"].get<std::string>();
    EXPECT_EQ(zero.substr(0, std::strlen(c.zeroDate)), c.zeroDate) << j;
    const std::string line = sdsmart_tool::ForecastLine(f);
    EXPECT_NE(line.find(c.said), std::string::npos) << line;
    // The wear at that volume: the rate for each terabyte written a day.
    const json perTb =
        j["write_volume"].is_null() ? json() : j["write_volume"]["life_percent_per_tb"];
    EXPECT_EQ(perTb, c.perDay ? json(*c.perDay * 4) : json(nullptr)) << j;
    if (c.perDay) {
      char said[64];
      std::snprintf(said, sizeof said, "; %.2f %% of life per TB written\n", *c.perDay * 4);
      EXPECT_NE(sdsmart_tool::WriteVolumeLine(f.Writes, f.WritesWhy).find(said), std::string::npos);
    }
  }
}

// A reading that contradicts itself is kept, marked, and the forecast goes
// without it; a clock before the last reading or before 2020 keeps the
// reading out of the history and says so, and the run reads the card.
TEST_F(History, ImplausibleReadingsAndWrongClocks) {
  const std::string card = Card("card", "/dev/sdx", kCid, kErases0);
  const std::string implausible =
      Card("implausible", "/dev/sdx", kCid, kErases0, kUsb,
           [](json &c) { c["header"]["PowerCycleCount"] = 0xFFFFFFFFu; });
  const std::string path = State + "/history/" + kCid + ".jsonl";
  const struct {
    std::string card;
    int64_t now;
    int status;
    std::string said;
    size_t lines;
  } runs[] = {
      {card, kStart + 2 * 86400, 0, "", 1},
      {card, kStart + 86400, 0,
       "warning: the clock says 2025-01-02 00:00 UTC, before the card's last reading in its "
       "history (2025-01-03 00:00 UTC): this reading is not added to the card's history " +
           path + "; set the system clock",
       1},
      {card, 1000000, 0, "the clock says 1970-01-12 13:46 UTC, before 2020-01-01: it is not set",
       1},
      {implausible, kStart + 3 * 86400, 16, "", 2},
  };
  for (const auto &run : runs) {
    SCOPED_TRACE(run.now);
    const Result r = Run(run.card, run.now, "-H /dev/sdx");
    ExpectRun(r, run.status, run.status ? "WARNING" : "PASSED");
    ExpectRun(r, run.status, run.said);
    EXPECT_EQ(JsonLines(path).size(), run.lines);
    const json document = json::parse(sdtest::ReadFile(State + "/cards/" + kCid + ".json"));
    if (!run.said.empty()) {
      EXPECT_NE(document["sdsmart"]["messages"].dump().find("the clock says"), std::string::npos);
    }
  }
  const std::vector<json> lines = JsonLines(path);
  EXPECT_EQ(lines[0]["implausible"], false);
  EXPECT_EQ(lines[1]["implausible"], true);
  EXPECT_EQ(lines[1]["remaining_percent"], nullptr);
  EXPECT_EQ(lines[1]["verdict"], "WARNING");
}

// --select 5 reads the uncorrectable ECC count, --select 0 does not: turns
// of the two announce nothing after the first verdict and the history keeps
// the count as not read and the verdict as it stands.
TEST_F(History, CountsNotReadChangeNothing) {
  const std::string card = Card("card", "/dev/sdx", kCid, kErases0, kUsb,
                                [](json &c) { c["runtime_status"]["generate"]["ecc_errors"] = 2; });
  const std::string log = Dir.File("log"), hook = Dir.File("hook");
  sdtest::WriteFile(hook, "#!/bin/sh\necho \"$SDSMART_EVENTS|$SDSMART_VERDICT|"
                          "$SDSMART_PREVIOUS_VERDICT\" >> " +
                              log + "\n");
  ::chmod(hook.c_str(), 0755);
  for (int day = 1; day <= 4; ++day) {
    const bool ecc = day % 2 == 1;
    const Result r =
        Run(card, kStart + day * 86400,
            std::string("-H --on-change ") + hook + (ecc ? " --select 5" : "") + " /dev/sdx");
    ExpectRun(r, ecc ? 16 : 0,
              ecc ? ""
                  : "uncorrectable ECC errors were not read (select bit 4): the card's history "
                    "and --on-change keep its verdict WARNING, with the 2 counted by its reading "
                    "of 2025-01-0" +
                        std::to_string(day) + " 00:00 UTC");
  }
  EXPECT_EQ(sdtest::ReadFile(log), "verdict|WARNING|\n");
  const std::vector<json> lines = JsonLines(State + "/history/" + kCid + ".jsonl");
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["verdict"], "WARNING") << i;
    EXPECT_EQ(lines[i]["ecc_uncorrectable"], i % 2 ? json(nullptr) : json(2)) << i;
  }
}

// A file far over any history the tool keeps is left alone and said as such,
// by the run and by `history`.
TEST_F(History, OversizeHistoryIsSaidAsSuch) {
  const std::string card = Card("card", "/dev/sdx", kCid, kErases0);
  const std::string path = State + "/history/" + kCid + ".jsonl";
  ASSERT_TRUE(sdsmart_tool::MakeDirectories(State + "/history", 0755));
  sdtest::WriteFile(path, "");
  std::filesystem::resize_file(path, 17u << 20);
  const std::string said = path + " is larger than the 16 MiB a history may be";
  const Result r = Run(card, kStart, "-H /dev/sdx");
  ExpectRun(r, 4, "error: " + said);
  ExpectRun(r, 4, "PASSED");
  ExpectRun(Exec({kBin + "sdsmart", "history", "--state-dir", State, kCid}), 4, said);
  EXPECT_EQ(std::filesystem::file_size(path), 17u << 20);
}

// A state folder the tool makes is readable by all (whatever the umask); a
// reader who may not read a folder or file of it is told so.
TEST_F(History, StateFolderIsOpenToReadersAndSaysWhatTheyMayNotRead) {
  const std::string made = Dir.File("made/state"), card = Card("c", "/dev/sdx", kCid, kErases0);
  const mode_t umask = ::umask(077); // the run's, as the test's children inherit it
  ExpectRun(Run(card, kStart, "--state-dir " + made + " -H /dev/sdx"), 0);
  ::umask(umask);
  for (const std::string &dir : {Dir.File("made"), made, made + "/history", made + "/cards"}) {
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0) << dir;
    EXPECT_EQ(st.st_mode & 07777, 0755u) << dir;
  }
  const Args nobody = AsNobody(Dir.path);
  if (nobody.empty())
    GTEST_SKIP() << "needs root and setpriv to read the history as another user";
  const struct {
    std::string closed, asked, said;
  } cases[] = {
      {made + "/history", "", "error: cannot read " + made + "/history: Permission denied"},
      {made + "/history/" + kCid + ".jsonl", kCid,
       "error: cannot read the history " + made + "/history/" + kCid + ".jsonl: Permission denied"},
      {made + "/latest", "/dev/sdx", "error: cannot read " + made + "/latest: Permission denied"},
  };
  for (const auto &c : cases) {
    ::chmod(c.closed.c_str(), std::filesystem::is_directory(c.closed) ? 0700 : 0600);
    Args args = nobody;
    for (const std::string &word : Words("history --state-dir " + made + " " + c.asked))
      args.push_back(word);
    ExpectRun(Exec(args), 4, c.said);
    ::chmod(c.closed.c_str(), std::filesystem::is_directory(c.closed) ? 0755 : 0644);
  }
}

// A card that was read is of the family read here: no record of it as not
// supported stays, whether none was there or one of an earlier version. (A
// record this version wrote is forgotten with its message:
// tools.Sandbox.UnsupportedCardIsWrittenToTwice.)
TEST_F(History, ReadCardLeavesNoUnsupportedRecord) {
  const std::string card = Card("native", "/dev/mmcblk7", kCid, 2000000, kNative);
  const std::string record = State + "/unsupported-cid-" + kCid + ".json";
  for (const std::string stored :
       {"", R"({"since":"2026-01-02T03:04:05Z","node":"/dev/mmcblk7","header_seen":true})"}) {
    if (!stored.empty())
      sdtest::WriteFile(record, stored);
    const Result r = Run(card, kStart, "-H /dev/mmcblk7");
    EXPECT_EQ(r.Status & ~16, 0) << r.All();
    EXPECT_FALSE(sdtest::Exists(record)) << stored;
    EXPECT_EQ(r.All().find("remembered"), std::string::npos) << r.All();
  }
  for (const auto &entry : std::filesystem::directory_iterator(State))
    EXPECT_NE(entry.path().filename().string().rfind("unsupported-", 0), 0u) << entry.path();
}

} // namespace
