// SPDX-License-Identifier: MIT
// The crash sweep: a full sdsmart run on an image-backed virtual card is
// killed (SIGKILL, the card's kill faults) before each of its transfers, or
// each of its host-file steps, in turn, and once past the end where it is
// not killed at all. After each kill `sdsmart --restore-sector0` runs with
// the same state directory, and the image's sector 0 must be the card's own
// again: never lost, never left holding a special-mode command pattern.
#include "tool_run.h"

#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

using namespace sdtest;
using Kind = EntrySector::Kind;

namespace {

struct Configuration {
  std::string transport, node; // the shipped card it derives from, its node
  int version;                 // SMART version: 2 sectors, 3 the host file
  std::string Name() const { return transport + ", SMART v" + std::to_string(version); }
};
const Configuration kConfigurations[] = {{"usb", "/dev/sdx", 2},
                                         {"usb", "/dev/sdx", 3},
                                         {"native", "/dev/mmcblk7", 2},
                                         {"native", "/dev/mmcblk7", 3}};

// A fresh folder with the shipped card of the configuration's transport,
// backed by card.img (a known sector 0, tool_run.h), and the runs on it.
struct Sandbox : ToolFolder {
  explicit Sandbox(const Configuration &config) : c(config) {
    card = Card(
        "card",
        [&](nlohmann::json &j) {
          j["image"] = Image();
          j["mount"]["point"] = dir.File("mnt"); // outlives each run, as a real card's does
        },
        kSource + "/sim/cards/" + c.transport + ".json");
    original = WriteImage(Image());
  }
  std::string Image() const { return dir.File("card.img"); }
  // A full run, with SIM_ARGS for the card.
  Result Tool(const std::string &simArgs = "") const {
    return Run("--card " + card + " " + simArgs,
               "--smart-version " + std::to_string(c.version) + " -H " + c.node);
  }
  Result Restore(const std::string &simArgs = "") const {
    return Run("--card " + card + " " + simArgs, "--restore-sector0 " + c.node);
  }
  // The plain C host (tests/crash/journal_host.c) with the state directory
  // as its journal directory: named by SetJournalDirectory, or by
  // SDSMART_JOURNAL_DIR alone.
  Result Host(const std::string &simArgs, bool byEnvironment) const {
    Args argv = UnderCard(Words("--card " + card + " " + simArgs),
                          {CRASH_JOURNAL_HOST, c.node, config, std::to_string(c.version),
                           byEnvironment ? "-" : state});
    if (byEnvironment)
      argv.insert(argv.begin(), {"/usr/bin/env", "SDSMART_JOURNAL_DIR=" + state});
    return Exec(argv);
  }
  bool Journal() const { return Exists(CSectorJournal(state, c.node).Path()); }
  Kind Left() const { return EntrySector::Classify(ImageSector0(Image()).data()); }
  bool HostFileLeft() const { return Exists(dir.File("mnt/SmartFile6459.txt")); }
  // The transfers (or host-file steps) in the transcript.
  size_t Seen(bool steps) const {
    size_t n = 0;
    for (const auto &t : Transfers(dir.File("transcript")))
      n += (t["what"].get<std::string>().rfind("file", 0) == 0) == steps;
    return n;
  }
  const Configuration c;
  std::string card;
  Sector original{};
};

std::string FaultAt(size_t k, const std::string &fault = "kill") {
  return "--fault " + fault + "@" + std::to_string(k);
}

// One kill point: the killed run, what it left, the next run and the outcome.
struct Point {
  size_t k = 0, seen = 0; // where it was killed; transfers (or steps) the card saw
  std::shared_ptr<Sandbox> box;
  Result killed, next;
  Kind patternLeft = Kind::OtherData;
  bool journalLeft = false, journalAfter = false, recovered = false;
};

class CrashSweep : public ToolTest, public ::testing::WithParamInterface<Configuration> {
protected:
  // For each kill point k in 0..count-1, in a fresh folder: killed(box, k),
  // a run killed at k, what it left, then next(box) and what that left; two
  // points at a time (the machine has two cores).
  template <typename Killed, typename Next>
  std::vector<Point> Sweep(size_t count, Killed killed, Next next, bool steps = false) {
    std::vector<Point> points(count);
    std::atomic<size_t> at{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
      workers.emplace_back([&] {
        for (size_t k; (k = at++) < count;) {
          Point &p = points[k];
          p.k = k;
          p.box = std::make_shared<Sandbox>(GetParam());
          p.killed = killed(*p.box, k);
          p.seen = p.box->Seen(steps);
          p.patternLeft = p.box->Left();
          p.journalLeft = p.box->Journal();
          p.next = next(*p.box);
          p.recovered =
              ImageSector0(p.box->Image()) == p.box->original && p.box->Left() == Kind::OtherData;
          p.journalAfter = p.box->Journal();
        }
      });
    for (std::thread &t : workers)
      t.join();
    return points;
  }

  // What every point shows: a pattern left behind has its copy saved, and
  // the next run brings sector 0 back and removes the journal. Returns the
  // points left in special mode.
  static size_t ExpectRecovered(const std::vector<Point> &points, const std::string &name) {
    size_t recovered = 0, inSpecialMode = 0;
    for (const Point &p : points) {
      SCOPED_TRACE(name + " at " + std::to_string(p.k));
      inSpecialMode += p.patternLeft != Kind::OtherData;
      if (p.patternLeft != Kind::OtherData) {
        EXPECT_TRUE(p.journalLeft) << "sector 0 holds a pattern and no copy was saved";
      }
      EXPECT_TRUE(p.recovered) << "sector 0 was not restored";
      EXPECT_FALSE(p.journalAfter) << "the next run removes the journal";
      recovered += p.recovered && !p.journalAfter;
    }
    std::cout << "[" << name << "] crash points: " << points.size() << ", recovered: " << recovered
              << ", left in special mode: " << inSpecialMode << std::endl;
    return inSpecialMode;
  }

  // A clean run: its transfers and host-file steps.
  std::pair<size_t, size_t> CleanRun() {
    const Sandbox box(GetParam());
    const Result run = box.Tool("--transcript " + box.dir.File("transcript"));
    EXPECT_EQ(run.Status & 7, 0) << run.Err;
    EXPECT_EQ(ImageSector0(box.Image()), box.original);
    EXPECT_FALSE(box.Journal());
    EXPECT_FALSE(box.HostFileLeft()) << "a finished run removes the host file";
    return {box.Seen(false), box.Seen(true)};
  }

  // The full run killed by `fault` before each of `events` in turn, and
  // once past the end (not killed), each followed by the restore.
  void SweepTool(const std::string &fault, size_t events) {
    const Configuration &c = GetParam();
    const auto points = Sweep(
        events + 1,
        [&](const Sandbox &b, size_t k) {
          return b.Tool("--transcript " + b.dir.File("transcript") + " " + FaultAt(k, fault));
        },
        [](const Sandbox &b) { return b.Restore(); }, fault == "file-kill");
    for (const Point &p : points) {
      SCOPED_TRACE(c.Name() + ", " + fault + " at " + std::to_string(p.k));
      EXPECT_EQ(p.k < events ? p.killed.Status : p.killed.Status & 7,
                p.k < events ? 128 + SIGKILL : 0)
          << p.killed.Err;
      EXPECT_EQ(p.seen, p.k < events ? p.k : events) << "the kill fell exactly before event k";
      EXPECT_EQ(p.next.Status, p.journalLeft ? 0 : 4) << p.next.Err;
      if (!p.journalLeft) {
        EXPECT_NE(p.next.Err.find("no saved sector 0"), std::string::npos) << p.next.Err;
      }
    }
    const size_t inSpecialMode = ExpectRecovered(points, c.Name() + ", " + fault);
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
    const Result again = mid->box->Tool();
    EXPECT_EQ(again.Status & 7, 0) << "after the restore of the kill at " << mid->k << again.Err;
    EXPECT_EQ(ImageSector0(mid->box->Image()), mid->box->original);
    EXPECT_FALSE(mid->box->HostFileLeft());
  }

  // The C host killed before each transfer of a full run in turn; its next
  // run restores sector 0 from the library's journal and reads the card.
  void SweepCHost(bool byEnvironment) {
    const Sandbox clean(GetParam());
    ASSERT_EQ(clean.Host("--transcript " + clean.dir.File("transcript"), byEnvironment).Status, 0);
    ASSERT_EQ(ImageSector0(clean.Image()), clean.original);
    ASSERT_GT(clean.Seen(false), 0u);
    const auto points = Sweep(
        clean.Seen(false),
        [&](const Sandbox &b, size_t k) { return b.Host(FaultAt(k), byEnvironment); },
        [&](const Sandbox &b) { return b.Host("", byEnvironment); });
    for (const Point &p : points) {
      EXPECT_EQ(p.killed.Status, 128 + SIGKILL) << p.killed.Err;
      EXPECT_EQ(p.next.Status, 0) << p.next.Err;
    }
    EXPECT_GT(ExpectRecovered(points, std::string(byEnvironment ? "C host, SDSMART_JOURNAL_DIR, "
                                                                : "C host, ") +
                                          GetParam().Name()),
              0u);
  }
};

TEST_P(CrashSweep, EveryTransferAndHostFileStepOfAFullRunIsRecovered) {
  const auto [transfers, steps] = CleanRun();
  ASSERT_GT(transfers, 0u);
  EXPECT_EQ(steps > 0, GetParam().version == 3) << "version 3 moves the data through the host file";
  SweepTool("kill", transfers);
  if (GetParam().version == 3)
    SweepTool("file-kill", steps);
}

// The restore itself may be killed too: before its write the card keeps its
// pattern and the journal stays; either way a second restore finishes.
TEST_P(CrashSweep, ARestoreKilledAtAnyTransferCanBeRunAgain) {
  const std::string killRun = FaultAt(CleanRun().first / 2);
  const Sandbox probe(GetParam());
  ASSERT_EQ(probe.Tool(killRun).Status, 128 + SIGKILL);
  ASSERT_EQ(probe.Restore("--transcript " + probe.dir.File("transcript")).Status, 0);
  ASSERT_GT(probe.Seen(false), 0u);
  const auto points = Sweep(
      probe.Seen(false),
      [&](const Sandbox &b, size_t k) {
        b.Tool(killRun); // as the probe: killed in special mode
        return b.Restore(FaultAt(k));
      },
      [](const Sandbox &b) { return b.Restore(); });
  for (const Point &p : points) {
    EXPECT_EQ(p.killed.Status, 128 + SIGKILL) << p.killed.Err;
    EXPECT_TRUE(p.journalLeft) << "the journal goes only after a verified write";
    EXPECT_EQ(p.next.Status, 0) << p.next.Err;
  }
  ExpectRecovered(points, GetParam().Name() + ", restore killed");
}

// A fleet agent in plain C with a journal directory, killed before each
// transfer of a full run in turn: its next run restores sector 0 from the
// library's journal and then reads the card.
TEST_P(CrashSweep, ACHostWithAJournalRecoversOnItsNextRun) { SweepCHost(false); }

// The same host that never calls SetJournalDirectory, with
// SDSMART_JOURNAL_DIR set as the packaged service sets it.
TEST_P(CrashSweep, ACHostWithOnlySdsmartJournalDirRecoversOnItsNextRun) { SweepCHost(true); }

INSTANTIATE_TEST_SUITE_P(Configurations, CrashSweep, ::testing::ValuesIn(kConfigurations),
                         [](const ::testing::TestParamInfo<Configuration> &info) {
                           return info.param.transport + "V" + std::to_string(info.param.version);
                         });

} // namespace
