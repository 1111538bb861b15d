// SPDX-License-Identifier: MIT
// The fixture of the history tests: the built tool under the virtual card,
// with the wall clock set by sdsim (SDSIM_NOW, --now).
#pragma once

#include "support.h"
#include "util/files.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

// A named namespace: both test files share one fixture class.
namespace history_test {

using nlohmann::json;

const std::string kBin = SDSMART_BINARY_DIR "/bin/";
const std::string kSource = SDSMART_SOURCE_DIR;
constexpr int64_t kStart = 1735689600;           // 2025-01-01 00:00 UTC
constexpr int64_t kStep = 2 * 365 * 86400 / 400; // 400 runs over two years
constexpr double kRated = 3000.0 * 4096;         // rated cycles x virtual blocks of the card
constexpr int64_t kErases0 = 1228800, kErasesPerRun = 18432;
const std::string kCid = "02544d5344534d31aa12345678019d01";

class History : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access((kBin + "sdsim").c_str(), X_OK) != 0)
      GTEST_SKIP() << "sdsim is not built";
    // As the packaged service keeps it: readable by all (the unprivileged
    // reader comes through here).
    ::chmod(Dir.path.c_str(), 0755);
    ::mkdir(State.c_str(), 0755);
  }

  // A bundled card (the USB one unless named) under another node and CID with
  // the given erase total.
  std::string Card(const std::string &name, const std::string &node, const std::string &cid,
                   int64_t erases, const std::string &base = "usb") {
    json card = json::parse(sdtest::ReadFile(kSource + "/sim/cards/" + base + ".json"));
    card["node"] = node;
    card["capacity_bytes"] = 64 << 20;
    card["header"]["CID"] = cid;
    card["header"]["TotalEraseCount"] = erases;
    card["header"]["MaxEraseCount"] = 6000; // above any average these totals give
    sdtest::WriteFile(Dir.File(name), card.dump());
    return Dir.File(name);
  }

  std::string Tool(const std::string &options) {
    return kBin + "sdsmart --config " SDSMART_BINARY_DIR "/demo/config --state-dir " + State +
           " --select 0 --warn-life 20 --fail-life 10 " + options;
  }

  // One run of the tool on a card at a time; standard output and error.
  int Run(const std::string &card, int64_t now, const std::string &options, std::string &out) {
    return sdtest::RunShell(kBin + "sdsim --now " + std::to_string(now) + " --card " + card +
                                " -- " + Tool(options) + " 2>&1",
                            &out);
  }

  std::string Normalised(std::string text) const {
    for (size_t at; (at = text.find(Dir.path)) != std::string::npos;)
      text.replace(at, Dir.path.size(), "@DIR@");
    return text;
  }

  sdtest::ScratchDir Dir;
  std::string State = Dir.File("state");
};

} // namespace history_test
