// SPDX-License-Identifier: MIT
// The crash sweep: a full sdsmart run on an image-backed virtual card is
// killed (SIGKILL, the card's kill faults) before each of its transfers, or
// each of its host-file steps, in turn, and once past the end where it is
// not killed at all. After each kill `sdsmart --restore-sector0` runs with
// the same state directory, and the image's sector 0 must be the card's own
// again: never lost, never left holding a special-mode command pattern.
#include "config/codec.h"
#include "sector0/sector0.h"
#include "support.h"
#include "util/files.h"

#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <iostream>
#include <thread>
#include <vector>

using namespace sdtest;
using sdsmart_tool::Sector;
using Kind = EntrySector::Kind;

namespace {

const std::string kBin = std::string(SDSMART_BINARY_DIR) + "/bin/";

struct Configuration {
  std::string transport, node; // the shipped card it derives from, its node
  int version;                 // SMART version: 2 sectors, 3 the host file
  std::string Name() const { return transport + ", SMART v" + std::to_string(version); }
};
const Configuration kConfigurations[] = {{"usb", "/dev/sdx", 2},
                                         {"usb", "/dev/sdx", 3},
                                         {"native", "/dev/mmcblk7", 2},
                                         {"native", "/dev/mmcblk7", 3}};

struct Outcome {
  int status = -1; // exit status, or 128 + signal
  std::string err;
};

Sector ImageSector0(const std::string &dir) {
  const std::string bytes = ReadFile(dir + "/card.img");
  Sector s{};
  EXPECT_GE(bytes.size(), s.size()) << dir;
  std::copy_n(bytes.begin(), std::min(bytes.size(), s.size()), s.begin());
  return s;
}

// Transfers and host-file steps in a JSON-lines transcript (the host's own
// events, such as locks and closes, carry no "lba").
std::pair<size_t, size_t> CountTranscript(const std::string &path) {
  std::istringstream lines(ReadFile(path));
  size_t transfers = 0, steps = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"lba\"") != std::string::npos)
      ++(line.find("\"what\":\"file") != std::string::npos ? steps : transfers);
  return {transfers, steps};
}

// One kill point: the killed run, what it left, the restore and the outcome.
struct Point {
  size_t k = 0, seen = 0; // where it was killed; transfers (or steps) the card saw
  std::string dir;
  Sector original{}, finalSector0{};
  Outcome run, restore;
  Kind patternLeft = Kind::OtherData;
  bool journalLeft = false, journalAfterRestore = false;
  bool Recovered() const {
    return finalSector0 == original &&
           EntrySector::Classify(finalSector0.data()) == Kind::OtherData;
  }
};

class CrashSweep : public ::testing::TestWithParam<Configuration> {
protected:
  void SetUp() override {
    if (::access((kBin + "sdsim").c_str(), X_OK) != 0)
      GTEST_SKIP() << "the card launcher is not built";
    const std::string plain = ReadFile(std::string(SDSMART_SOURCE_DIR) + "/demo/config.ini");
    WriteFile(config, sdsmart_tool::EncodeConfig(plain));
  }

  // The shipped card of the configuration's transport, made small (64 MiB)
  // and backed by card.img, whose sector 0 holds known bytes that are no
  // command pattern, as a partition table would. Returns that sector.
  Sector MakeSandbox(const Configuration &c, const std::string &dir) {
    EXPECT_TRUE(sdsmart_tool::MakeDirectories(dir + "/state", 0755));
    auto card = nlohmann::json::parse(
        ReadFile(std::string(SDSMART_SOURCE_DIR) + "/sim/cards/" + c.transport + ".json"));
    card["capacity_bytes"] = 64 * 1024 * 1024;
    card["image"] = dir + "/card.img";
    card["mount"]["point"] = dir + "/mnt"; // outlives each run, as a real card's does
    WriteFile(dir + "/card.json", card.dump());
    Sector s{};
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
    s[510] = 0x55;
    s[511] = 0xAA;
    WriteFile(dir + "/card.img", std::string(s.begin(), s.end()));
    return s;
  }

  // sdsim --card DIR/card.json SIM_ARGS -- sdsmart ARGS, output beside NAME.
  Outcome Launch(const std::string &dir, const std::string &simArgs, const std::string &args,
                 const std::string &name) {
    Outcome r;
    r.status = RunShell(kBin + "sdsim --card " + dir + "/card.json " + simArgs + " -- " + kBin +
                        "sdsmart --state-dir " + dir + "/state " + args + " >" + dir + "/" + name +
                        ".out 2>" + dir + "/" + name + ".err");
    r.err = ReadFile(dir + "/" + name + ".err");
    return r;
  }
  Outcome Tool(const Configuration &c, const std::string &dir, const std::string &simArgs = "") {
    return Launch(dir, simArgs,
                  "--config " + config + " --smart-version " + std::to_string(c.version) + " -H " +
                      c.node,
                  "run");
  }
  Outcome Restore(const Configuration &c, const std::string &dir, const std::string &simArgs = "",
                  const std::string &name = "restore") {
    return Launch(dir, simArgs, "--restore-sector0 " + c.node, name);
  }
  bool JournalExists(const Configuration &c, const std::string &dir) {
    return Exists(CSectorJournal(dir + "/state", c.node).Path());
  }

  // The plain C host (tests/crash/journal_host.c) with DIR/state as its
  // journal directory, under the card launcher: named by SetJournalDirectory,
  // or by SDSMART_JOURNAL_DIR alone.
  Outcome Host(const Configuration &c, const std::string &dir, const std::string &simArgs,
               const std::string &name) {
    Outcome r;
    const std::string state = dir + "/state";
    r.status = RunShell((byEnvironment ? "SDSMART_JOURNAL_DIR=" + state + " " : std::string()) +
                        kBin + "sdsim --card " + dir + "/card.json " + simArgs + " -- " +
                        CRASH_JOURNAL_HOST + " " + c.node + " " + config + " " +
                        std::to_string(c.version) + " " + (byEnvironment ? "-" : state) + " >" +
                        dir + "/" + name + ".out 2>" + dir + "/" + name + ".err");
    r.err = ReadFile(dir + "/" + name + ".err");
    return r;
  }

  // A fresh sandbox, the run killed by `fault` at k, then the restore.
  Point KillAndRestore(const Configuration &c, const std::string &fault, size_t k) {
    Point p;
    p.k = k;
    p.dir = scratch.File(c.transport + std::to_string(c.version) + fault + std::to_string(k));
    p.original = MakeSandbox(c, p.dir);
    p.run =
        Tool(c, p.dir,
             "--transcript " + p.dir + "/transcript --fault " + fault + "@" + std::to_string(k));
    const auto [transfers, steps] = CountTranscript(p.dir + "/transcript");
    p.seen = fault == "kill" ? transfers : steps;
    p.journalLeft = JournalExists(c, p.dir);
    p.patternLeft = EntrySector::Classify(ImageSector0(p.dir).data());
    p.restore = Restore(c, p.dir);
    p.finalSector0 = ImageSector0(p.dir);
    p.journalAfterRestore = JournalExists(c, p.dir);
    return p;
  }

  // make(i) for i in 0..count-1, two at a time (the machine has two cores).
  template <typename Make> std::vector<Point> Parallel(size_t count, Make make) {
    std::vector<Point> points(count);
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
      workers.emplace_back([&] {
        for (size_t i; (i = next++) < count;)
          points[i] = make(i);
      });
    for (std::thread &t : workers)
      t.join();
    return points;
  }

  // A clean run: its transfers and host-file steps.
  std::pair<size_t, size_t> CleanRun(const Configuration &c) {
    const std::string dir = scratch.File(c.transport + std::to_string(c.version) + "clean");
    const Sector original = MakeSandbox(c, dir);
    const Outcome run = Tool(c, dir, "--transcript " + dir + "/transcript");
    EXPECT_EQ(run.status & 7, 0) << run.err;
    EXPECT_EQ(ImageSector0(dir), original);
    EXPECT_FALSE(JournalExists(c, dir));
    EXPECT_FALSE(Exists(dir + "/mnt/SmartFile6459.txt")) << "a finished run removes the host file";
    return CountTranscript(dir + "/transcript");
  }

  // Sweeps kill points 0..events (the last one past the end: not killed).
  void Sweep(const Configuration &c, const std::string &fault, size_t events) {
    const std::vector<Point> points =
        Parallel(events + 1, [&](size_t k) { return KillAndRestore(c, fault, k); });
    size_t recovered = 0, inSpecialMode = 0;
    for (const Point &p : points) {
      SCOPED_TRACE(c.Name() + ", " + fault + " at " + std::to_string(p.k));
      recovered += p.Recovered();
      inSpecialMode += p.patternLeft != Kind::OtherData;
      EXPECT_EQ(p.finalSector0, p.original) << "sector 0 was not restored";
      EXPECT_EQ(EntrySector::Classify(p.finalSector0.data()), Kind::OtherData);
      EXPECT_EQ(p.k < events ? p.run.status : p.run.status & 7, p.k < events ? 128 + SIGKILL : 0)
          << p.run.err;
      EXPECT_EQ(p.seen, p.k < events ? p.k : events) << "the kill fell exactly before event k";
      if (p.patternLeft != Kind::OtherData) {
        EXPECT_TRUE(p.journalLeft) << "sector 0 holds a pattern and no copy was saved";
      }
      EXPECT_EQ(p.restore.status, p.journalLeft ? 0 : 4) << p.restore.err;
      if (!p.journalLeft) {
        EXPECT_NE(p.restore.err.find("no saved sector 0"), std::string::npos) << p.restore.err;
      }
      EXPECT_FALSE(p.journalAfterRestore) << "the restore removes the journal";
    }
    std::cout << "[" << c.Name() << ", " << fault << "] crash points: " << points.size()
              << ", recovered: " << recovered << ", left in special mode: " << inSpecialMode
              << std::endl;
    EXPECT_EQ(recovered, points.size());
    if (fault == "file-kill") {
      EXPECT_EQ(inSpecialMode, events) << "every host-file step happens in special mode";
      return;
    }
    // A card killed in special mode and restored reads normally again, and a
    // host file a killed version-3 run left behind is gone after the next run.
    const Point *mid = nullptr;
    for (const Point &p : points)
      if (p.patternLeft != Kind::OtherData && (!mid || p.k <= events / 2))
        mid = &p;
    ASSERT_NE(mid, nullptr) << "no kill point left the card in special mode";
    const Outcome again = Tool(c, mid->dir);
    EXPECT_EQ(again.status & 7, 0) << "after the restore of the kill at " << mid->k << again.err;
    EXPECT_EQ(ImageSector0(mid->dir), mid->original);
    EXPECT_FALSE(Exists(mid->dir + "/mnt/SmartFile6459.txt"));
  }

  // Sweeps the C host killed before each transfer of a full run in turn.
  void SweepCHost(const Configuration &c);

  ScratchDir scratch;
  std::string config = scratch.File("config");
  bool byEnvironment = false;
};

TEST_P(CrashSweep, EveryTransferAndHostFileStepOfAFullRunIsRecovered) {
  const Configuration &c = GetParam();
  const auto [transfers, steps] = CleanRun(c);
  ASSERT_GT(transfers, 0u);
  EXPECT_EQ(steps > 0, c.version == 3) << "version 3 moves the data through the host file";
  Sweep(c, "kill", transfers);
  if (c.version == 3)
    Sweep(c, "file-kill", steps);
}

// The restore itself may be killed too: before its write the card keeps its
// pattern and the journal stays; either way a second restore finishes.
TEST_P(CrashSweep, ARestoreKilledAtAnyTransferCanBeRunAgain) {
  const Configuration &c = GetParam();
  const std::string killRun = "--fault kill@" + std::to_string(CleanRun(c).first / 2);
  const std::string probe = scratch.File(c.transport + std::to_string(c.version) + "probe");
  MakeSandbox(c, probe);
  ASSERT_EQ(Tool(c, probe, killRun).status, 128 + SIGKILL);
  ASSERT_EQ(Restore(c, probe, "--transcript " + probe + "/restore-transcript").status, 0);
  const size_t restoreTransfers = CountTranscript(probe + "/restore-transcript").first;
  ASSERT_GT(restoreTransfers, 0u);
  const auto points = Parallel(restoreTransfers, [&](size_t k) {
    Point p;
    p.dir = scratch.File(c.transport + std::to_string(c.version) + "restore" + std::to_string(k));
    p.original = MakeSandbox(c, p.dir);
    Tool(c, p.dir, killRun); // as the probe: killed in special mode
    p.run = Restore(c, p.dir, "--fault kill@" + std::to_string(k), "first-restore");
    p.journalLeft = JournalExists(c, p.dir);
    p.restore = Restore(c, p.dir);
    p.finalSector0 = ImageSector0(p.dir);
    p.journalAfterRestore = JournalExists(c, p.dir);
    return p;
  });
  for (const Point &p : points) {
    EXPECT_EQ(p.run.status, 128 + SIGKILL) << p.run.err;
    EXPECT_TRUE(p.journalLeft) << "the journal goes only after a verified write";
    EXPECT_EQ(p.restore.status, 0) << p.restore.err;
    EXPECT_TRUE(p.Recovered());
    EXPECT_FALSE(p.journalAfterRestore);
  }
}

// A fleet agent in plain C with a journal directory, killed before each
// transfer of a full run in turn: its next run restores sector 0 from the
// library's journal and then reads the card.
TEST_P(CrashSweep, ACHostWithAJournalRecoversOnItsNextRun) { SweepCHost(GetParam()); }

// The same host that never calls SetJournalDirectory, with
// SDSMART_JOURNAL_DIR set as the packaged service sets it.
TEST_P(CrashSweep, ACHostWithOnlySdsmartJournalDirRecoversOnItsNextRun) {
  byEnvironment = true;
  SweepCHost(GetParam());
}

void CrashSweep::SweepCHost(const Configuration &c) {
  const std::string clean = scratch.File(c.transport + std::to_string(c.version) + "host");
  const Sector original = MakeSandbox(c, clean);
  ASSERT_EQ(Host(c, clean, "--transcript " + clean + "/transcript", "clean").status, 0);
  ASSERT_EQ(ImageSector0(clean), original);
  const size_t transfers = CountTranscript(clean + "/transcript").first;
  ASSERT_GT(transfers, 0u);
  const auto points = Parallel(transfers, [&](size_t k) {
    Point p;
    p.k = k;
    p.dir = scratch.File(c.transport + std::to_string(c.version) + "host" + std::to_string(k));
    p.original = MakeSandbox(c, p.dir);
    p.run = Host(c, p.dir, "--fault kill@" + std::to_string(k), "killed");
    p.patternLeft = EntrySector::Classify(ImageSector0(p.dir).data());
    p.journalLeft = JournalExists(c, p.dir);
    p.restore = Host(c, p.dir, "", "next");
    p.finalSector0 = ImageSector0(p.dir);
    p.journalAfterRestore = JournalExists(c, p.dir);
    return p;
  });
  size_t recovered = 0, inSpecialMode = 0;
  for (const Point &p : points) {
    SCOPED_TRACE("C host killed before transfer " + std::to_string(p.k));
    EXPECT_EQ(p.run.status, 128 + SIGKILL) << p.run.err;
    inSpecialMode += p.patternLeft != Kind::OtherData;
    if (p.patternLeft != Kind::OtherData) {
      EXPECT_TRUE(p.journalLeft) << "sector 0 holds a pattern and no copy was saved";
    }
    EXPECT_EQ(p.restore.status, 0) << p.restore.err;
    EXPECT_FALSE(p.journalAfterRestore) << "a completed run removes its journal";
    recovered += p.restore.status == 0 && p.Recovered() && !p.journalAfterRestore;
  }
  std::cout << (byEnvironment ? "[C host, SDSMART_JOURNAL_DIR, " : "[C host, ") << c.Name()
            << "] crash points: " << points.size() << ", recovered: " << recovered
            << " (left in special mode: " << inSpecialMode << ")" << std::endl;
  EXPECT_GT(inSpecialMode, 0u);
  EXPECT_EQ(recovered, points.size());
}

INSTANTIATE_TEST_SUITE_P(Configurations, CrashSweep, ::testing::ValuesIn(kConfigurations),
                         [](const ::testing::TestParamInfo<Configuration> &info) {
                           return info.param.transport + "V" + std::to_string(info.param.version);
                         });

} // namespace
