// SPDX-License-Identifier: MIT
// The tools tests' fixture: the built sdsmart under the virtual card in a
// folder of its own (sdtest::ToolTest, tests/support/tool_run.h), an
// image-backed card whose sector 0 is known, and the sector-0 journal.
#pragma once

#include "config/codec.h"
#include "run/run_status.h"
#include "sector0/sector0.h"
#include "tool_run.h"
#include "util/files.h"

#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

namespace sdsmart_tool {
namespace {

using nlohmann::json;
using sdtest::Args;
using sdtest::Exec;
using sdtest::ExpectRun;
using sdtest::kBin;
using sdtest::kNative;
using sdtest::kSource;
using sdtest::kUsb;
using sdtest::Result;

class Sandbox : public sdtest::ToolTest {
protected:
  // A card backed by an image whose sector 0 holds known bytes that are no
  // command pattern, as a card with a partition table would.
  std::string ImageCard(const std::string &name, Sector &original) {
    original = sdtest::WriteImage(Image);
    return run.Card(name, [&](json &c) { c["image"] = Image; });
  }
  Sector ImageSector0() { return sdtest::ImageSector0(Image); }

  // sdsim SIM -- sdsmart ARGS, without the folder's configuration and state.
  static Result Bare(const std::string &sim, const std::string &args) {
    return Exec(sdtest::UnderCard(sdtest::Words(sim), sdtest::Words(kBin + "sdsmart " + args)));
  }

  std::string JournalPath() const { return CSectorJournal(State, "/dev/sdx").Path(); }
  bool NoJournal() const { return ::access(JournalPath().c_str(), F_OK) != 0; }

  const std::string Dir = run.dir.path, State = run.state, Config = run.config,
                    Image = Dir + "/card.img";
};

} // namespace
} // namespace sdsmart_tool
