#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>

namespace sdsmart_tool {
namespace {

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
     "detail selector: 1 erase counts, 2 read counts,\n4 run-time bad blocks (default 5)"},
    {Section::Acquisition, "state-dir", kStateDir, required_argument, " DIR",
     "where the sector-0 journal is kept (default\n/var/lib/sdsmart, $XDG_STATE_HOME/sdsmart or\n"
     "~/.local/state/sdsmart)"},
    {Section::Acquisition, "force", kForce, no_argument, "",
     "read a disk the device guard refuses as neither a\n"
     "card reader nor an mmcblk card (never a partition),\n"
     "and a card remembered as not supported; with\n"
     "--restore-sector0: write over any sector 0"},
    {Section::Acquisition, "retry-unsupported", kRetryUnsupported, no_argument, "",
     "read a card remembered as not supported (it took\n"
     "the enter pattern but answered no SMART header)"},
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
    {Section::OtherActions, "restore-sector0", kRestoreSector0, no_argument, " DEVICE",
     "write the saved sector 0 of an interrupted run back\n"
     "(only when sector 0 holds a special-mode pattern,\nunless -f/--force)"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "print the plain text of a stored configuration", "config decode FILE"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "store a plain-text configuration (-o OUTPUT)", "config encode FILE"},
    {Section::OtherActions, nullptr, 0, no_argument, "",
     "parse a stored configuration, list sections and keys", "config check FILE"},
    {Section::OtherActions, "help", kHelp, no_argument, "", "this text"},
    {Section::OtherActions, "version", kVersion, no_argument, "",
     "versions of the tool and the library"},
    // Described in the row of config encode.
    {Section::Hidden, "output", kOutput, required_argument, " FILE", ""},
};

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
       sdsmart --restore-sector0 [--force] DEVICE
       sdsmart config decode|encode|check FILE [-o OUTPUT]

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
  130 / 143   interrupted by SIGINT / SIGTERM (the card was left as found)

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

const OptionSpec *Find(int id) {
  for (const OptionSpec &spec : kOptionTable)
    if (spec.Name && spec.Id == id)
      return &spec;
  return nullptr;
}

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

bool ParsePercent(const std::string &text, double &value) {
  errno = 0;
  char *end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 100.0))
    return false;
  value = v;
  return true;
}

// The state of one parse: the options so far and the positional arguments.
struct Parse {
  Options &Result;
  std::string &Error;
  std::vector<std::string> Positional;
  bool ModeSet = false;

  bool SetMode(Mode mode, const std::string &name) {
    if (ModeSet && Result.Action != mode) {
      Error = name + " cannot be combined with another action";
      return false;
    }
    Result.Action = mode;
    ModeSet = true;
    return true;
  }

  bool Number(const std::string &name, const std::string &value, unsigned long max,
              std::optional<unsigned> &out, const char *what) {
    unsigned n = 0;
    if (!ParseUnsigned(value, max, n)) {
      Error = name + " wants " + what + ", not '" + value + "'";
      return false;
    }
    out = n;
    return true;
  }

  // name: the option as typed ("-H" or "--health"); value: its argument.
  bool Apply(int id, const std::string &name, const char *value) {
    Options &o = Result;
    std::string v = value ? value : "";
    switch (id) {
    case kHealth:
      return SetMode(Mode::Health, name);
    case kScan:
      return SetMode(Mode::Scan, name);
    case kRestoreSector0:
      return SetMode(Mode::RestoreSector0, name);
    case kHelp:
      return SetMode(Mode::Help, name);
    case kVersion:
      return SetMode(Mode::Version, name);
    case kJson:
      o.Json = true;
      return true;
    case kForce:
      o.Force = true;
      return true;
    case kRetryUnsupported:
      o.RetryUnsupported = true;
      return true;
    case kPrometheus:
      o.Prometheus = true;
      o.PrometheusFile = v;
      if (value && v.empty())
        Error = "--prometheus= needs a file name";
      return Error.empty();
    case kConfig:
      o.ConfigPath = v;
      if (v.empty())
        Error = name + " needs a file name";
      return Error.empty();
    case kSmartVersion:
      return Number("--smart-version", v, 255, o.SmartVersion, "a number from 0 to 255");
    case kSelect:
      return Number("--select", v, 0xFFFFFFFFul, o.Select, "a number (decimal or 0x hexadecimal)");
    case kWarnLife:
    case kFailLife:
      if (!ParsePercent(v, id == kWarnLife ? o.Limits.WarnLife : o.Limits.FailLife))
        Error = name + " wants a percentage from 0 to 100, not '" + v + "'";
      return Error.empty();
    case kStateDir:
      o.StateDir = v;
      return true;
    case kAll:
      o.All = true;
      return true;
    case kJobs:
      if (!Number("--jobs", v, 4096, o.Jobs, "a number from 1 to 4096") || *o.Jobs == 0)
        Error = "--jobs wants a number from 1 to 4096, not '" + v + "'";
      return Error.empty();
    case kOutput:
      o.OutputFile = v;
      return true;
    }
    return false;
  }

  bool ConfigAction() {
    if (Positional.size() != 3) {
      Error = "usage: sdsmart config decode|encode|check FILE [-o OUTPUT]";
      return false;
    }
    const std::string &action = Positional[1];
    if (action == "decode")
      Result.Action = Mode::ConfigDecode;
    else if (action == "encode")
      Result.Action = Mode::ConfigEncode;
    else if (action == "check")
      Result.Action = Mode::ConfigCheck;
    else
      Error = "unknown config action '" + action + "' (decode, encode or check)";
    Result.ConfigFile = Positional[2];
    return Error.empty();
  }

  // The rules between options and the positional arguments.
  bool Finish() {
    Options &o = Result;
    if (o.Json && o.Prometheus && o.PrometheusFile.empty())
      Error =
          "--json and --prometheus cannot both write to standard output; give --prometheus=FILE";
    else if (o.Limits.FailLife > o.Limits.WarnLife)
      Error = "--fail-life must not be above --warn-life";
    if (!Error.empty())
      return false;
    if (!Positional.empty() && Positional[0] == "config" && !ModeSet)
      return ConfigAction();
    if (o.Action == Mode::Help || o.Action == Mode::Version)
      return true;
    if (o.Jobs && !o.All)
      Error = "--jobs applies to --all only";
    else if (o.All && o.Action != Mode::Report && o.Action != Mode::Health)
      Error = "--all cannot be combined with another action";
    if (!Error.empty())
      return false;
    if (o.Action == Mode::Scan || o.All) {
      o.ScanPatterns = Positional;
      return true;
    }
    if (Positional.empty())
      Error = "no device given";
    else if (Positional.size() > 1)
      Error =
          "only one device may be given (got '" + Positional[0] + "' and '" + Positional[1] + "')";
    else
      o.Device = Positional[0];
    return Error.empty();
  }
};

// What getopt_long refused, in words: optopt is 0 for an unknown long option,
// the option's id for a value it lacks or must not have, else the letter.
std::string Refusal(int result, const std::string &typed) {
  bool isLong = typed.compare(0, 2, "--") == 0;
  if (optopt == 0)
    return "unknown option " + typed.substr(0, typed.find('='));
  const OptionSpec *spec = Find(optopt);
  if (!spec)
    return std::string("unknown option -") + static_cast<char>(optopt);
  std::string name =
      isLong ? std::string("--") + spec->Name : std::string("-") + static_cast<char>(optopt);
  return name + (result == ':' ? " needs a value" : " takes no value");
}

} // namespace

bool ParseCommandLine(const std::vector<std::string> &args, Options &options, std::string &error) {
  options = Options();
  error.clear();
  std::vector<std::string> words{"sdsmart"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  // "-": non-options come back in order as 1; ":": a missing value is ':'.
  std::string shorts = "-:";
  std::vector<option> longs;
  for (const OptionSpec &spec : kOptionTable) {
    if (!spec.Name)
      continue;
    longs.push_back({spec.Name, spec.Argument, nullptr, spec.Id});
    if (spec.Id < 256)
      shorts += std::string(1, static_cast<char>(spec.Id)) +
                (spec.Argument == required_argument ? ":" : "");
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  Parse parse{options, error, {}};
  optind = 0; // a full restart of getopt's scan
  opterr = 0;
  int argc = static_cast<int>(words.size());
  for (;;) {
    int index = -1;
    int c = getopt_long(argc, argv.data(), shorts.c_str(), longs.data(), &index);
    if (c == -1)
      break;
    if (c == 1) {
      parse.Positional.push_back(optarg);
      continue;
    }
    if (c == '?' || c == ':') {
      error = Refusal(c, optind > 0 ? argv[static_cast<size_t>(optind - 1)] : "");
      return false;
    }
    std::string name = index >= 0 ? std::string("--") + longs[static_cast<size_t>(index)].name
                                  : std::string("-") + static_cast<char>(c);
    if (!parse.Apply(c, name, optarg))
      return false;
    if (c != kAll && c != kJobs && c != kPrometheus) {
      options.PassOn.push_back(name);
      if (optarg)
        options.PassOn.push_back(optarg);
    }
  }
  for (int i = optind; i < argc; ++i) // after "--"
    parse.Positional.push_back(argv[static_cast<size_t>(i)]);
  return parse.Finish();
}

bool WantsJson(const std::vector<std::string> &args) {
  for (const std::string &a : args)
    if (a == "-j" || a == "--json")
      return true;
  return false;
}

std::string UsageText() {
  std::string text = kUsageHead;
  for (const auto &section : kSections) {
    text += std::string("\n") + section.Title + ":\n" + section.Preamble;
    for (const OptionSpec &spec : kOptionTable)
      if (spec.Where == section.Where)
        text += HelpRow(spec);
  }
  return text + kUsageTail;
}

} // namespace sdsmart_tool
