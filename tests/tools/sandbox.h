// SPDX-License-Identifier: MIT
// The built sdsmart run under the virtual card (sdsim) in a folder of its
// own: card files derived from the bundled ones, a stored configuration, a
// state directory, and the run's exit status and output.
#pragma once

#include "config/codec.h"
#include "run/run_status.h"
#include "sector0/sector0.h"
#include "util/files.h"

#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

#include "sdsmart/unique_fd.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

const std::string kBin = std::string(SDSMART_BINARY_DIR) + "/bin/";
const std::string kSource = SDSMART_SOURCE_DIR;
const std::string kUsb = kSource + "/sim/cards/usb.json";
const std::string kNative = kSource + "/sim/cards/native.json";

struct Result {
  int Status = -1; // exit status, or 128 + signal
  std::string Out, Err;
};

class Sandbox : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access((kBin + "sdsim").c_str(), X_OK) != 0 ||
        ::access((kBin + "sdsmart").c_str(), X_OK) != 0)
      GTEST_SKIP() << "sdsim or sdsmart is not built";
    char tmpl[] = "/tmp/sdsmart-e2e-XXXXXX";
    Dir = ::mkdtemp(tmpl);
    State = Dir + "/state";
    Config = Dir + "/config";
    Image = Dir + "/card.img";
    std::string plain;
    ASSERT_TRUE(ReadWholeFile(kSource + "/demo/config.ini", plain));
    WriteFileAtomically(Config, EncodeConfig(plain), 0644, false);
  }
  void TearDown() override {
    if (!Dir.empty())
      std::filesystem::remove_all(Dir);
  }

  // A card file derived from the bundled USB card, small so that an image of
  // it is cheap.
  std::string Card(const std::string &name, const std::function<void(json &)> &change = {},
                   const std::string &base = kUsb) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(base, text));
    json card = json::parse(text);
    if (card.contains("capacity_bytes"))
      card["capacity_bytes"] = 64 * 1024 * 1024;
    if (change)
      change(card);
    std::string path = Dir + "/" + name + ".json";
    WriteFileAtomically(path, card.dump(2), 0644, false);
    return path;
  }

  // A card backed by an image whose sector 0 holds known bytes that are no
  // command pattern, as a card with a partition table would.
  std::string ImageCard(const std::string &name, Sector &original) {
    for (size_t i = 0; i < original.size(); ++i)
      original[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
    std::string data(original.begin(), original.end());
    data.resize(1024 * 1024, '\0'); // the card extends it to its size
    WriteFileAtomically(Image, data, 0644, false);
    return Card(name, [&](json &c) { c["image"] = Image; });
  }

  Sector ImageSector0() {
    Sector s{};
    CUniqueFd fd(::open(Image.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(::pread(fd.Get(), s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
    return s;
  }

  // sdsim simArgs -- sdsmart toolArgs; the run gets its own process group (as
  // a shell job has), which onStart may signal.
  Result Run(Args simArgs, const Args &toolArgs, const std::function<void(pid_t)> &onStart = {}) {
    simArgs.insert(simArgs.begin(), kBin + "sdsim");
    simArgs.insert(simArgs.end(), {"--", kBin + "sdsmart"});
    simArgs.insert(simArgs.end(), toolArgs.begin(), toolArgs.end());
    return Exec(simArgs, onStart);
  }

  Result Exec(const Args &argv, const std::function<void(pid_t)> &onStart = {}) {
    std::string out = Dir + "/stdout", err = Dir + "/stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      bool file = Stdout.empty() || Stdout == "-" || Stdout == "|";
      for (const auto &[path, target] : {std::pair{file ? out : Stdout, 1}, {err, 2}})
        ::dup2(
            CUniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)).Get(),
            target);
      int broken[2];
      if (Stdout == "-")
        ::close(1);
      else if (Stdout == "|" && ::pipe(broken) == 0)
        ::dup2(broken[1], 1), ::close(broken[0]);
      std::vector<char *> args;
      for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::setpgid(pid, pid);
    if (onStart)
      onStart(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ReadWholeFile(out, r.Out);
    ReadWholeFile(err, r.Err);
    return r;
  }

  Args Tool(Args extra) {
    extra.insert(extra.begin(), {"--config", Config, "--state-dir", State});
    return extra;
  }

  // Until the card has seen n transfers (the run is inside the acquisition)
  // or the run has ended: the state is waited for, not a time.
  static void WaitForTransfers(pid_t run, const std::string &transcript, size_t n) {
    for (std::string text;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (ReadWholeFile(transcript, text) &&
          static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n)
        return;
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(run), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == run)
        return;
    }
  }

  // The exit status, and text the run printed (on either stream).
  static void Expect(const Result &r, int status, const std::string &text = "",
                     int line = __builtin_LINE()) {
    SCOPED_TRACE("checked at line " + std::to_string(line));
    EXPECT_EQ(r.Status, status) << r.Out << r.Err;
    EXPECT_NE((r.Out + r.Err).find(text), std::string::npos) << text << "\n" << r.Out << r.Err;
  }

  std::string JournalPath() const { return CSectorJournal(State, "/dev/sdx").Path(); }
  bool NoJournal() const { return ::access(JournalPath().c_str(), F_OK) != 0; }

  // The document validates against the schemas the tool ships, its keys in
  // their order (tests/packaging/validate_json.py; kind: card, scan or all).
  void ExpectSchemaValid(const std::string &kind, const std::string &document,
                         int line = __builtin_LINE()) {
    std::string path = Dir + "/" + kind + ".json";
    WriteFileAtomically(path, document, 0644, false);
    Result r = Exec({"/usr/bin/python3", kSource + "/tests/packaging/validate_json.py",
                     kSource + "/schema", kind + "=" + path});
    if (r.Status != 77) { // 77: python3-jsonschema is missing
      EXPECT_EQ(r.Status, 0) << "checked at line " << line << ":\n" << r.Out << r.Err;
    }
  }

  std::string Dir, State, Config, Image;
  // Where the run's standard output goes: a file to collect (default),
  // another path ("/dev/full"), "-" closed, "|" a pipe nobody reads.
  std::string Stdout;
};

} // namespace
} // namespace sdsmart_tool
