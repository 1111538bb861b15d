// A plain C host with a journal directory, killed (SIGKILL, the card's Kill
// fault) before each transfer of a full run in turn, on both transports and
// both SMART versions: the next run of the same host on the same card
// restores sector 0 from the journal, then reads the card.
#include "crash_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

namespace crash {
namespace {

class JournalHost : public Sandbox {
protected:
  Result Host(const Configuration &c, const std::string &dir, const std::vector<std::string> &sim,
              const std::string &name) {
    std::vector<std::string> argv{kBin + "sdsim", "--card", dir + "/card.json"};
    argv.insert(argv.end(), sim.begin(), sim.end());
    for (const std::string &a : {std::string("--"), std::string(CRASH_JOURNAL_HOST), c.node,
                                 config_, std::to_string(c.version), dir + "/state"})
      argv.push_back(a);
    return Spawn(argv, dir + "/" + name);
  }
};

TEST_F(JournalHost, EveryTransferOfAFullRunIsRecoveredByTheNextRun) {
  size_t all_points = 0, all_recovered = 0;
  for (const Configuration &c : Configurations()) {
    SCOPED_TRACE(c.Name());
    const std::string clean = SandboxDir(c, "host-clean");
    const Sector original = MakeSandbox(c, clean);
    const Result first = Host(c, clean, {"--transcript", clean + "/transcript"}, "clean");
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(ImageSector0(clean + "/card.img"), original);
    ASSERT_FALSE(JournalExists(c, clean));
    std::string text;
    sdsmart_tool::ReadWholeFile(clean + "/transcript", text);
    const size_t transfers = CountTranscript(text).transfers;
    ASSERT_GT(transfers, 0u);

    const std::vector<Point> points = Parallel(transfers, [&](size_t k) {
      Point p;
      p.k = k;
      p.dir = SandboxDir(c, "host-kill" + std::to_string(k));
      p.original = MakeSandbox(c, p.dir);
      p.run = Host(c, p.dir, {"--fault", "kill@" + std::to_string(k)}, "killed");
      p.pattern_left = Pattern(ImageSector0(p.dir + "/card.img"));
      p.journal_left = JournalExists(c, p.dir);
      p.restore = Host(c, p.dir, {}, "next");
      p.final_sector0 = ImageSector0(p.dir + "/card.img");
      p.journal_after_restore = JournalExists(c, p.dir);
      return p;
    });
    size_t recovered = 0, in_special_mode = 0;
    for (const Point &p : points) {
      SCOPED_TRACE("killed before transfer " + std::to_string(p.k));
      EXPECT_EQ(p.run.status, 128 + SIGKILL) << p.run.err;
      if (p.pattern_left != Kind::OtherData) {
        ++in_special_mode;
        EXPECT_TRUE(p.journal_left) << "sector 0 holds a pattern and no copy was saved";
      }
      EXPECT_EQ(p.restore.status, 0) << p.restore.err;
      EXPECT_EQ(p.final_sector0, p.original) << "sector 0 was not restored";
      EXPECT_FALSE(p.journal_after_restore) << "a completed run removes its journal";
      recovered += p.restore.status == 0 && p.Recovered() && !p.journal_after_restore;
    }
    EXPECT_GT(in_special_mode, 0u);
    std::cout << "[C host, " << c.Name() << "] full run: " << transfers
              << " transfers; crash points: " << points.size() << ", recovered: " << recovered
              << " (left in special mode: " << in_special_mode << ")" << std::endl;
    all_points += points.size();
    all_recovered += recovered;
  }
  std::cout << "[C host, overall] crash points: " << all_points << ", recovered: " << all_recovered
            << std::endl;
  EXPECT_EQ(all_recovered, all_points);
}

} // namespace
} // namespace crash
