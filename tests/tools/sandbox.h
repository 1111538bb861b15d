// SPDX-License-Identifier: MIT
// The built sdsmart run under the virtual card (sdsim) in a folder of its
// own (tests/support/tool_run.h): card files derived from the bundled ones,
// the stored demo configuration, a state directory, and the run's exit
// status and output.
#pragma once

#include "config/codec.h"
#include "run/run_status.h"
#include "sector0/sector0.h"
#include "tool_run.h"
#include "util/files.h"

#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace sdsmart_tool {
namespace {

using nlohmann::json;
using sdtest::Args;
using sdtest::kBin;
using sdtest::kNative;
using sdtest::kSource;
using sdtest::kUsb;
using sdtest::Result;

class Sandbox : public sdtest::ToolTest {
protected:
  // A card file derived from a bundled card (small: an image of it is cheap).
  std::string Card(const std::string &name, const std::function<void(json &)> &change = {},
                   const std::string &base = kUsb) {
    return Folder.Card(name, change, base);
  }

  // A card backed by an image whose sector 0 holds known bytes that are no
  // command pattern, as a card with a partition table would.
  std::string ImageCard(const std::string &name, Sector &original) {
    original = sdtest::WriteImage(Image);
    return Card(name, [&](json &c) { c["image"] = Image; });
  }

  Sector ImageSector0() { return sdtest::ImageSector0(Image); }

  // sdsim simArgs -- sdsmart toolArgs; the run gets its own process group (as
  // a shell job has), which onStart may signal.
  Result Run(Args simArgs, const Args &toolArgs, const std::function<void(pid_t)> &onStart = {}) {
    Args tool{kBin + "sdsmart"};
    tool.insert(tool.end(), toolArgs.begin(), toolArgs.end());
    return Exec(sdtest::UnderCard(simArgs, tool), onStart);
  }

  Result Exec(const Args &argv, const std::function<void(pid_t)> &onStart = {}) {
    return sdtest::Exec(argv, onStart, Stdout);
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
    sdtest::ExpectRun(r, status, text, line);
  }

  std::string JournalPath() const { return CSectorJournal(State, "/dev/sdx").Path(); }
  bool NoJournal() const { return ::access(JournalPath().c_str(), F_OK) != 0; }

  // The document validates against the schemas the tool ships (kind: card,
  // scan or all).
  void ExpectSchemaValid(const std::string &kind, const std::string &document,
                         int line = __builtin_LINE()) {
    WriteFileAtomically(Dir + "/" + kind + ".json", document, 0644, false);
    sdtest::ExpectValidJson(kind, Dir + "/" + kind + ".json", line);
  }

  sdtest::ToolFolder Folder;
  std::string Dir = Folder.dir.path, State = Folder.state, Config = Folder.config,
              Image = Dir + "/card.img";
  // Where the run's standard output goes: a file to collect (default),
  // another path ("/dev/full"), "-" closed, "|" a pipe nobody reads.
  std::string Stdout;
};

} // namespace
} // namespace sdsmart_tool
