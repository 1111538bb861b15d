// SPDX-License-Identifier: MIT
// The command line of sdsmart: one table of options drives both the parser
// (getopt_long) and the --help text.
#pragma once

#include "card/health.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

enum class Mode {
  Report,
  Health,
  Scan,
  RestoreSector0,
  RebuildSector0,
  ConfigDecode,
  ConfigEncode,
  ConfigCheck,
  History,
  Version,
  Help
};

struct Options {
  Mode Action = Mode::Report;
  bool Json = false;
  bool Prometheus = false;
  std::string PrometheusFile; // empty: standard output
  std::string Device;
  std::string ConfigPath;               // empty: ./config, then /etc/sdsmart/config
  std::optional<unsigned> SmartVersion; // --smart-version N
  std::optional<unsigned> Select;       // --select BITS (0 to 7)
  HealthLimits Limits;
  bool Force = false;
  bool RetryUnsupported = false;         // --retry-unsupported
  std::string StateDir;                  // --state-dir DIR
  std::string CardRulesFile;             // --cards FILE (empty: /etc/sdsmart/cards.conf)
  std::string RecordFile;                // --record FILE, --record-raw FILE
  bool RecordRaw = false;                // --record-raw: nothing redacted
  std::vector<std::string> ScanPatterns; // explicit --scan or --all candidates
  bool All = false;                      // --all: every card device, one run each
  std::optional<unsigned> Jobs;          // --jobs N: at most N runs at a time (default: all)
  std::optional<unsigned> Timeout;       // --timeout SECONDS: a card's run in --all
  // The options as typed, less --all, --jobs and --prometheus: what each
  // card's own run of --all gets.
  std::vector<std::string> PassOn;
  std::string ConfigFile;         // config subcommands: input
  std::string OutputFile;         // config decode/encode: -o FILE (empty: stdout)
  std::string JournalFile;        // --restore-sector0 --journal FILE
  std::optional<uint32_t> DiskId; // --rebuild-sector0 --disk-id HEX

  // The card's history: --window DAYS, --history-interval HOURS,
  // --on-change COMMAND with its --on-change-timeout SECONDS and
  // --on-every-reading, and --ascii for the chart of `history`.
  unsigned WindowDays = 90;
  unsigned HistoryIntervalHours = 24;
  std::string OnChange;
  unsigned OnChangeTimeout = 60;
  bool OnEveryReading = false;
  bool Ascii = false;
};

// What --all waits for a card's run when --timeout is not given, and the
// grace between its SIGTERM and SIGKILL.
constexpr unsigned kDefaultTimeoutSeconds = 300;
constexpr unsigned kKillGraceSeconds = 10;

// false with a message when the command line is wrong.
bool ParseCommandLine(const std::vector<std::string> &args, Options &options, std::string &error);

// Whether the command line asks for JSON, even when it does not parse.
bool WantsJson(const std::vector<std::string> &args);

std::string UsageText();

} // namespace sdsmart_tool
