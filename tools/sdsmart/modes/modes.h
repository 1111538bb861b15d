// SPDX-License-Identifier: MIT
// The tool's actions, one file each; main() picks one.
#pragma once

#include "output/output.h"
#include "run/options.h"
#include "run/run_status.h"

#include <string>
#include <vector>

namespace sdsmart_tool {

// The whole run of a command line (argv[0] first): its exit status.
int RunCommandLine(const std::vector<std::string> &argv);

// Standard output flushed and closed: a report that did not reach it (or a
// standard output that was closed from the start) adds kExitOutput.
int FinishOutput(int status, bool stdoutClosed);

// Report, -H, --json and --prometheus: reads the card with its sector 0
// journaled (modes/read.cpp).
int RunAcquisition(const Options &options, RunStatus &status);

// --all: every card device, each read by a run of its own (modes/all.cpp).
int RunAllCards(const Options &options, RunStatus &status);

// --restore-sector0 (modes/restore.cpp).
int RunRestore(const Options &options, RunStatus &status);

// --rebuild-sector0 (modes/rebuild.cpp).
int RunRebuild(const Options &options, RunStatus &status);

// --scan (modes/scan.cpp).
int RunScan(const Options &options, RunStatus &status);

// config decode|encode|check (modes/config.cpp).
int RunConfig(const Options &options, RunStatus &status);

// history [DEVICE|ID]: a card's readings from its history (modes/history.cpp).
int RunHistory(const Options &options, RunStatus &status);

struct RunPlan;

// Prints what the run produced in the forms the plan's options ask for and
// returns the exit status (modes/read.cpp). The card's history is kept in
// the plan's state directory; the plan's --prometheus=FILE is used when it
// was made beforehand, else it is made here.
int Publish(RunPlan &plan, RunStatus &status);

// An eMMC's acquisition: its life estimate, read without writing, judged
// and published (modes/emmc.cpp).
int ReadEmmc(RunPlan &plan, RunStatus &status);

// Explains why the node cannot be opened and sets the open bit; false when
// it cannot (modes/read.cpp).
bool CheckDeviceOpens(const std::string &device, RunStatus &status);

} // namespace sdsmart_tool
