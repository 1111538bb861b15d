// SPDX-License-Identifier: MIT
#include "run/option_table.h"
#include "run/options.h"

#include <string>

namespace sdsmart_tool {

const OptionSpec kOptionTable[] = {
    {Section::Output, nullptr, 0, no_argument, "",
     "readable report: identity, health, life, erase counts,\n"
     "bad blocks, power cycles, erase-count distribution",
     "(default)"},
    {Section::Output, "health", kHealth, no_argument, "", "the health verdict only"},
    {Section::Output, "json", kJson, no_argument, "",
     "one JSON document (with --scan: the device list)"},
    {Section::Output, "prometheus", kPrometheus, optional_argument, "[=FILE]",
     "node_exporter textfile-collector metrics, to standard\n"
     "output or atomically to FILE (then nothing is printed\n"
     "unless --json is given; problems go to standard error)"},
    {Section::HealthRules, "warn-life", kWarnLife, required_argument, " PCT",
     "warning limit of remaining life (default 10)"},
    {Section::HealthRules, "fail-life", kFailLife, required_argument, " PCT",
     "failure limit of remaining life (default 0)"},
    {Section::Acquisition, "config", kConfig, required_argument, " PATH",
     "configuration file (default ./config, then\n/etc/sdsmart/config)"},
    {Section::Acquisition, "smart-version", kSmartVersion, required_argument, " N",
     "SMART format version (2 or 3; default from the\nconfiguration, else 2)"},
    {Section::Acquisition, "select", kSelect, required_argument, " BITS",
     "detail selector, 0 to 7: 1 erase counts, 2 read\ncounts, 4 run-time bad blocks "
     "(uncorrectable ECC);\n0 the header only (default 5)"},
    {Section::Acquisition, "state-dir", kStateDir, required_argument, " DIR",
     "where the sector-0 journal is kept (default\n/var/lib/sdsmart, $XDG_STATE_HOME/sdsmart or\n"
     "~/.local/state/sdsmart)"},
    {Section::Acquisition, "window", kWindow, required_argument, " DAYS",
     "the forecast rests on the last DAYS of the card's\nhistory (default 90)"},
    {Section::Acquisition, "history-interval", kHistoryInterval, required_argument, " HOURS",
     "keep one reading per HOURS in the history (default\n24; one a week past 90 days)"},
    {Section::Acquisition, "on-change", kOnChange, required_argument, " COMMAND",
     "run COMMAND (no shell) when the verdict changes, a\n"
     "life limit is first crossed or the forecast end\nmoves 30 days earlier"},
    {Section::Acquisition, "force", kForce, no_argument, "",
     "read a disk the device guard refuses as neither a\n"
     "card reader nor an mmcblk card (never a partition),\n"
     "and a card remembered as not supported; with\n"
     "--restore-sector0: write over any sector 0"},
    {Section::Acquisition, "retry-unsupported", kRetryUnsupported, no_argument, "",
     "read a card remembered as not supported (it took\n"
     "the enter pattern but answered no SMART header)"},
    {Section::Acquisition, "record", kRecord, required_argument, " FILE",
     "also write a recording of the run to FILE: every\n"
     "request and answer, with sector 0, the serial numbers\n"
     "and the entry string redacted (docs/reporting-a-card.md)"},
    {Section::Acquisition, "record-raw", kRecordRaw, required_argument, " FILE",
     "the same without the redaction: FILE holds the\n"
     "card's sector 0, serial numbers and entry string"},
    {Section::OtherActions, "scan", kScan, no_argument, " [CANDIDATE...]",
     "list card devices as the device guard takes them:\n"
     "removable disks behind USB (card readers) and mmcblk\n"
     "SD cards (from /sys/block, plus sdX and mmcblkN nodes\n"
     "sysfs describes but does not list), and the given\n"
     "nodes or glob patterns that open and are cards"},
    {Section::OtherActions, "all", kAll, no_argument, " [CANDIDATE...]",
     "read every card device --scan finds (or only the\n"
     "given nodes and patterns), each in its own process;\n"
     "the reports, JSON documents and metrics merge"},
    {Section::OtherActions, "jobs", kJobs, required_argument, " N",
     "with --all: at most N cards at a time (default: all)"},
    {Section::OtherActions, "timeout", kTimeout, required_argument, " SECONDS",
     "with --all: a card's run that takes longer gets\n"
     "SIGTERM (it restores sector 0), SIGKILL 10 s later\n(default 300)"},
    {Section::OtherActions, "restore-sector0", kRestoreSector0, no_argument, " DEVICE",
     "write the saved sector 0 of an interrupted run back\n"
     "(only when sector 0 holds a special-mode pattern,\nunless -f/--force)"},
    {Section::OtherActions, "journal", kJournal, required_argument, " FILE",
     "with --restore-sector0: the journal to restore from\n"
     "(default: the one whose card is in DEVICE)"},
    {Section::OtherActions, "rebuild-sector0", kRebuildSector0, no_argument, " DEVICE",
     "a card whose sector 0 holds a pattern and has no\n"
     "journal: find its partitions and propose a partition\n"
     "table; written only with -f/--force"},
    {Section::OtherActions, "disk-id", kDiskId, required_argument, " HEX",
     "with --rebuild-sector0: the disk identifier (the\n"
     "xxxxxxxx of PARTUUID=xxxxxxxx-NN)"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "print the plain text of a stored configuration", "config decode FILE"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "store a plain-text configuration (-o OUTPUT)", "config encode FILE"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "parse a stored configuration, list sections and keys", "config check FILE"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "readings and forecast of a card from its history\n"
     "(no card is touched); all cards without one",
     "history [DEVICE|ID]"},
    {Section::OtherActions, "ascii", kAscii, no_argument, "",
     "with history: draw the chart in plain ASCII"},
    {Section::OtherActions, "help", kHelp, no_argument, "", "this text"},
    {Section::OtherActions, "version", kVersion, no_argument, "",
     "versions of the tool and the library"},
    // Described in the row of config encode.
    {Section::Hidden, "output", kOutput, required_argument, " FILE", ""},
};

const std::size_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];

namespace {

const struct {
  Section Where;
  const char *Title;
  const char *Preamble;
} kSections[] = {
    {Section::Output, "Output", ""},
    {Section::HealthRules, "Health rules",
     "  FAILED   remaining life <= --fail-life, or the card reports itself\n"
     "           write-protected\n"
     "  WARNING  remaining life <= --warn-life, uncorrectable ECC errors, or the\n"
     "           remaining life is unknown\n"
     "  PASSED   otherwise\n"},
    {Section::Acquisition, "Acquisition", ""},
    {Section::OtherActions, "Other actions", ""},
};

const char kUsageHead[] = R"(Usage: sdsmart [OPTIONS] DEVICE
       sdsmart --all [--jobs N] [OPTIONS] [CANDIDATE...]
       sdsmart --scan [--json] [CANDIDATE...]
       sdsmart --restore-sector0 [--force] [--journal FILE] DEVICE
       sdsmart --rebuild-sector0 [--force] [--disk-id HEX] DEVICE
       sdsmart config decode|encode|check FILE [-o OUTPUT]
       sdsmart history [--json] [--ascii] [DEVICE|ID]

Reads the S.M.A.R.T. health and wear data of an SD card behind a USB card
reader (/dev/sdX) or a native SD host (/dev/mmcblkN) and reports it.
)";

const char kUsageTail[] = R"(
Exit status (a bit mask):
  bit 0 (1)   the command line could not be parsed
  bit 1 (2)   the device could not be opened, or it is no SD card
  bit 2 (4)   reading the SMART data (or a config/restore action) failed
  bit 3 (8)   health FAILED
  bit 4 (16)  health WARNING
  bit 5 (32)  the output could not be written (standard output or a file)
  bit 6 (64)  sector 0 (the partition table) was left holding a command pattern
  128 + N     ended by signal N (SIGINT 130, SIGTERM 143, ...): the card was
              left as found

Examples:
  sdsmart /dev/sdb                      full report of the card in a reader
  sdsmart -H /dev/mmcblk0               verdict only; test $? & 24 in scripts
  sdsmart --json /dev/sdb | jq .smart_status.passed
  sdsmart --prometheus=/var/lib/node_exporter/textfile/sdsmart.prom /dev/sdb
  sdsmart --all --prometheus=/var/lib/node_exporter/textfile/sdsmart.prom
  sdsmart --scan
  sdsmart config decode /etc/sdsmart/config > config.txt
  sdsmart config encode config.txt -o /etc/sdsmart/config
  sdsmart --restore-sector0 /dev/sdb
)";

// The description starts in this column; a longer left column gets a line
// of its own.
constexpr size_t kHelpColumn = 24;

std::string HelpRow(const OptionSpec &spec) {
  std::string left = "  ";
  if (spec.Shown) {
    left += spec.Shown;
  } else {
    left += spec.Id < 256 ? std::string("-") + static_cast<char>(spec.Id) + ", " : "    ";
    left += std::string("--") + spec.Name + spec.Value;
  }
  left += left.size() < kHelpColumn ? std::string(kHelpColumn - left.size(), ' ')
                                    : "\n" + std::string(kHelpColumn, ' ');
  std::string help = spec.Help;
  for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
    help.insert(at + 1, kHelpColumn, ' ');
  return left + help + "\n";
}

} // namespace

std::string UsageText() {
  std::string text = kUsageHead;
  for (const auto &section : kSections) {
    text += std::string("\n") + section.Title + ":\n" + section.Preamble;
    for (const OptionSpec &spec : OptionRows())
      if (spec.Where == section.Where)
        text += HelpRow(spec);
  }
  return text + kUsageTail;
}

} // namespace sdsmart_tool
