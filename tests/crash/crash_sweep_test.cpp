// The crash sweep: a full sdsmart run on an image-backed virtual card is
// killed (SIGKILL, the card's Kill fault) before each of its transfers in
// turn, and one point past the end where it is not killed at all. After each
// kill `sdsmart --restore-sector0` runs with the same state directory, and
// the card image's sector 0 must be the card's own again: never lost, never
// left holding a special-mode command pattern.
#include "crash_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

namespace crash {
namespace {

class CrashSweep : public Sandbox {};

// Checks every point of one configuration's sweep over `events` (ioctl
// transfers, or host-file steps when file_steps is set) and returns the
// number of recovered points.
size_t CheckSweep(const Configuration &c, size_t events, const std::vector<Point> &points,
                  bool file_steps) {
  size_t recovered = 0;
  for (const Point &p : points) {
    SCOPED_TRACE(c.Name() + ", kill at " + (file_steps ? "host-file step " : "transfer ") +
                 std::to_string(p.k));
    const size_t seen = file_steps ? p.file_steps_seen : p.transfers_seen;
    if (p.Recovered())
      ++recovered;
    EXPECT_EQ(p.final_sector0, p.original) << "sector 0 was not restored";
    EXPECT_EQ(crash::Pattern(p.final_sector0), Kind::OtherData);
    if (p.k < events) {
      EXPECT_EQ(p.run.status, 128 + SIGKILL) << p.run.err;
      // The kill fell exactly before event k: the card saw k of them.
      EXPECT_EQ(seen, p.k);
    } else {
      EXPECT_EQ(p.run.status & 7, 0) << p.run.err;
      EXPECT_EQ(seen, events);
      EXPECT_FALSE(p.journal_left) << "a completed run removes its journal";
    }
    // A card left in special mode always has a journal to restore it from.
    if (p.pattern_left != Kind::OtherData) {
      EXPECT_TRUE(p.journal_left) << "sector 0 holds a pattern and no copy was saved";
    }
    if (p.journal_left) {
      EXPECT_EQ(p.restore.status, 0) << p.restore.err;
    } else {
      EXPECT_EQ(p.restore.status, 4) << p.restore.err;
      EXPECT_NE(p.restore.err.find("no saved sector 0"), std::string::npos) << p.restore.err;
    }
    EXPECT_FALSE(p.journal_after_restore) << "the restore removes the journal";
  }
  return recovered;
}

TEST_F(CrashSweep, EveryTransferIndexOfAFullRunIsRecovered) {
  size_t all_points = 0, all_recovered = 0;
  for (const Configuration &c : Configurations()) {
    SCOPED_TRACE(c.Name());
    // The clean run: how many transfers a full run takes.
    Clean clean = CleanRun(c);
    ASSERT_EQ(clean.run.status & 7, 0) << clean.run.err;
    ASSERT_EQ(clean.final_sector0, clean.original);
    ASSERT_GT(clean.transfers, 0u);
    if (c.version == 3) {
      // The data really came through the host file.
      EXPECT_GT(clean.file_steps, 0u);
      EXPECT_NE(clean.transcript.find("\"what\":\"enter v3\""), std::string::npos);
    } else {
      EXPECT_EQ(clean.file_steps, 0u);
      EXPECT_EQ(clean.transcript.find("\"what\":\"enter v3\""), std::string::npos);
    }

    std::vector<size_t> ks;
    for (size_t k = 0; k <= clean.transfers; ++k)
      ks.push_back(k);
    std::vector<Point> points = SweepTransfers(c, ks);
    size_t recovered = CheckSweep(c, clean.transfers, points, false);
    size_t in_special_mode = 0, journaled = 0, host_files = 0;
    for (const Point &p : points) {
      in_special_mode += p.pattern_left != Kind::OtherData;
      journaled += p.journal_left;
      host_files += p.host_file_left;
    }
    std::cout << "[" << c.Name() << "] full run: " << clean.transfers << " transfers, "
              << clean.file_steps << " host-file steps; crash points: " << points.size()
              << ", recovered: " << recovered << " (left in special mode: " << in_special_mode
              << ", with a journal: " << journaled << ", host file left: " << host_files << ")"
              << std::endl;
    all_points += points.size();
    all_recovered += recovered;

    // A card whose run was killed in special mode and then restored reads
    // normally again: the last such kill in the first half of the run (for
    // version 3 one that left the host file behind).
    const Point *mid = nullptr;
    for (const Point &p : points)
      if (p.pattern_left != Kind::OtherData && (!mid || p.k <= clean.transfers / 2))
        mid = &p;
    ASSERT_NE(mid, nullptr) << "no kill point left the card in special mode";
    Result again = RunTool(c, mid->dir, {});
    EXPECT_EQ(again.status & 7, 0)
        << "after the restore of the kill at " << mid->k << ": " << again.err;
    EXPECT_EQ(ImageSector0(mid->dir + "/card.img"), mid->original);
    EXPECT_FALSE(JournalExists(c, mid->dir));
    // A host file a killed version-3 run left on the card's file system is
    // gone after the next run.
    EXPECT_FALSE(HostFileExists(mid->dir));
  }
  std::cout << "[overall] crash points: " << all_points << ", recovered: " << all_recovered
            << std::endl;
  EXPECT_EQ(all_recovered, all_points);
}

// The restore itself may be killed too: before its write the card keeps its
// pattern and the journal stays, after it the card is whole again; either
// way a second restore finishes the job.
TEST_F(CrashSweep, ARestoreKilledAtAnyTransferCanBeRunAgain) {
  size_t all_points = 0, all_recovered = 0;
  for (const Configuration &c : Configurations()) {
    SCOPED_TRACE(c.Name());
    Clean clean = CleanRun(c);
    ASSERT_EQ(clean.run.status & 7, 0) << clean.run.err;
    const std::string kill_run = "kill@" + std::to_string(clean.transfers / 2);

    // How many transfers a restore takes.
    std::string probe = SandboxDir(c, "restore-probe");
    MakeSandbox(c, probe);
    ASSERT_EQ(RunTool(c, probe, {"--fault", kill_run}).status, 128 + SIGKILL);
    ASSERT_NE(Pattern(ImageSector0(probe + "/card.img")), Kind::OtherData);
    Result r = RunRestore(c, probe, {"--transcript", probe + "/restore-transcript"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string text;
    sdsmart_tool::ReadWholeFile(probe + "/restore-transcript", text);
    const size_t restore_transfers = CountTranscript(text).transfers;
    ASSERT_GT(restore_transfers, 0u);

    std::vector<Point> points = Parallel(restore_transfers, [&](size_t i) {
      Point p;
      p.k = i;
      p.dir = SandboxDir(c, "restore-kill" + std::to_string(i));
      p.original = MakeSandbox(c, p.dir);
      RunTool(c, p.dir, {"--fault", kill_run}); // as the probe: killed in special mode
      p.run = RunRestore(
          c, p.dir,
          {"--fault", "kill@" + std::to_string(i), "--transcript", p.dir + "/restore-transcript"},
          "first-restore");
      std::string seen;
      sdsmart_tool::ReadWholeFile(p.dir + "/restore-transcript", seen);
      p.transfers_seen = CountTranscript(seen).transfers;
      p.journal_left = JournalExists(c, p.dir);
      p.pattern_left = Pattern(ImageSector0(p.dir + "/card.img"));
      p.restore = RunRestore(c, p.dir);
      p.final_sector0 = ImageSector0(p.dir + "/card.img");
      p.journal_after_restore = JournalExists(c, p.dir);
      return p;
    });
    size_t recovered = 0;
    for (const Point &p : points) {
      SCOPED_TRACE("restore killed at transfer " + std::to_string(p.k));
      recovered += p.Recovered();
      EXPECT_EQ(p.run.status, 128 + SIGKILL) << p.run.err;
      EXPECT_EQ(p.transfers_seen, p.k);
      EXPECT_TRUE(p.journal_left) << "the journal goes only after a verified write";
      EXPECT_EQ(p.restore.status, 0) << p.restore.err;
      EXPECT_EQ(p.final_sector0, p.original);
      EXPECT_FALSE(p.journal_after_restore);
    }
    std::cout << "[" << c.Name() << ", restore killed] crash points: " << points.size()
              << ", recovered: " << recovered << std::endl;
    all_points += points.size();
    all_recovered += recovered;
  }
  std::cout << "[overall, restore killed] crash points: " << all_points
            << ", recovered: " << all_recovered << std::endl;
  EXPECT_EQ(all_recovered, all_points);
}

// The card's Kill fault counts ioctl transfers only; between two of them a
// version-3 run does its host-file steps, with the card in special mode.
// The step killer stops the run before each of them in turn.
TEST_F(CrashSweep, EveryHostFileStepOfAVersion3RunIsRecovered) {
#ifndef SDSIM_LIBRARY
  GTEST_SKIP() << "the card library is not built";
#else
  size_t all_points = 0, all_recovered = 0;
  for (const Configuration &c : Configurations()) {
    if (c.version != 3)
      continue;
    SCOPED_TRACE(c.Name());
    Clean clean = CleanRun(c);
    ASSERT_EQ(clean.run.status & 7, 0) << clean.run.err;
    ASSERT_GT(clean.file_steps, 0u);
    std::vector<size_t> js;
    for (size_t j = 0; j <= clean.file_steps; ++j)
      js.push_back(j);
    std::vector<Point> points = SweepFileSteps(c, js);
    size_t recovered = CheckSweep(c, clean.file_steps, points, true);
    size_t in_special_mode = 0;
    for (const Point &p : points)
      if (p.pattern_left != Kind::OtherData)
        ++in_special_mode;
    // Every host-file step happens in special mode.
    EXPECT_EQ(in_special_mode, clean.file_steps);
    std::cout << "[" << c.Name() << ", host-file steps] crash points: " << points.size()
              << ", recovered: " << recovered << std::endl;
    all_points += points.size();
    all_recovered += recovered;
  }
  std::cout << "[overall, host-file steps] crash points: " << all_points
            << ", recovered: " << all_recovered << std::endl;
  EXPECT_EQ(all_recovered, all_points);
#endif
}

} // namespace
} // namespace crash
