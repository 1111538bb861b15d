// SPDX-License-Identifier: MIT
// A card's history, forecast, state file and --on-change, with the built
// tool under the virtual card and the wall clock set by sdsim (SDSIM_NOW,
// --now). Regenerate the golden files after a deliberate change:
//   SDSMART_REGENERATE=1 build-asan/tests/history_tests
#include "history_fixture.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace history_test;

// 400 runs two years long, under two node names, and a second card; a reader
// of the state file meanwhile; then `sdsmart history` as another user.
TEST_F(History, TwoYearsOfRunsGiveTheForecastOfTheCardFiles) {
  std::string script = "for i in $(seq 0 399); do n=sdx; [ $((i % 2)) = 1 ] && n=sdy; "
                       "SDSIM_CARDS=" +
                       Dir.path + "/card$i.json SDSIM_NOW=$((" + std::to_string(kStart) +
                       " + i * " + std::to_string(kStep) + ")) " + kBin + "sdsmart --config " +
                       run.config + " --state-dir " + State + " " + kLimits + "-H /dev/$n" +
                       " >/dev/null 2>&1 || echo \"run $i: $?\"; done";
  for (int i = 0; i < 400; ++i)
    Card("card" + std::to_string(i), i % 2 ? "/dev/sdy" : "/dev/sdx", kCid,
         kErases0 + i * kErasesPerRun);
  std::string stateFile = State + "/cards/" + kCid + ".json", out;
  std::atomic<bool> done{false};
  int reads = 0, partial = 0;
  std::thread reader([&] {
    for (std::string text; !done; ++reads)
      if (sdsmart_tool::ReadWholeFile(stateFile, text) && !json::accept(text))
        ++partial;
  });
  EXPECT_EQ(sdtest::RunShell(kBin + "sdsim -- sh -c '" + script + "'", &out), 0);
  done = true;
  reader.join();
  EXPECT_EQ(out, "");
  EXPECT_EQ(partial, 0) << "of " << reads << " reads";
  std::string other = Card("other", "/dev/sdx", "035344534d3332478012345678011601", kErases0);
  for (int64_t day = 0; day < 3; ++day)
    ExpectRun(Run(other, kStart + day * 86400, "-H /dev/sdx"), 0);

  // One history a card, kept small by thinning.
  std::string history = sdtest::ReadFile(State + "/history/" + kCid + ".jsonl");
  const auto lines = std::count(history.begin(), history.end(), '\n');
  EXPECT_LT(history.size(), 100u * 1024);
  EXPECT_LE(lines, 90 + (730 - 90) / 7 + 1 + 24) << "one a day for 90 days, one a week before";
  EXPECT_GE(lines, 90 / 2 + (730 - 90) / 7 - 1);
  EXPECT_EQ(sdtest::RunShell("ls " + State + "/history | wc -l", &out), 0);
  EXPECT_EQ(out, "2\n");

  // The state file: the last reading's document with its forecast.
  struct stat st {};
  ASSERT_EQ(::stat(stateFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  json forecast = json::parse(sdtest::ReadFile(stateFile))["forecast"];
  const double byHand = kStart + (kRated * 0.9 - kErases0) / kErasesPerRun * kStep;
  EXPECT_LE(std::fabs(forecast["limit_timestamp"].get<double>() - byHand), 86400) << forecast;
  ExpectValidJson("card", stateFile);

  // `sdsmart history` reads files only, as a user without privileges.
  const Args nobody = AsNobody(Dir.path);
  if (nobody.empty())
    GTEST_SKIP() << "needs root and setpriv to run the history as another user";
  auto history_as_nobody = [&](const std::string &options) {
    Args args = nobody;
    for (const std::string &word : Words("history --state-dir " + State + " " + options))
      args.push_back(word);
    const Result r = Exec(args);
    EXPECT_EQ(r.Status, 0) << r.All();
    return Normalised(r.Out, Dir.path);
  };
  sdtest::ExpectGolden("history/card.txt", history_as_nobody("/dev/sdy"));
  sdtest::ExpectGolden("history/card-ascii.txt", history_as_nobody("--ascii " + kCid));
  sdtest::ExpectGolden("history/cards.txt", history_as_nobody(""));
  sdtest::WriteFile(Dir.File("card.json"), history_as_nobody("--json " + kCid));
  ExpectValidJson("history", Dir.File("card.json"));
}

// A torn last line (power loss) and a file of garbage: the card is read, the
// run says what it moved aside, and the history holds readings only
// afterwards; the lines moved are appended to the rejected file.
TEST_F(History, DamagedHistoryIsMovedAsideAndSaid) {
  const std::string card = Card("card", "/dev/sdx", kCid, kErases0);
  std::string path = State + "/history/" + kCid + ".jsonl";
  std::string rejected = State + "/history/" + kCid + ".rejected";
  for (const auto &[damage, said] :
       {std::pair<std::string, std::string>{"{\"time\":1735689600,\"remain",
                                            "moved 1 line that is no reading (the last one "
                                            "was cut off) to " +
                                                rejected},
        {"\x7f"
         "ELF\n\n{}\n[1,2]\n",
         "moved 3 lines that are no reading to " + rejected}}) {
    ASSERT_TRUE(sdsmart_tool::MakeDirectories(State + "/history", 0755));
    sdtest::WriteFile(path, damage);
    const Result r = Run(card, kStart, "/dev/sdx");
    ExpectRun(r, 0, path + ": " + said);
    ExpectRun(r, 0, "Wear rate: not enough history (1 reading over 0 days;");
    std::string text = sdtest::ReadFile(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.rfind("{\"time\":1735689600,\"remaining_percent\":90.0", 0), 0u) << text;
  }
  EXPECT_EQ(sdtest::ReadFile(rejected), "{\"time\":1735689600,\"remain\n\x7f"
                                        "ELF\n{}\n[1,2]\n");
}

// The command runs once per change, with the card's facts; a missing
// command is an error of the output bit and the reading stands (one that
// fails: tests/tools/hook_test.cpp).
TEST_F(History, OnChangeRunsOncePerChange) {
  std::string log = Dir.File("log"), hook = Dir.File("hook");
  sdtest::WriteFile(hook, "#!/bin/sh\necho \"$SDSMART_EVENTS|$SDSMART_VERDICT|"
                          "$SDSMART_PREVIOUS_VERDICT|$SDSMART_DEVICE|$SDSMART_CARD_ID|"
                          "$SDSMART_STATE_FILE|$SDSMART_REASONS|$SDSMART_LIFE_END\" >> " +
                              log + "\n");
  ::chmod(hook.c_str(), 0755);
  std::string good = Card("good", "/dev/sdx", kCid, kErases0);
  std::string worn = Card("worn", "/dev/sdx", kCid, kRated * 0.85);
  int64_t now = kStart;
  for (const auto &[card, status] :
       {std::pair{good, 0}, {good, 0}, {worn, 16}, {worn, 16}, {good, 0}, {good, 0}})
    ExpectRun(Run(card, now += 86400, "-H --on-change " + hook + " /dev/sdx"), status);
  sdtest::ExpectGolden("history/on-change.log", Normalised(sdtest::ReadFile(log), Dir.path));
  std::filesystem::remove_all(State + "/cards");
  ExpectRun(Run(worn, now, "-H --on-change /no/such/hook /dev/sdx"), 48,
            "error: --on-change /no/such/hook (verdict life-limit): cannot run it: No such file");
}

} // namespace
