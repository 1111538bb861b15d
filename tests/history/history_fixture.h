// SPDX-License-Identifier: MIT
// The fixture of the history tests: the built tool under the virtual card,
// with the wall clock set by sdsim (SDSIM_NOW, --now).
#pragma once

#include "tool_run.h"
#include "util/files.h"

// A named namespace: both test files share one fixture class.
namespace history_test {

using namespace sdtest;
using nlohmann::json;

constexpr int64_t kStart = 1735689600;           // 2025-01-01 00:00 UTC
constexpr int64_t kStep = 2 * 365 * 86400 / 400; // 400 runs over two years
constexpr double kRated = 3000.0 * 4096;         // rated cycles x virtual blocks of the card
constexpr int64_t kErases0 = 1228800, kErasesPerRun = 18432;
const std::string kCid = "02544d5344534d31aa12345678019d01";
const std::string kLimits = "--select 0 --warn-life 20 --fail-life 10 ";

class History : public ToolTest {
protected:
  // A bundled card (the USB one unless named) under another node and CID
  // with the given erase total, and `more` changed.
  std::string Card(const std::string &name, const std::string &node, const std::string &cid,
                   int64_t erases, const std::string &base = kUsb,
                   const std::function<void(json &)> &more = {}) {
    return run.Card(
        name,
        [&](json &card) {
          card["node"] = node;
          card["header"]["CID"] = cid;
          card["header"]["TotalEraseCount"] = erases;
          card["header"]["MaxEraseCount"] = 6000; // above any average these totals give
          if (more)
            more(card);
        },
        base);
  }

  // One run of the tool on a card at a time, the wall clock at `now`.
  Result Run(const std::string &card, int64_t now, const std::string &options) {
    return run.Run("--now " + std::to_string(now) + " --card " + card, kLimits + options);
  }

  ToolFolder run;
  const ScratchDir &Dir = run.dir;
  const std::string &State = run.state;
};

} // namespace history_test
