// Running the built sdsmart tool under the virtual card launcher, on cards
// backed by image files, for the crash sweep: one sandbox folder per run
// (card file, image, state directory, transcript), runs two at a time.
#pragma once

#include "config_codec.h"
#include "files.h"
#include "sector0.h"

#include "interface/journal.h"
#include "smart/entry_sector.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace crash {

using sdsmart_tool::Sector;

inline const std::string kBin = std::string(SDSMART_BINARY_DIR) + "/bin/";
inline const std::string kSource = SDSMART_SOURCE_DIR;

// Runs of the sweep in flight at once (the machine has two cores).
constexpr unsigned kParallelRuns = 2;

struct Configuration {
  std::string transport; // "usb" or "native": the shipped card it derives from
  std::string node;
  int version; // SMART version: 2 sectors, 3 the host file on the mounted card
  std::string Name() const { return transport + ", SMART v" + std::to_string(version); }
};

inline std::vector<Configuration> Configurations() {
  return {{"usb", "/dev/sdx", 2},
          {"usb", "/dev/sdx", 3},
          {"native", "/dev/mmcblk7", 2},
          {"native", "/dev/mmcblk7", 3}};
}

struct Result {
  int status = -1; // exit status, or 128 + signal
  std::string out, err;
};

using Kind = EntrySector::Kind;
inline Kind Pattern(const Sector &s) { return EntrySector::Classify(s.data()); }

// Sector 0 of an image file, read from the file itself.
inline Sector ImageSector0(const std::string &image) {
  Sector s{};
  int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << image;
  if (fd >= 0) {
    EXPECT_EQ(::pread(fd, s.data(), s.size(), 0), static_cast<ssize_t>(s.size())) << image;
    ::close(fd);
  }
  return s;
}

// The extension-mode host file on the sandbox card's file system.
inline bool HostFileExists(const std::string &dir) {
  return ::access((dir + "/mnt/SmartFile6459.txt").c_str(), F_OK) == 0;
}

inline bool JournalExists(const Configuration &c, const std::string &dir) {
  return ::access(CSectorJournal(dir + "/state", c.node).Path().c_str(), F_OK) == 0;
}

// Transfers and host-file steps in a JSON-lines transcript (host events such
// as closes and locks carry no "lba").
struct Counts {
  size_t transfers = 0, file_steps = 0;
};
inline Counts CountTranscript(const std::string &text) {
  Counts n;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start) {
      nlohmann::json line = nlohmann::json::parse(text.substr(start, end - start), nullptr, false);
      if (!line.is_discarded() && line.contains("lba")) {
        if (line["what"].get<std::string>().rfind("file", 0) == 0)
          ++n.file_steps;
        else
          ++n.transfers;
      }
    }
    start = end + 1;
  }
  return n;
}

// Runs argv with stdout and stderr in files beside `prefix`.
inline Result Spawn(const std::vector<std::string> &argv, const std::string &prefix) {
  std::vector<char *> args;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const std::string out = prefix + ".out", err = prefix + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  Result r;
  int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    r.err = "cannot start " + argv[0];
    return r;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  sdsmart_tool::ReadWholeFile(out, r.out);
  sdsmart_tool::ReadWholeFile(err, r.err);
  return r;
}

// One kill point: the killed run, what it left, the restore and the outcome.
struct Point {
  size_t k = 0;    // the index the run was killed at (transfer or host-file step)
  std::string dir; // its sandbox
  Sector original{};
  Result run;
  size_t transfers_seen = 0, file_steps_seen = 0;
  bool journal_left = false;
  bool host_file_left = false;
  Kind pattern_left = Kind::OtherData;
  Result restore;
  Sector final_sector0{};
  bool journal_after_restore = false;
  bool Recovered() const {
    return final_sector0 == original && Pattern(final_sector0) == Kind::OtherData;
  }
};

struct Clean {
  Result run;
  std::string transcript;
  size_t transfers = 0, file_steps = 0;
  Sector original{}, final_sector0{};
};

class Sandbox : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access((kBin + "sdsim").c_str(), X_OK) != 0 ||
        ::access((kBin + "sdsmart").c_str(), X_OK) != 0)
      GTEST_SKIP() << "sdsim or sdsmart is not built";
    char tmpl[] = "/tmp/sdsmart-crash-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    config_ = dir_ + "/config";
    std::string plain;
    ASSERT_TRUE(sdsmart_tool::ReadWholeFile(kSource + "/demo/config.ini", plain));
    sdsmart_tool::WriteFileAtomically(config_, sdsmart_tool::EncodeConfig(plain), 0644, false);
  }
  void TearDown() override {
    if (!dir_.empty())
      std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // A sandbox: the shipped card of the configuration's transport, made small
  // (64 MiB) and backed by card.img, whose sector 0 holds known bytes that
  // are no command pattern, as a partition table would. Returns sector 0.
  Sector MakeSandbox(const Configuration &c, const std::string &dir) {
    EXPECT_TRUE(sdsmart_tool::MakeDirectories(dir + "/state", 0755));
    std::string text;
    EXPECT_TRUE(sdsmart_tool::ReadWholeFile(kSource + "/sim/cards/" + c.transport + ".json", text));
    nlohmann::json card = nlohmann::json::parse(text);
    card["capacity_bytes"] = 64 * 1024 * 1024;
    card["image"] = dir + "/card.img";
    // The card's file system outlives each run, as a real card's does.
    card["mount"]["point"] = dir + "/mnt";
    EXPECT_EQ(card["node"], c.node);
    EXPECT_TRUE(card.contains("mount")) << "the host file needs a mounted card";
    sdsmart_tool::WriteFileAtomically(dir + "/card.json", card.dump(2), 0644, false);
    Sector s{};
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
    s[510] = 0x55;
    s[511] = 0xAA;
    std::string data(s.begin(), s.end());
    data.resize(1024 * 1024, '\0'); // the card extends it to its size
    sdsmart_tool::WriteFileAtomically(dir + "/card.img", data, 0644, false);
    return s;
  }

  // sdsim --card DIR/card.json [sim_args] -- sdsmart -H DEVICE with the
  // sandbox's state directory and the configuration's SMART version.
  // `wrapper` goes in front of the tool on its command line.
  Result RunTool(const Configuration &c, const std::string &dir,
                 const std::vector<std::string> &sim_args, const std::string &name = "run",
                 const std::vector<std::string> &wrapper = {}) {
    std::vector<std::string> argv{kBin + "sdsim", "--card", dir + "/card.json"};
    argv.insert(argv.end(), sim_args.begin(), sim_args.end());
    argv.push_back("--");
    argv.insert(argv.end(), wrapper.begin(), wrapper.end());
    for (const std::string &a :
         {kBin + "sdsmart", std::string("--config"), config_, std::string("--state-dir"),
          dir + "/state", std::string("--smart-version"), std::to_string(c.version),
          std::string("-H"), c.node})
      argv.push_back(a);
    return Spawn(argv, dir + "/" + name);
  }

  Result RunRestore(const Configuration &c, const std::string &dir,
                    const std::vector<std::string> &sim_args = {},
                    const std::string &name = "restore") {
    std::vector<std::string> argv{kBin + "sdsim", "--card", dir + "/card.json"};
    argv.insert(argv.end(), sim_args.begin(), sim_args.end());
    for (const std::string &a :
         {std::string("--"), kBin + "sdsmart", std::string("--restore-sector0"),
          std::string("--state-dir"), dir + "/state", c.node})
      argv.push_back(a);
    return Spawn(argv, dir + "/" + name);
  }

  std::string SandboxDir(const Configuration &c, const std::string &tag) const {
    return dir_ + "/" + c.transport + "-v" + std::to_string(c.version) + "-" + tag;
  }

  Clean CleanRun(const Configuration &c) {
    Clean clean;
    std::string dir = SandboxDir(c, "clean");
    clean.original = MakeSandbox(c, dir);
    clean.run = RunTool(c, dir, {"--transcript", dir + "/transcript"});
    sdsmart_tool::ReadWholeFile(dir + "/transcript", clean.transcript);
    Counts n = CountTranscript(clean.transcript);
    clean.transfers = n.transfers;
    clean.file_steps = n.file_steps;
    clean.final_sector0 = ImageSector0(dir + "/card.img");
    EXPECT_FALSE(JournalExists(c, dir));
    EXPECT_FALSE(HostFileExists(dir)) << "a finished run removes the host file";
    return clean;
  }

  // One point: a fresh sandbox, the run with the given faults (none: the run
  // completes), then the restore under the same card.
  Point KillAndRestore(const Configuration &c, size_t k, const std::string &tag,
                       const std::vector<std::string> &faults,
                       const std::vector<std::string> &wrapper = {}) {
    Point p;
    p.k = k;
    p.dir =
        dir_ + "/" + c.transport + "-v" + std::to_string(c.version) + "-" + tag + std::to_string(k);
    p.original = MakeSandbox(c, p.dir);
    std::vector<std::string> sim_args{"--transcript", p.dir + "/transcript"};
    sim_args.insert(sim_args.end(), faults.begin(), faults.end());
    p.run = RunTool(c, p.dir, sim_args, "run", wrapper);
    std::string transcript;
    sdsmart_tool::ReadWholeFile(p.dir + "/transcript", transcript);
    Counts n = CountTranscript(transcript);
    p.transfers_seen = n.transfers;
    p.file_steps_seen = n.file_steps;
    p.journal_left = JournalExists(c, p.dir);
    p.host_file_left = HostFileExists(p.dir);
    p.pattern_left = Pattern(ImageSector0(p.dir + "/card.img"));
    p.restore = RunRestore(c, p.dir);
    p.final_sector0 = ImageSector0(p.dir + "/card.img");
    p.journal_after_restore = JournalExists(c, p.dir);
    return p;
  }

  // Runs make(i) for i in 0..count-1, kParallelRuns at a time.
  template <typename Make> std::vector<Point> Parallel(size_t count, Make make) {
    std::vector<Point> points(count);
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < kParallelRuns; ++w)
      workers.emplace_back([&] {
        for (size_t i; (i = next++) < count;)
          points[i] = make(i);
      });
    for (std::thread &t : workers)
      t.join();
    return points;
  }

  // Kill points at ioctl transfer indices (the card's Kill fault); the last
  // index of a sweep is the transfer count of a full run, which has no such
  // transfer: that run is not killed and completes.
  std::vector<Point> SweepTransfers(const Configuration &c, const std::vector<size_t> &ks) {
    return Parallel(ks.size(), [&](size_t i) {
      return KillAndRestore(c, ks[i], "kill", {"--fault", "kill@" + std::to_string(ks[i])});
    });
  }

#ifdef SDSIM_LIBRARY
  // Kill points at host-file steps: the tool runs with the step killer
  // preloaded ahead of the card library (the sanitizer runtime, when the
  // tool has one, first of all). The last index is the step count of a full
  // run: that run is not killed.
  std::vector<Point> SweepFileSteps(const Configuration &c, const std::vector<size_t> &js) {
    std::string preload = SanitizerRuntime();
    preload +=
        (preload.empty() ? "" : " ") + std::string(CRASH_FILE_STEP_KILL) + " " + SDSIM_LIBRARY;
    return Parallel(js.size(), [&](size_t i) {
      return KillAndRestore(c, js[i], "file-kill", {},
                            {"/usr/bin/env", "LD_PRELOAD=" + preload,
                             "SDSMART_CRASH_FILE_STEP=" + std::to_string(js[i])});
    });
  }
#endif

  // The AddressSanitizer runtime the tool is linked with ("" when none).
  static std::string SanitizerRuntime() {
    std::string found;
    FILE *p = ::popen(("ldd '" + kBin + "sdsmart' 2>/dev/null").c_str(), "r");
    if (!p)
      return found;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
      const std::string s = line;
      const size_t arrow = s.find("=> ");
      if (s.find("libasan.so") != std::string::npos && arrow != std::string::npos)
        found = s.substr(arrow + 3, s.find(' ', arrow + 3) - arrow - 3);
    }
    ::pclose(p);
    return found;
  }

  std::string dir_, config_;
};

} // namespace crash
