// SPDX-License-Identifier: MIT
// The built sdsmart run under the virtual card's launcher (sdsim), as a user
// runs it: where the programs are, the demo configuration the build stores,
// card files made from the shipped ones, and a run's exit status and output.
// For the areas that build against the tool (SDSMART_SOURCE_DIR and
// SDSMART_BINARY_DIR defined).
#pragma once

#include "support.h"

#include "sdsmart/unique_fd.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <spawn.h>
#include <sys/mman.h>
#include <vector>

extern char **environ;

namespace sdtest {

using Args = std::vector<std::string>;

const std::string kBin = SDSMART_BINARY_DIR "/bin/";
const std::string kSource = SDSMART_SOURCE_DIR;
const std::string kUsb = kSource + "/sim/cards/usb.json";
const std::string kNative = kSource + "/sim/cards/native.json";
// The demo configuration as the build stores it (sdsmart config encode).
const std::string kDemoConfig = SDSMART_BINARY_DIR "/demo/config";

inline bool ToolBuilt() {
  return access((kBin + "sdsim").c_str(), X_OK) == 0 &&
         access((kBin + "sdsmart").c_str(), X_OK) == 0;
}

// The card file `base` (a shipped one) made small, so that an image of it is
// cheap, and changed by `change`; written to `path`, which is returned.
inline std::string WriteCard(const std::string &path,
                             const std::function<void(nlohmann::json &)> &change = {},
                             const std::string &base = kUsb) {
  nlohmann::json card = nlohmann::json::parse(ReadFile(base));
  if (card.contains("capacity_bytes"))
    card["capacity_bytes"] = 64 << 20;
  if (change)
    change(card);
  WriteFile(path, card.dump(2));
  return path;
}

// A card image whose sector 0 holds known bytes that are no command
// pattern, as a partition table would; returns that sector.
inline Sector WriteImage(const std::string &path) {
  Sector s{};
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
  s[510] = 0x55, s[511] = 0xAA;
  WriteFile(path, std::string(s.begin(), s.end()));
  return s;
}

inline Sector ImageSector0(const std::string &path) {
  const std::string bytes = ReadFile(path);
  Sector s{};
  EXPECT_GE(bytes.size(), s.size()) << path;
  std::copy_n(bytes.begin(), std::min(bytes.size(), s.size()), s.begin());
  return s;
}

struct Result {
  int Status = -1; // exit status, or 128 + signal
  std::string Out, Err;
  std::string All() const { return Out + Err; }
};

// The exit status, and text the run printed (on either stream).
inline void ExpectRun(const Result &r, int status, const std::string &text = "",
                      int line = __builtin_LINE()) {
  SCOPED_TRACE("checked at line " + std::to_string(line));
  EXPECT_EQ(r.Status, status) << r.All();
  EXPECT_NE(r.All().find(text), std::string::npos) << text << "\n" << r.All();
}

// The transfers and host-file steps of a JSON-lines transcript (the host's
// own events, such as locks and closes, carry no "lba").
inline std::vector<nlohmann::json> Transfers(const std::string &transcript) {
  std::vector<nlohmann::json> out;
  std::istringstream lines(ReadFile(transcript));
  for (std::string line; std::getline(lines, line);)
    if (auto t = nlohmann::json::parse(line, nullptr, false); t.contains("lba"))
      out.push_back(t);
  return out;
}

// Words at spaces (no quoting): "--fail 10 --kill 3".
inline Args Words(const std::string &text) {
  Args out;
  std::istringstream words(text);
  for (std::string w; words >> w;)
    out.push_back(w);
  return out;
}

// sdsim SIM -- PROGRAM...
inline Args UnderCard(Args sim, const Args &program) {
  sim.insert(sim.begin(), kBin + "sdsim");
  sim.push_back("--");
  sim.insert(sim.end(), program.begin(), program.end());
  return sim;
}

inline std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;)
    text.append(buf, static_cast<size_t>(n));
  return text;
}

// Runs argv (argv[0] a path) in a process group of its own, as a shell job
// runs, which onStart may signal. Standard output is collected, or goes to
// `stdoutTo`: a path, "-" closed, "|" a pipe nobody reads. Spawned, not
// forked: the sweeps run it from several threads.
inline Result Exec(const Args &argv, const std::function<void(pid_t)> &onStart = {},
                   const std::string &stdoutTo = "") {
  std::vector<char *> args;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const bool collect = stdoutTo.empty() || stdoutTo == "-" || stdoutTo == "|";
  const CUniqueFd out(collect
                          ? memfd_create("stdout", MFD_CLOEXEC)
                          : open(stdoutTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)),
      err(memfd_create("stderr", MFD_CLOEXEC));
  int ends[2] = {-1, -1};
  if (stdoutTo == "|" && pipe2(ends, O_CLOEXEC) != 0)
    return {};
  CUniqueFd unread(ends[0]), pipeIn(ends[1]);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, pipeIn.IsOpen() ? pipeIn.Get() : out.Get(), 1);
  posix_spawn_file_actions_adddup2(&files, err.Get(), 2);
  if (stdoutTo == "-")
    posix_spawn_file_actions_addclose(&files, 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &files, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  unread.Close(); // nobody reads
  Result r;
  if (spawned != 0) {
    r.Status = 127;
    return r;
  }
  if (onStart)
    onStart(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.Out = collect ? ReadAll(out.Get()) : "";
  r.Err = ReadAll(err.Get());
  return r;
}

// The document at `path` validates against the schemas the tool ships, its
// keys in their order (tests/packaging/validate_json.py; kind: card, scan,
// all or history).
inline void ExpectValidJson(const std::string &kind, const std::string &path,
                            int line = __builtin_LINE()) {
  const Result r = Exec({"/usr/bin/python3", kSource + "/tests/packaging/validate_json.py",
                         kSource + "/schema", kind + "=" + path});
  if (r.Status != 77) { // 77: python3-jsonschema is missing
    EXPECT_EQ(r.Status, 0) << "checked at line " << line << ":\n" << r.All();
  }
}

// Places that differ from run to run, named in the golden files.
inline std::string Normalised(std::string text, const std::string &dir) {
  for (const auto &[from, to] : {std::pair{dir, std::string("@DIR@")}, {kBin, "@BIN@/"}})
    for (size_t at; (at = text.find(from)) != std::string::npos;)
      text.replace(at, from.size(), to);
  return text;
}

// sdsmart run as nobody, from copies in `dir` (nobody may not reach the
// build tree, a checkout in a private folder); empty when this run cannot
// switch users (it needs root and setpriv).
inline Args AsNobody(const std::string &dir) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    return {};
  std::filesystem::create_directories(dir + "/lib");
  std::filesystem::copy_file(kBin + "sdsmart", dir + "/sdsmart");
  std::filesystem::copy_file(SDSMART_BINARY_DIR "/lib/libsdsmart.so.1",
                             dir + "/lib/libsdsmart.so.1");
  chmod(dir.c_str(), 0755);
  return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
          "--clear-groups",   "/usr/bin/env",  "LD_LIBRARY_PATH=" + dir + "/lib",
          "LC_ALL=C.UTF-8",   dir + "/sdsmart"};
}

// Tests of the built tool, skipped in a build without it.
class ToolTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!ToolBuilt())
      GTEST_SKIP() << "sdsim or sdsmart is not built";
  }
};

// Runs of the tool in a scratch folder of their own: the demo configuration
// and a state directory in it, and card files made there.
struct ToolFolder {
  ToolFolder() {
    WriteFile(config, ReadFile(kDemoConfig));
    mkdir(state.c_str(), 0755);
  }
  std::string Card(const std::string &name,
                   const std::function<void(nlohmann::json &)> &change = {},
                   const std::string &base = kUsb) const {
    return WriteCard(dir.File(name + ".json"), change, base);
  }
  // sdsmart --config C --state-dir S EXTRA
  Args Tool(const Args &extra) const {
    Args args{kBin + "sdsmart", "--config", config, "--state-dir", state};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  // sdsim SIM -- sdsmart --config C --state-dir S ARGS, each split at spaces.
  Result Run(const std::string &sim, const std::string &args) const {
    return Exec(UnderCard(Words(sim), Tool(Words(args))));
  }
  ScratchDir dir;
  const std::string config = dir.File("config"), state = dir.File("state");
};

} // namespace sdtest
