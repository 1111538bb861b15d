// SPDX-License-Identifier: MIT
// A fleet of virtual cards wearing at their own rates, read by timer runs of
// `sdsmart --all` at the card's clock, with faults drawn from a seeded
// generator; after every run the invariants a fleet relies on are checked,
// and the figures printed. The default is a short run of daily runs;
// SDSMART_SOAK_RUNS=N makes N hourly runs, SDSMART_SOAK_SEED another seed
// (docs/reliability.md).
#include "../tools/sandbox.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <tuple>

namespace sdsmart_tool {
namespace {

constexpr int kCards = 8;
constexpr int64_t kStart = 1735689600; // 2025-01-01 00:00 UTC
constexpr int64_t kDay = 86400;
constexpr double kUsedAtStart = 0.6; // of the rated life
constexpr unsigned kRated = 3000;    // PE cycles of the usb card
const double kRates[kCards] = {0, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.015, 0.02}; // a day

// The faults, one kind a run at most; "card" ones hit one card of the fleet.
enum Fault {
  kNone,
  kKill,
  kImplausible,
  kBusy,
  kClockBack,
  kClock1970,
  kHookFails,
  kHookHangs,
  kFifo
};
constexpr int kKinds = kFifo + 1;
const char *const kFaultNames[kKinds] = {"none",       "kill",       "implausible",
                                         "busy",       "clock-back", "clock-1970",
                                         "hook-fails", "hook-hangs", "textfile-fifo"};

// What a run may change of a path: its kind, size, time and inode.
using Entry = std::tuple<std::filesystem::file_type, int64_t, int64_t, ino_t>;
using Tree = std::map<std::string, Entry>;

Tree Snapshot(const std::string &dir) {
  Tree tree;
  for (const auto &e : std::filesystem::recursive_directory_iterator(dir)) {
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) == 0)
      tree[e.path().string()] = {e.symlink_status().type(), st.st_size,
                                 st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_ino};
  }
  return tree;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// A JSON object, or an empty one (a file not there, a line no reading).
json Object(const std::string &text) {
  json j = json::parse(text, nullptr, false);
  return j.is_object() ? j : json::object();
}

std::string Passed(const std::string &verdict) { return verdict.empty() ? "PASSED" : verdict; }

class Soak : public Sandbox {
protected:
  std::string Node(int i) const { return std::string("/dev/sd") + char('b' + i); }
  std::string Cid(int i) const {
    return "02544d5344534d31aa1234567" + std::to_string(i) + "019d01";
  }
  static std::string Hex(const std::string &bytes) {
    std::string hex;
    for (unsigned char c : bytes)
      hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    return hex;
  }
  // The card's own sector 0, as a card file gives it.
  std::string Sector0Hex(int i) const {
    std::string bytes(512, '\0');
    for (int k = 0; k < 512; ++k)
      bytes[k] = char((k * 131 + 7 + i * 17) & 0xFF);
    return Hex(bytes);
  }
  // What its image holds there.
  std::string Sector0(int i) const {
    std::string bytes(512, '\0');
    CUniqueFd fd(
        ::open((Dir + "/card" + std::to_string(i) + ".img").c_str(), O_RDONLY | O_CLOEXEC));
    return ::pread(fd.Get(), bytes.data(), bytes.size(), 0) == 512 ? Hex(bytes) : "";
  }
  bool Journal(int i) const {
    return ::access(CSectorJournal(State, Node(i)).Path().c_str(), F_OK) == 0;
  }
  // A card with `used` of its rated life spent, as its erase counts say.
  std::string WornCard(int i, double used, bool implausible, bool busy) {
    return Card("card" + std::to_string(i), [&](json &c) {
      c["node"] = Node(i);
      c["image"] = Dir + "/card" + std::to_string(i) + ".img";
      c["sector0"] = Sector0Hex(i);
      c["header"]["CID"] = Cid(i);
      c["erase_counts"] = {
          {"generate",
           {{"seed", 11 + i}, {"mean", int(used * kRated)}, {"spread", 15}, {"unused", 0}}}};
      if (implausible) // the lowest count above the highest
        c["header"]["MinEraseCount"] = 65000;
      if (busy)
        c["busy"]["header"] = 1000000;
    });
  }

  // A known failure of the tool is counted and shown apart.
  void Check(bool ok, const std::string &what, bool known = false) {
    ++Checks;
    if (!ok)
      (known ? Known : Violations)
          .push_back("run " + std::to_string(RunNo) + " (" + kFaultNames[Kind] + "): " + what);
  }

  int RunNo = 0;
  Fault Kind = kNone;
  size_t Checks = 0;
  std::vector<std::string> Violations, Known;
};

TEST_F(Soak, FleetOfWearingCardsUnderFaults) {
  const char *runsEnv = std::getenv("SDSMART_SOAK_RUNS"),
             *seedEnv = std::getenv("SDSMART_SOAK_SEED");
  const int runs = runsEnv ? std::atoi(runsEnv) : 40;
  const int64_t step = runsEnv ? 3600 : kDay;
  const unsigned seed = seedEnv ? unsigned(std::strtoul(seedEnv, nullptr, 10)) : 20261207u;
  std::cout << "soak: seed " << seed << ", " << runs << " runs, " << step << " s apart\n";
  std::mt19937 random(seed);
  const std::string prom = Dir + "/textfile.prom", hook = Dir + "/hook", log = Dir + "/hook.log",
                    mode = Dir + "/hook.mode";
  WriteFileAtomically(hook,
                      // Its line is its last step: a line with "works" is a change taken.
                      "#!/bin/sh\nm=$(cat " + mode +
                          ")\necho \"$SDSMART_DEVICE|$SDSMART_CARD_ID|"
                          "$SDSMART_EVENTS|$SDSMART_PREVIOUS_VERDICT|$SDSMART_VERDICT|$m|"
                          "$SDSMART_SECTOR0_RESTORED\" >> " +
                          log + "\ncase $m in fails*) exit 3;; hangs*) exec sleep 60;; esac\n",
                      0755, false);
  std::map<std::string, std::string> announced; // the last verdict a working hook took, per card
  std::map<std::string, int> lifeLimits, restoresAnnounced, journalsLeft;
  std::map<Fault, int> faults;
  size_t logSeen = 0, reported = 0, slowRuns = 0;
  std::vector<Fault> bag;
  for (RunNo = 0; RunNo < runs; ++RunNo) {
    // Half the runs have a fault, taken from a shuffled bag of every kind.
    if (bag.empty()) {
      for (int k = kKill; k < kKinds; ++k)
        bag.push_back(Fault(k));
      std::shuffle(bag.begin(), bag.end(), random);
    }
    Kind = std::uniform_int_distribution<int>(0, 1)(random) ? kNone : bag.back();
    if (Kind != kNone)
      bag.pop_back();
    const int victim = std::uniform_int_distribution<int>(0, kCards - 1)(random);
    const int killAt = std::uniform_int_distribution<int>(1, 45)(random);
    ++faults[Kind];
    const int64_t day = RunNo * step;
    int64_t now = kStart + day;
    if (Kind == kClockBack)
      now -= 3 * kDay;
    if (Kind == kClock1970)
      now = 10 * kDay;
    Args sim = {"--now", std::to_string(now)};
    for (int i = 0; i < kCards; ++i)
      sim.insert(sim.end(), {"--card", WornCard(i, kUsedAtStart + kRates[i] * day / kDay,
                                                Kind == kImplausible && i == victim,
                                                Kind == kBusy && i == victim)});
    if (Kind == kKill)
      sim.insert(sim.end(), {"--kill", std::to_string(killAt)});
    WriteFileAtomically(mode,
                        std::string(Kind == kHookFails   ? "fails"
                                    : Kind == kHookHangs ? "hangs"
                                                         : "works") +
                            " run " + std::to_string(RunNo),
                        0644, false);
    ::unlink(prom.c_str());
    if (Kind == kFifo)
      ::mkfifo(prom.c_str(), 0644);
    std::map<std::string, std::string> lastLine;
    for (int i = 0; i < kCards; ++i) {
      const auto lines = Lines(sdtest::ReadFile(State + "/history/" + Cid(i) + ".jsonl"));
      lastLine[Cid(i)] = lines.empty() ? "" : lines.back();
    }
    const Tree before = Snapshot(Dir);
    const Result r =
        Run(sim, Tool({"--all", "--prometheus=" + prom, "--on-change", hook, "--on-change-timeout",
                       "5", "--timeout", "10", "--warn-life", "20", "--fail-life", "10"}));

    std::ofstream(Dir + "/runs.log", std::ios::app) // every run's messages, for a look
        << "run " << RunNo << " (" << kFaultNames[Kind] << "): " << r.Status << "\n"
        << r.Err;
    // The run ended (within the tool's own bounds) with an exit status.
    Check(r.Status >= 0, "the run did not end");
    // Each sector 0 is the card's own, or a journal names it after a kill.
    for (int i = 0; i < kCards; ++i) {
      const bool own = Sector0(i) == Sector0Hex(i), journal = Journal(i);
      Check(own || (journal && Kind == kKill), Node(i) + ": sector 0 is not its own");
      Check(!journal || Kind == kKill, Node(i) + ": a journal is left behind");
      journalsLeft[Node(i)] += journal;
    }
    // Nothing but the tool's own regular files changed.
    const Tree after = Snapshot(Dir);
    for (const auto &[path, entry] : after) {
      if (path.rfind(State, 0) == 0) { // the tool's folders, files, links within
        const std::filesystem::path p(path);
        const auto type = std::get<0>(entry);
        using T = std::filesystem::file_type;
        Check(type == T::regular || type == T::directory ||
                  (type == T::symlink && std::filesystem::weakly_canonical(
                                             p.parent_path() / std::filesystem::read_symlink(p))
                                                 .string()
                                                 .rfind(State + "/", 0) == 0),
              path + ": no regular file of the tool");
        continue;
      }
      const auto was = before.find(path);
      const bool ours = path == log || path == Dir + "/runs.log" || path == Dir + "/stdout" ||
                        path == Dir + "/stderr" || path.find(".img") != std::string::npos;
      if (path == prom)
        Check(std::get<0>(entry) == (Kind == kFifo ? std::filesystem::file_type::fifo
                                                   : std::filesystem::file_type::regular),
              "the textfile path changed its kind");
      else
        Check(ours || (was != before.end() && was->second == entry), path + " changed");
    }
    for (const auto &[path, entry] : before)
      Check(path.rfind(State + "/", 0) == 0 || after.count(path), path + " is gone");
    // Every failure shows in the exit status, and in the textfile's series.
    const auto events = Lines(sdtest::ReadFile(log));
    std::vector<std::string> fresh(events.begin() + long(logSeen), events.end());
    logSeen = events.size();
    if (Kind == kKill)
      Check(r.Status != 0, "killed card runs, exit status 0");
    if (Kind == kBusy)
      Check(r.Status & kExitAcquisition, "busy card, exit status " + std::to_string(r.Status));
    if (Kind == kFifo)
      Check(r.Status & kExitOutput, "textfile is a FIFO, exit status " + std::to_string(r.Status));
    if ((Kind == kHookFails || Kind == kHookHangs) && !fresh.empty())
      Check(r.Status & kExitOutput, "failed hook, exit status " + std::to_string(r.Status));
    if (Kind != kFifo) {
      std::map<std::string, int> series, read;
      for (const std::string &line : Lines(sdtest::ReadFile(prom)))
        for (auto *m : {&series, &read})
          if (line.rfind(m == &series ? "sdsmart_exit_status{" : "sdsmart_smart_read_success{",
                         0) == 0)
            (*m)[line.substr(line.find('{'), line.rfind(' ') - line.find('{'))] =
                std::atoi(line.substr(line.rfind(' ') + 1).c_str());
      int all = 0;
      bool unread = false; // a card not read whose series says all went well (known to fail)
      for (const auto &[labels, bits] : series) {
        all |= bits;
        unread |= bits == 0 && read[labels] == 0;
      }
      Check(all == r.Status,
            "textfile's sdsmart_exit_status " + std::to_string(all) + ", exit status " +
                std::to_string(r.Status),
            unread);
    }
    // A working hook the tool stopped at its limit (a machine too busy): the
    // tool says so and fails the run; its change is announced again.
    const bool slow =
        Kind != kHookHangs && r.Err.find("did not finish within") != std::string::npos;
    if (slow)
      ++slowRuns,
          Check(r.Status & kExitOutput, "a stopped hook, exit status " + std::to_string(r.Status));
    // Each change is announced once to a working hook, in order.
    for (const std::string &e : fresh) {
      std::vector<std::string> f;
      std::istringstream in(e);
      for (std::string part; std::getline(in, part, '|');)
        f.push_back(part);
      f.resize(7);
      if (f[5].rfind("works", 0) != 0)
        continue;
      std::string &last = announced[f[1]]; // "" stands for PASSED
      if (f[2].find("verdict") != std::string::npos) {
        Check(Passed(f[3]) == Passed(last) && f[4] != f[3], e + ": not the change from " + last);
        last = f[4];
      }
      lifeLimits[f[1]] += f[2].find("life-limit") != std::string::npos;
      Check(lifeLimits[f[1]] <= 2, e + ": a life limit announced again");
      restoresAnnounced[f[0]] += f[2].find("sector0-restored") != std::string::npos;
      Check(restoresAnnounced[f[0]] <= journalsLeft[f[0]], e + ": a restore never needed");
    }
    // The history: dated in order, from a set clock; what a working hook
    // took is the standing verdict; a contradicting reading stays out of the
    // forecast.
    for (int i = 0; i < kCards; ++i) {
      const auto lines = Lines(sdtest::ReadFile(State + "/history/" + Cid(i) + ".jsonl"));
      int64_t previous = 0;
      for (const std::string &line : lines) {
        const json reading = Object(line);
        const int64_t time = reading.value("time", int64_t(0));
        Check(time >= previous && time >= 1577836800, Cid(i) + ": reading out of order " + line);
        previous = std::max(previous, time);
      }
      // The forecast end lies near the date the card's wear rate gives.
      const json forecast = Object(sdtest::ReadFile(State + "/cards/" + Cid(i) + ".json"))
                                .value("forecast", json::object());
      const bool ok = forecast.value("status", "") == "ok";
      if (ok && kRates[i] == 0) // no wear: no end date (known to fail)
        Check(false, Cid(i) + ": a card without wear has a forecast " + forecast.dump(), true);
      else if (ok && forecast.value("days", 0.0) >= 20) {
        const double byRate = kStart + (0.9 - kUsedAtStart) / kRates[i] * kDay,
                     at = forecast["limit_timestamp"].get<double>();
        Check(std::fabs(at - byRate) <= 5 * kDay + 0.25 * std::fabs(byRate - double(kStart + day)),
              Cid(i) + ": forecast end " + forecast.dump());
      }
      if (lines.empty() || lines.back() == lastLine[Cid(i)])
        continue; // no reading this run
      const json reading = Object(lines.back());
      if (Kind == kImplausible && i == victim)
        Check(reading.value("implausible", false), Cid(i) + ": implausible reading counted");
      if (Kind != kHookFails && Kind != kHookHangs && Kind != kKill && !slow) {
        const std::string &last = announced[Cid(i)];
        Check(Passed(last) == reading.value("verdict", ""),
              Cid(i) + ": verdict " + reading.value("verdict", "") + " announced as " + last);
      }
    }
    if (Violations.size() + Known.size() > reported) // what the run said, once
      std::cout << "soak: run " << RunNo << " said:\n" << r.Err.substr(0, 4000);
    reported = Violations.size() + Known.size();
  }
  std::cout << "soak: " << runs << " runs; faults:";
  for (int k = 0; k < kKinds; ++k)
    std::cout << " " << kFaultNames[k] << " " << faults[Fault(k)];
  std::cout << "; runs with a working hook stopped at its limit " << slowRuns << "; " << Checks
            << " checks, " << Violations.size() << " violations, " << Known.size()
            << " known failures\n";
  for (const std::string &v : Known)
    std::cout << "soak: known failure (seed " << seed << "): " << v << "\n";
  for (const std::string &v : Violations)
    std::cout << "soak: violation (seed " << seed << "): " << v << "\n";
  EXPECT_TRUE(Violations.empty());
  if (!Violations.empty()) { // kept for a look
    std::cout << "soak: the runs' folder is kept: " << Dir << "\n";
    Dir.clear();
  }
}

} // namespace
} // namespace sdsmart_tool
