// SPDX-License-Identifier: MIT
// The tool's options: one table drives both getopt_long and --help.
#pragma once

#include <getopt.h>

#include <cstddef>

namespace sdsmart_tool {

enum OptionId : int {
  kHealth = 'H',
  kJson = 'j',
  kForce = 'f',
  kHelp = 'h',
  kVersion = 'V',
  kConfig = 'c',
  kOutput = 'o',
  kPrometheus = 256, // long-only options
  kScan,
  kRestoreSector0,
  kSmartVersion,
  kSelect,
  kWarnLife,
  kFailLife,
  kStateDir,
  kRetryUnsupported,
  kAll,
  kJobs,
  kTimeout,
  kRebuildSector0,
  kJournal,
  kDiskId,
  kRecord,
  kRecordRaw,
  kWindow,
  kHistoryInterval,
  kOnChange,
  kAscii,
};

enum class Section { Output, HealthRules, Acquisition, OtherActions, Hidden };

// One row of the table: an option (Name set) or a help row that is none
// (Shown set). Value is what --help prints after the name; Help holds the
// description, one line per '\n'.
struct OptionSpec {
  Section Where;
  const char *Name;
  int Id;
  int Argument;
  const char *Value;
  const char *Help;
  const char *Shown = nullptr;
};

extern const OptionSpec kOptionTable[];
extern const std::size_t kOptionCount;

// Every row of the table, for range-for loops.
struct OptionRange {
  const OptionSpec *First, *Last;
  const OptionSpec *begin() const { return First; }
  const OptionSpec *end() const { return Last; }
};
inline OptionRange OptionRows() { return {kOptionTable, kOptionTable + kOptionCount}; }

} // namespace sdsmart_tool
