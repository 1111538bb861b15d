// SPDX-License-Identifier: MIT
// A fleet of virtual cards wearing at their own rates, read by timer runs of
// `sdsmart --all` at the card's clock, with faults drawn from a seeded
// generator; after every run the invariants a fleet relies on are checked.
// The default is a short run of daily runs; SDSMART_SOAK_RUNS=N makes N
// hourly runs (`make soak`), SDSMART_SOAK_SEED another seed.
#include "run/run_status.h"
#include "tool_run.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>

namespace sdsmart_tool {
namespace {

using nlohmann::json;
using sdtest::Args;
using sdtest::ReadFile;

constexpr int kCards = 8;
constexpr int64_t kStart = 1735689600, kDay = 86400; // 2025-01-01 UTC
constexpr double kUsedAtStart = 0.6;                 // of the rated life
constexpr unsigned kRated = 3000;                    // PE cycles of the card
const double kRates[kCards] = {0, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.015, 0.02}; // a day
// A run's bound: every card's --timeout and its hook's limit, with room.
constexpr int kBoundSeconds = kCards * (10 + 5) + 60;
// One fault a run at most; the card faults hit one card of the fleet. The
// last needs a mount namespace (root).
const std::vector<std::string> kFaults = {
    "none",      "kill",          "swap",       "rename",     "implausible",
    "busy",      "clock-back",    "clock-1970", "hook-fails", "hook-hangs",
    "hook-slow", "textfile-fifo", "full-disk"};

// In a mount namespace of its own: the state folder $1 copied to a small
// file system filled up, the run ("$@") on it, what it left copied back.
const char *const kFullDiskRun = R"(s=$1; shift; d=$s.full
mkdir "$d" && mount -t tmpfs -o size=32m,mode=0755 soak "$d" || exit 125
cp -a "$s/." "$d/" && (cat /dev/zero >"$d/.filler") 2>/dev/null
"$@"; status=$?
rm "$d/.filler" && rm -r "$s" && mkdir "$s" && cp -a "$d/." "$s/" && umount "$d" && rmdir "$d" || exit 125
exit $status)";

std::vector<std::string> Split(const std::string &text, char at = '\n') {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, at);)
    parts.push_back(part);
  return parts;
}

// Each path's kind, time and inode.
std::map<std::string, std::string> Snapshot(const std::string &dir) {
  std::map<std::string, std::string> tree;
  for (const auto &e : std::filesystem::recursive_directory_iterator(dir)) {
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) == 0)
      tree[e.path()] = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                       std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ino);
  }
  return tree;
}

// A JSON object, or an empty one (a file not there, a line no reading).
json Object(const std::string &text) {
  json j = json::parse(text, nullptr, false);
  return j.is_object() ? j : json::object();
}

std::string Hex(const std::string &bytes) {
  std::string hex;
  for (unsigned char c : bytes)
    hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  return hex;
}

class Soak : public sdtest::ToolTest {
protected:
  static std::string Cid(int i) {
    return "02544d5344534d31aa1234567" + std::to_string(i) + "019d01";
  }
  std::string Image(int i) const { return Folder.dir.File("card" + std::to_string(i) + ".img"); }
  // The card's own sector 0: a DOS table of one partition from sector 2048,
  // whose boot sector (the card's number) tells cards without a CID apart.
  static std::string OwnBytes(int i) {
    std::string bytes(512, '\0');
    for (int k = 0; k < 446; ++k)
      bytes[k] = char((k * 131 + 7 + i * 17) & 0xFF);
    bytes[446 + 4] = 0x0c, bytes[446 + 9] = 0x08, bytes[446 + 14] = 0x01; // 65536 from 2048
    bytes[510] = 0x55, bytes[511] = char(0xAA);
    return bytes;
  }
  // Hexadecimal, as card files and journals hold it.
  static std::string Own(int i) { return Hex(OwnBytes(i)); }
  bool Journal(int i) const {
    for (const auto &e : std::filesystem::recursive_directory_iterator(Folder.state))
      if (e.path().extension() == ".journal" &&
          ReadFile(e.path()).find("sector0 " + Own(i)) != std::string::npos)
        return true;
    return false;
  }
  // A card at `node` with `used` of its rated life spent, as its erase
  // counts say.
  std::string Card(int i, const std::string &node, double used, const std::string &fault) const {
    return Folder.Card("card" + std::to_string(i), [&](json &c) {
      c["node"] = node, c["image"] = Image(i), c["sector0"] = Own(i), c["header"]["CID"] = Cid(i);
      c["erase_counts"]["generate"] = {
          {"seed", 11 + i}, {"mean", int(used * kRated)}, {"spread", 15}, {"unused", 0}};
      if (fault == "implausible") // the lowest count above the highest
        c["header"]["MinEraseCount"] = 65000;
      if (fault == "busy")
        c["busy"]["header"] = 1000000;
    });
  }
  void Check(bool ok, const std::string &what) {
    ++Checks;
    if (!ok)
      Violations.push_back("run " + std::to_string(RunNo) + " (" + Kind + "): " + what + "\n" +
                           Said);
  }
  sdtest::ToolFolder Folder;
  int RunNo = 0;
  std::string Kind, Said; // the run's fault, and the start of what it said
  size_t Checks = 0;
  std::vector<std::string> Violations;
};

TEST_F(Soak, FleetOfWearingCardsUnderFaults) {
  const char *runsEnv = std::getenv("SDSMART_SOAK_RUNS"),
             *seedEnv = std::getenv("SDSMART_SOAK_SEED");
  const int runs = runsEnv ? std::atoi(runsEnv) : 40;
  const int64_t step = runsEnv ? 3600 : kDay;
  const unsigned seed = seedEnv ? unsigned(std::strtoul(seedEnv, nullptr, 10)) : 20261207u;
  std::cout << "soak: seed " << seed << ", " << runs << " runs, " << step << " s apart\n";
  std::mt19937 random(seed);
  const std::string dir = Folder.dir.path, state = Folder.state, prom = dir + "/textfile.prom",
                    hook = dir + "/hook", log = dir + "/hook.log", mode = dir + "/hook.mode";
  // The hook's line is its last step: a line of a working hook is a change taken.
  sdtest::WriteFile(
      hook, "#!/bin/sh\nm=$(cat " + mode + ")\ncase $m in hook-slow) sleep 2;; esac\n" +
                "echo \"$SDSMART_CARD_ID|$SDSMART_EVENTS|$SDSMART_PREVIOUS_VERDICT|"
                "$SDSMART_VERDICT|$m|$SDSMART_SECTOR0_RESTORED\" >> " +
                log + "\ncase $m in hook-fails) exit 3;; hook-hangs) exec sleep 60;; esac\n");
  ::chmod(hook.c_str(), 0755);
  std::vector<std::string> node;
  for (int i = 0; i < kCards; ++i) {
    node.push_back(std::string("/dev/sd") + char('b' + i));
    std::ofstream image(Image(i), std::ios::binary);
    image << OwnBytes(i) << std::string(2047 * 512, '\0') << "soak card " << i;
  }
  std::map<std::string, std::string> announced;         // the verdict a working hook took, per card
  std::map<std::string, int> kills, faults;             // per card, and per fault
  std::map<std::string, std::set<std::string>> repairs; // per card, the journals' times
  size_t logSeen = 0;
  std::vector<std::string> bag;
  for (RunNo = 0; RunNo < runs; ++RunNo) {
    // Half the runs have a fault, taken from a shuffled bag of every kind.
    if (bag.empty()) {
      bag.assign(kFaults.begin() + 1, kFaults.end() - (::geteuid() != 0));
      std::shuffle(bag.begin(), bag.end(), random);
    }
    Kind = std::uniform_int_distribution<int>(0, 1)(random) ? "none" : bag.back();
    if (Kind != "none")
      bag.pop_back();
    ++faults[Kind];
    const int victim = std::uniform_int_distribution<int>(0, kCards - 1)(random);
    const int killAt = std::uniform_int_distribution<int>(1, 45)(random);
    if (Kind == "swap") // two cards change places, for good
      std::swap(node[victim], node[(victim + 1) % kCards]);
    if (Kind == "rename") { // a card comes back under a node name no card has now
      std::string name;
      do
        name =
            std::string("/dev/sd") + char('b' + std::uniform_int_distribution<int>(0, 24)(random));
      while (std::count(node.begin(), node.end(), name));
      node[victim] = name;
    }
    const int64_t day = RunNo * step;
    const int64_t now = Kind == "clock-back"   ? kStart + day - 3 * kDay
                        : Kind == "clock-1970" ? 10 * kDay
                                               : kStart + day;
    Args sim = {"--now", std::to_string(now)};
    for (int i = 0; i < kCards; ++i)
      sim.insert(sim.end(), {"--card", Card(i, node[i], kUsedAtStart + kRates[i] * day / kDay,
                                            i == victim ? Kind : "none")});
    if (Kind == "kill")
      sim.insert(sim.end(), {"--kill", std::to_string(killAt)});
    sdtest::WriteFile(mode, Kind);
    ::unlink(prom.c_str());
    if (Kind == "textfile-fifo")
      ::mkfifo(prom.c_str(), 0644);
    std::map<int, size_t> readingsBefore;
    for (int i = 0; i < kCards; ++i)
      readingsBefore[i] = Split(ReadFile(state + "/history/" + Cid(i) + ".jsonl")).size();
    Args tool =
        Folder.Tool({"--all", "--prometheus=" + prom, "--on-change", hook, "--on-change-timeout",
                     "5", "--timeout", "10", "--warn-life", "20", "--fail-life", "10"});
    Args wrap; // a full disk: the state folder's copy on a file system with no room left
    if (Kind == "full-disk") {
      std::replace(tool.begin(), tool.end(), state, state + ".full");
      wrap = {"/usr/bin/unshare", "-m", "/bin/sh", "-c", kFullDiskRun, "soak", state};
    }
    const auto before = Snapshot(dir);
    Args run = {"/usr/bin/timeout", "-k", "5", std::to_string(kBoundSeconds)}; // 124 past it
    for (const Args &part : {wrap, sdtest::UnderCard(sim, tool)})
      run.insert(run.end(), part.begin(), part.end());
    const sdtest::Result r = sdtest::Exec(run);
    Said = r.Err.substr(0, 400);
    Check(r.Status != 124 && r.Status != 125,
          "the run did not end within its bound, or no full disk");

    // Each sector 0 is the card's own, or a journal holds it after a kill.
    for (int i = 0; i < kCards; ++i) {
      const bool own = Hex(ReadFile(Image(i)).substr(0, 512)) == Own(i), journal = Journal(i);
      Check(own || journal, node[i] + ": sector 0 is not its own and no journal holds it");
      Check(!journal || !own || Kind == "kill", node[i] + ": a journal is left behind");
      kills[Cid(i)] += journal;
    }
    // Nothing but the tool's own regular files changed.
    const auto after = Snapshot(dir);
    for (const auto &[path, entry] : after) {
      const auto type = std::filesystem::symlink_status(path).type();
      using T = std::filesystem::file_type;
      if (path == state || path.rfind(state + "/", 0) == 0)
        Check(type == T::regular || type == T::directory ||
                  (type == T::symlink &&
                   std::filesystem::canonical(path).string().rfind(state, 0) == 0),
              path + ": no regular file of the tool's");
      else if (path == prom)
        Check(type == (Kind == "textfile-fifo" ? T::fifo : T::regular), "the textfile's kind");
      else if (path != log && path.find(".img") == std::string::npos)
        Check(before.count(path) && before.at(path) == entry, path + " changed");
    }
    for (const auto &[path, entry] : before)
      Check(path.rfind(state + "/", 0) == 0 || after.count(path), path + " is gone");
    // Every failure shows in the exit status, and in the textfile's series.
    const auto events = Split(ReadFile(log));
    const std::vector<std::string> fresh(events.begin() + long(logSeen), events.end());
    logSeen = events.size();
    const bool hookFailed = (Kind == "hook-fails" || Kind == "hook-hangs") && !fresh.empty(),
               slowed =
                   Kind != "hook-hangs" && r.Err.find("did not finish within") != std::string::npos;
    const bool mustFail = Kind == "kill" || Kind == "busy" || Kind == "textfile-fifo" ||
                          Kind == "full-disk" || hookFailed || slowed;
    Check(!mustFail || r.Status != 0, "a failure, exit status 0");
    Check(!(hookFailed || slowed || Kind == "textfile-fifo") || (r.Status & kExitOutput),
          "an output failure, exit status " + std::to_string(r.Status));
    if (Kind != "textfile-fifo" && Kind != "full-disk") {
      int all = 0, found = -1, read = -1;
      for (const std::string &line : Split(ReadFile(prom))) {
        const int value = std::atoi(line.substr(line.rfind(' ') + 1).c_str());
        if (line.rfind("sdsmart_exit_status{", 0) == 0)
          all |= value;
        else if (line.rfind("sdsmart_devices{state=\"found\"}", 0) == 0)
          found = value;
        else if (line.rfind("sdsmart_devices{state=\"read\"}", 0) == 0)
          read = value;
      }
      Check(all == r.Status, "textfile's exit status " + std::to_string(all) + ", exit status " +
                                 std::to_string(r.Status));
      // No card is lost to the scan, and a run without a card fault reads every card.
      Check(found == kCards && (read == kCards || Kind == "kill" || Kind == "busy"),
            std::to_string(found) + " cards found, " + std::to_string(read) + " read");
    }
    // Each change is announced once to a working hook, in order; no more
    // repairs than kills left to do (a repair not taken is announced again).
    for (const std::string &e : fresh) {
      std::vector<std::string> f = Split(e, '|');
      f.resize(6);
      if (f[1].find("sector0-restored") != std::string::npos)
        repairs[f[0]].insert(f[5]);
      Check(repairs[f[0]].size() <= size_t(kills[f[0]]),
            e + ": a repair announced that was never needed");
      std::string &last = announced[f[0]]; // "" stands for PASSED
      if (f[4] == "hook-fails" || f[4] == "hook-hangs" || f[1].find("verdict") == std::string::npos)
        continue;
      Check((f[2].empty() ? "PASSED" : f[2]) == (last.empty() ? "PASSED" : last) && f[3] != f[2],
            e + ": not the change from " + last);
      last = f[3];
    }
    // The history: dated in order from a set clock; the verdict a working
    // hook took stands; a contradicting reading is marked; the forecast ends
    // near the date the card's wear rate gives.
    for (int i = 0; i < kCards; ++i) {
      const auto lines = Split(ReadFile(state + "/history/" + Cid(i) + ".jsonl"));
      int64_t previous = 0;
      for (const std::string &line : lines) {
        const int64_t time = Object(line).value("time", int64_t(0));
        Check(time >= previous && time >= 1577836800, Cid(i) + ": reading out of order " + line);
        previous = std::max(previous, time);
      }
      const json forecast = Object(
          Object(ReadFile(state + "/cards/" + Cid(i) + ".json")).value("forecast", json()).dump());
      if (forecast.value("status", "") == "ok") {
        Check(kRates[i] > 0, Cid(i) + ": a card without wear has an end date");
        const double byRate = kStart + (0.9 - kUsedAtStart) / kRates[i] * kDay;
        Check(forecast.value("days", 0.0) < 20 ||
                  std::fabs(forecast.value("limit_timestamp", 0.0) - byRate) <=
                      5 * kDay + 0.25 * std::fabs(byRate - double(kStart + day)),
              Cid(i) + ": forecast end " + forecast.dump());
      }
      if (lines.size() <= readingsBefore[i])
        continue; // no reading this run
      const json reading = Object(lines.back());
      if (Kind == "implausible" && i == victim)
        Check(reading.value("implausible", false), Cid(i) + ": implausible reading counted");
      const std::string &taken = announced[Cid(i)];
      if (Kind != "hook-fails" && Kind != "hook-hangs" && Kind != "kill" && !slowed)
        Check((taken.empty() ? "PASSED" : taken) == reading.value("verdict", ""),
              Cid(i) + ": verdict " + reading.value("verdict", "") + " announced as " + taken);
    }
  }
  std::cout << "soak: " << runs << " runs; faults:";
  for (const std::string &k : kFaults)
    std::cout << " " << k << " " << faults[k];
  std::cout << "; " << Checks << " checks, " << Violations.size() << " violations\n";
  for (const std::string &v : Violations)
    std::cout << "soak: violation (seed " << seed << "): " << v << "\n";
  EXPECT_TRUE(Violations.empty());
}

} // namespace
} // namespace sdsmart_tool
