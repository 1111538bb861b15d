// SPDX-License-Identifier: MIT
// --on-change commands that hang or fail, on virtual cards: the run ends at
// the command's time limit with nothing of the command left, fails with the
// output bit, keeps the cards of --all read, and a change stays to be
// announced until a command has taken it.
#include "sandbox.h"

#include <cerrno>
#include <tuple>

namespace sdsmart_tool {
namespace {

class Hooks : public Sandbox {
protected:
  // A card with about 5 % of its life left: its first reading announces
  // "verdict life-limit" (WARNING).
  std::string Worn(const std::string &node) {
    return "--card " + run.Card(node.substr(5), [&](json &c) {
      c["node"] = node;
      c["header"]["PECycleCount"] = 125;
    });
  }

  // A command that notes its pid and events, then does `body`.
  std::string Hook(const std::string &name, const std::string &body) {
    std::string path = Dir + "/" + name;
    WriteFileAtomically(path,
                        "#!/bin/sh\necho $$ >> " + Dir + "/pids\necho \"$SDSMART_EVENTS\" >> " +
                            Dir + "/events\n" + body + "\n",
                        0755, Sync::None);
    return path;
  }

  // Each command that ran is gone with its whole process group.
  void ExpectHooksGone(size_t count, int line = __builtin_LINE()) {
    SCOPED_TRACE("checked at line " + std::to_string(line));
    const std::string text = sdtest::ReadFile(Dir + "/pids");
    std::istringstream pids(text);
    size_t n = 0;
    for (pid_t pid; pids >> pid; ++n) {
      errno = 0;
      EXPECT_EQ(::kill(-pid, 0), -1) << "process group " << pid;
      EXPECT_EQ(errno, ESRCH) << "process group " << pid;
    }
    EXPECT_EQ(n, count) << text;
  }
};

// A command that never returns, after a single card and after each of the
// two cards of --all: stopped at its limit, the run fails with the output
// bit, and every card was read (none reported as timed out).
TEST_F(Hooks, HangingCommandIsStoppedAndFailsTheRun) {
  const std::string hang = Hook("hang", "sleep 1000");
  const std::string cards = Worn("/dev/sdx") + " " + Worn("/dev/sdy");
  const std::tuple<std::string, std::string, size_t> cases[] = {
      {"1", "/dev/sdx", 1},
      // The command's limit is as long as the card's: a run whose timeout
      // held the command too would be stopped mid-command.
      {"5", "--all --timeout 5 /dev/sdx /dev/sdy", 2}};
  for (const auto &[seconds, options, runs] : cases) {
    std::filesystem::remove_all(State);
    ::unlink((Dir + "/pids").c_str());
    const Result r = run.Run(cards, "-H --on-change " + hang + " --on-change-timeout " + seconds +
                                        " " + options);
    ExpectRun(r, kExitHealthWarning | kExitOutput,
              "error: --on-change " + hang + " (verdict life-limit): it did not finish within " +
                  seconds + " s and was stopped");
    EXPECT_EQ(r.Err.find("timed out"), std::string::npos) << r.Err;
    size_t read = 0;
    for (size_t at = 0; (at = r.Out.find("WARNING\n", at)) != std::string::npos; ++at)
      ++read;
    EXPECT_EQ(read, runs) << r.Out;
    ExpectHooksGone(runs);
  }
}

// A command that fails leaves the change unannounced: the run says so (as
// every message, on standard error and in the JSON document), and the next
// run, with a command that works, announces the same change; the run after
// that has nothing to announce.
TEST_F(Hooks, FailedCommandLeavesTheChangeToTheNextRun) {
  const std::string card = Worn("/dev/sdx"), fails = Hook("fails", "exit 3");
  ExpectRun(run.Run(card, "-H --on-change " + fails + " /dev/sdx"),
            kExitHealthWarning | kExitOutput,
            "error: --on-change " + fails +
                " (verdict life-limit): it exited with status 3; the next run announces the "
                "change again");
  const std::string works = Hook("works", "true");
  for (int i = 0; i < 2; ++i)
    ExpectRun(run.Run(card, "-H --on-change " + works + " /dev/sdx"), kExitHealthWarning);
  EXPECT_EQ(sdtest::ReadFile(Dir + "/events"), "verdict life-limit\nverdict life-limit\n");
  ExpectHooksGone(2);
}

} // namespace
} // namespace sdsmart_tool
