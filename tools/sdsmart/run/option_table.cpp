// SPDX-License-Identifier: MIT
#include "run/option_table.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace sdsmart_tool {

namespace {

bool ParseUnsigned(const std::string &text, unsigned long max, unsigned &value) {
  if (text.empty() || text[0] == '-' || text[0] == '+')
    return false;
  errno = 0;
  char *end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max)
    return false;
  value = static_cast<unsigned>(v);
  return true;
}

// The setters of the table's rows.
template <Mode M> bool Act(OptionUse &u) { return u.Action(M); }

template <bool Options::*Field> bool Flag(OptionUse &u) {
  u.O.*Field = true;
  return true;
}

template <std::string Options::*Field> bool Text(OptionUse &u) {
  u.O.*Field = u.Text();
  return true;
}

template <std::string Options::*Field> bool File(OptionUse &u) {
  u.O.*Field = u.Text();
  return !(u.O.*Field).empty() || u.Refuse("needs a file name");
}

template <bool Raw> bool Record(OptionUse &u) {
  u.O.RecordRaw = Raw;
  return File<&Options::RecordFile>(u);
}

bool SetPrometheus(OptionUse &u) {
  u.O.Prometheus = true;
  u.O.PrometheusFile = u.Text();
  if (u.Value && !*u.Value)
    u.Error = "--prometheus= needs a file name";
  return u.Error.empty();
}

// The library knows the formats 2 and 3; another number would be refused
// only after the enter pattern was written.
bool SetSmartVersion(OptionUse &u) { return u.Number(u.O.SmartVersion, 2, 3, "2 or 3"); }

// Bits 1, 2 and 4 choose the tables; 8 alone asks the card to erase its PMT
// data, and higher bits read no header at all.
bool SetSelect(OptionUse &u) {
  return u.Number(u.O.Select, 0, 0xFFFFFFFFul, "a number (decimal or 0x hexadecimal)") &&
         (*u.O.Select <= 7 || u.Wants("0 to 7 (1 erase counts, 2 read counts, 4 run-time bad "
                                      "blocks, 0 the header only)"));
}

// As fdisk prints it ("Disk identifier: 0x55667788") or as PARTUUID holds
// it: up to 8 hexadecimal digits, with or without 0x; no sign.
bool SetDiskId(OptionUse &u) {
  std::string v = u.Text();
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
    v.erase(0, 2);
  if (v.empty() || v.size() > 8 || v.find_first_not_of("0123456789abcdefABCDEF") != v.npos)
    return u.Wants("up to 8 hexadecimal digits, with or without 0x");
  u.O.DiskId = static_cast<uint32_t>(std::stoul(v, nullptr, 16));
  return true;
}

} // namespace

bool OptionUse::Action(Mode mode) {
  if (ActionGiven && O.Action != mode)
    return Refuse("cannot be combined with another action");
  O.Action = mode;
  ActionGiven = true;
  return true;
}

bool OptionUse::Refuse(const std::string &what) {
  Error = Name + " " + what;
  return false;
}

bool OptionUse::Wants(const std::string &what) {
  return Refuse("wants " + what + ", not '" + Text() + "'");
}

bool OptionUse::Number(unsigned &field, unsigned long min, unsigned long max, const char *what) {
  unsigned n = 0;
  if (!ParseUnsigned(Text(), max, n) || n < min)
    return Wants(what);
  field = n;
  return true;
}

bool OptionUse::Number(std::optional<unsigned> &field, unsigned long min, unsigned long max,
                       const char *what) {
  unsigned n = 0;
  if (!Number(n, min, max, what))
    return false;
  field = n;
  return true;
}

bool OptionUse::Percent(double &field) {
  const std::string text = Text();
  errno = 0;
  char *end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 100.0))
    return Wants("a percentage from 0 to 100");
  field = v;
  return true;
}

const OptionSpec kOptionTable[] = {

    {Section::Output, nullptr, 0, Arg::None, nullptr, "",
     "readable report: identity, health, life, erase counts,\n"
     "bad blocks, power cycles, erase-count distribution",
     "(default)"},
    {Section::Output, "health", 'H', Arg::None, Act<Mode::Health>, "", "the health verdict only"},
    {Section::Output, "json", 'j', Arg::None, Flag<&Options::Json>, "",
     "one JSON document (with --scan: the device list)"},
    {Section::Output, "prometheus", 0, Arg::Optional, SetPrometheus, "[=FILE]",
     "node_exporter textfile-collector metrics, to standard\n"
     "output or atomically to FILE (then nothing is printed\n"
     "unless --json is given; problems go to standard error)",
     nullptr, false},
    {Section::HealthRules, "warn-life", 0, Arg::Required,
     [](OptionUse &u) { return u.Percent(u.O.Limits.WarnLife); }, " PCT",
     "warning limit of remaining life (default 10)"},
    {Section::HealthRules, "fail-life", 0, Arg::Required,
     [](OptionUse &u) { return u.Percent(u.O.Limits.FailLife); }, " PCT",
     "failure limit of remaining life (default 0)"},
    {Section::Acquisition, "config", 'c', Arg::Required, File<&Options::ConfigPath>, " PATH",
     "configuration file (default ./config, then\n/etc/sdsmart/config)"},
    {Section::Acquisition, "smart-version", 0, Arg::Required, SetSmartVersion, " N",
     "SMART format version (2 or 3; default from the\nconfiguration, else 2)"},
    {Section::Acquisition, "select", 0, Arg::Required, SetSelect, " BITS",
     "detail selector, 0 to 7: 1 erase counts, 2 read\ncounts, 4 run-time bad blocks "
     "(uncorrectable ECC);\n0 the header only (default 5)"},
    {Section::Acquisition, "state-dir", 0, Arg::Required,
     [](OptionUse &u) {
       u.O.StateDir = u.Text();
       return !u.O.StateDir.empty() || u.Refuse("needs a folder name");
     },
     " DIR",
     "where the sector-0 journal is kept (default\n/var/lib/sdsmart, $XDG_STATE_HOME/sdsmart or\n"
     "~/.local/state/sdsmart)"},
    {Section::Acquisition, "cards", 0, Arg::Required, File<&Options::CardRulesFile>, " FILE",
     "rules for card models: never write, vendor path,\nlimits (default /etc/sdsmart/cards.conf)"},
    {Section::Acquisition, "window", 0, Arg::Required,
     [](OptionUse &u) { return u.Number(u.O.WindowDays, 1, 36500, "a number from 1 to 36500"); },
     " DAYS", "the forecast rests on the last DAYS of the card's\nhistory (default 90)"},
    {Section::Acquisition, "history-interval", 0, Arg::Required,
     [](OptionUse &u) {
       return u.Number(u.O.HistoryIntervalHours, 1, 36500, "a number from 1 to 36500");
     },
     " HOURS", "keep one reading per HOURS in the history (default\n24; one a week past 90 days)"},
    {Section::Acquisition, "on-change", 0, Arg::Required, Text<&Options::OnChange>, " COMMAND",
     "run COMMAND (no shell) when the verdict changes, a\n"
     "life limit is first crossed or the forecast end\nmoves 30 days earlier"},
    {Section::Acquisition, "on-change-timeout", 0, Arg::Required,
     [](OptionUse &u) {
       return u.Number(u.O.OnChangeTimeout, 1, 86400, "seconds from 1 to 86400");
     },
     " SECONDS",
     "with --on-change: a command still running after\n"
     "SECONDS gets SIGTERM, SIGKILL 2 s later; a command\n"
     "that fails sets exit bit 5 (default 60)"},
    {Section::Acquisition, "on-every-reading", 0, Arg::None, Flag<&Options::OnEveryReading>, "",
     "with --on-change: run the command after every\n"
     "reading too (event \"reading\"), and when a card\n"
     "last read at the device is not read (\"unread\")"},
    {Section::Acquisition, "force", 'f', Arg::None, Flag<&Options::Force>, "",
     "read a disk the device guard refuses as neither a\n"
     "card reader nor an mmcblk card (never a partition),\n"
     "and a card remembered as not supported; with\n"
     "--restore-sector0: write over any sector 0"},
    {Section::Acquisition, "retry-unsupported", 0, Arg::None, Flag<&Options::RetryUnsupported>, "",
     "read a card remembered as not supported (it took\n"
     "the enter pattern but answered no SMART header)"},
    {Section::Acquisition, "record", 0, Arg::Required, Record<false>, " FILE",
     "also write a recording of the run to FILE: every\n"
     "request and answer, with sector 0, the serial numbers\n"
     "and the entry string redacted (docs/reporting-a-card.md)"},
    {Section::Acquisition, "record-raw", 0, Arg::Required, Record<true>, " FILE",
     "the same without the redaction: FILE holds the\n"
     "card's sector 0, serial numbers and entry string"},
    {Section::OtherActions, "scan", 0, Arg::None, Act<Mode::Scan>, " [CANDIDATE...]",
     "list card devices as the device guard takes them:\n"
     "removable disks behind USB (card readers) and mmcblk\n"
     "SD cards (from /sys/block, plus sdX and mmcblkN nodes\n"
     "sysfs describes but does not list), and the given\n"
     "nodes or glob patterns that open and are cards"},
    {Section::OtherActions, "all", 0, Arg::None, Flag<&Options::All>, " [CANDIDATE...]",
     "read every card device --scan finds (or only the\n"
     "given nodes and patterns), each in its own process;\n"
     "the reports, JSON documents and metrics merge",
     nullptr, false},
    {Section::OtherActions, "jobs", 0, Arg::Required,
     [](OptionUse &u) { return u.Number(u.O.Jobs, 1, 4096, "a number from 1 to 4096"); }, " N",
     "with --all: at most N cards at a time (default: all)", nullptr, false},
    {Section::OtherActions, "timeout", 0, Arg::Required,
     [](OptionUse &u) { return u.Number(u.O.Timeout, 1, 86400, "seconds from 1 to 86400"); },
     " SECONDS",
     "with --all: a card's run that takes longer gets\n"
     "SIGTERM (it restores sector 0), SIGKILL 10 s later\n(default 300)",
     nullptr, false},
    {Section::OtherActions, "restore-sector0", 0, Arg::None, Act<Mode::RestoreSector0>, " DEVICE",
     "write the saved sector 0 of an interrupted run back\n"
     "(only when sector 0 holds a special-mode pattern,\nunless -f/--force)"},
    {Section::OtherActions, "journal", 0, Arg::Required, Text<&Options::JournalFile>, " FILE",
     "with --restore-sector0: the journal to restore from\n"
     "(default: the one whose card is in DEVICE)"},
    {Section::OtherActions, "rebuild-sector0", 0, Arg::None, Act<Mode::RebuildSector0>, " DEVICE",
     "a card whose sector 0 holds a pattern and has no\n"
     "journal: find its partitions and propose a partition\n"
     "table; written only with -f/--force"},
    {Section::OtherActions, "disk-id", 0, Arg::Required, SetDiskId, " HEX",
     "with --rebuild-sector0: the disk identifier (the\n"
     "xxxxxxxx of PARTUUID=xxxxxxxx-NN)"},
    {Section::OtherActions, nullptr, 0, Arg::None, nullptr, "",
     "print the plain text of a stored configuration", "config decode FILE"},
    {Section::OtherActions, nullptr, 0, Arg::None, nullptr, "",
     "store a plain-text configuration (-o OUTPUT)", "config encode FILE"},
    {Section::OtherActions, nullptr, 0, Arg::None, nullptr, "",
     "parse a stored configuration, list sections and keys", "config check FILE"},
    {Section::OtherActions, nullptr, 0, Arg::None, nullptr, "",
     "readings and forecast of a card from its history\n"
     "(no card is touched); all cards without one",
     "history [DEVICE|ID]"},
    {Section::OtherActions, "ascii", 0, Arg::None, Flag<&Options::Ascii>, "",
     "with history: draw the chart in plain ASCII"},
    {Section::OtherActions, "help", 'h', Arg::None, Act<Mode::Help>, "", "this text"},
    {Section::OtherActions, "version", 'V', Arg::None, Act<Mode::Version>, "",
     "versions of the tool and the library"},
    // Described in the row of config encode.
    {Section::Hidden, "output", 'o', Arg::Required, Text<&Options::OutputFile>, " FILE", ""},
};

const std::size_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];

int OptionId(const OptionSpec &spec) {
  return spec.Short ? spec.Short : 256 + static_cast<int>(&spec - kOptionTable);
}

const OptionSpec *FindOption(int id) {
  for (const OptionSpec &spec : OptionRows())
    if (spec.Name && OptionId(spec) == id)
      return &spec;
  return nullptr;
}

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
     "  WARNING  remaining life <= --warn-life, uncorrectable ECC errors, the\n"
     "           remaining life is unknown, or an implausible reading (its own\n"
     "           numbers contradict each other)\n"
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
  bit 5 (32)  the output could not be written (standard output or a file),
              or the --on-change command failed
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
    left += spec.Short ? std::string("-") + spec.Short + ", " : "    ";
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
