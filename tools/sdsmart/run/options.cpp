// SPDX-License-Identifier: MIT
#include "run/options.h"
#include "run/option_table.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>

namespace sdsmart_tool {
namespace {

const OptionSpec *Find(int id) {
  for (const OptionSpec &spec : OptionRows())
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
  bool WarnGiven = false, FailGiven = false;

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
    case kRebuildSector0:
      return SetMode(Mode::RebuildSector0, name);
    case kJournal:
      o.JournalFile = v;
      return true;
    case kDiskId: {
      char *end = nullptr;
      const unsigned long id = std::strtoul(v.c_str(), &end, 16);
      if (v.empty() || v.size() > 8 || *end != '\0')
        Error = name + " wants up to 8 hexadecimal digits, not '" + v + "'";
      else
        o.DiskId = static_cast<uint32_t>(id);
      return Error.empty();
    }
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
      // The library knows the formats 2 and 3; another number would be
      // refused only after the enter pattern was written.
      if (Number("--smart-version", v, 255, o.SmartVersion, "2 or 3") && *o.SmartVersion != 2 &&
          *o.SmartVersion != 3)
        Error = "--smart-version wants 2 or 3, not '" + v + "'";
      return Error.empty();
    case kSelect:
      // Bits 1, 2 and 4 choose the tables; 8 alone asks the card to erase
      // its PMT data, and higher bits read no header at all.
      if (Number("--select", v, 0xFFFFFFFFul, o.Select, "a number (decimal or 0x hexadecimal)") &&
          *o.Select > 7)
        Error = "--select wants 0 to 7 (1 erase counts, 2 read counts, 4 run-time bad blocks, "
                "0 the header only), not '" +
                v + "'";
      return Error.empty();
    case kWarnLife:
    case kFailLife:
      if (!ParsePercent(v, id == kWarnLife ? o.Limits.WarnLife : o.Limits.FailLife))
        Error = name + " wants a percentage from 0 to 100, not '" + v + "'";
      (id == kWarnLife ? WarnGiven : FailGiven) = true;
      return Error.empty();
    case kTimeout:
      if (!Number("--timeout", v, 86400, o.Timeout, "seconds from 1 to 86400") || *o.Timeout == 0)
        Error = "--timeout wants seconds from 1 to 86400, not '" + v + "'";
      return Error.empty();
    case kStateDir:
      o.StateDir = v;
      return true;
    case kRecord:
    case kRecordRaw:
      o.RecordFile = v;
      o.RecordRaw = id == kRecordRaw;
      if (v.empty())
        Error = name + " needs a file name";
      return Error.empty();
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
    case kWindow:
    case kHistoryInterval: {
      std::optional<unsigned> n;
      if (!Number(name, v, 36500, n, "a number from 1 to 36500") || *n == 0)
        Error = name + " wants a number from 1 to 36500, not '" + v + "'";
      (id == kWindow ? o.WindowDays : o.HistoryIntervalHours) = n.value_or(0);
      return Error.empty();
    }
    case kOnChange:
      o.OnChange = v;
      return true;
    case kAscii:
      o.Ascii = true;
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

  // Each limit against the other one as given, or as its default.
  std::string LimitsText() const {
    auto pct = [](double v) {
      std::string t = std::to_string(v);
      t.erase(t.find_last_not_of('0') + 1);
      return t.back() == '.' ? t.substr(0, t.size() - 1) : t;
    };
    const HealthLimits &l = Result.Limits;
    if (WarnGiven && FailGiven)
      return "--fail-life " + pct(l.FailLife) + " must not be above --warn-life " + pct(l.WarnLife);
    return FailGiven ? "--fail-life " + pct(l.FailLife) +
                           " must not be above the warning limit (--warn-life, default " +
                           pct(l.WarnLife) + ")"
                     : "--warn-life " + pct(l.WarnLife) +
                           " must not be below the failure limit (--fail-life, default " +
                           pct(l.FailLife) + ")";
  }

  static bool EndsWith(const std::string &s, const std::string &end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
  }

  // Whether the first positional argument is rather the file of a
  // `--prometheus FILE` written with a space: a node lies under /dev, a
  // textfile ends in .prom or lies in a folder, and a device may follow it.
  bool LooksLikeAFile() const {
    if (Positional.empty() || Positional[0].rfind("/dev/", 0) == 0)
      return false;
    return EndsWith(Positional[0], ".prom") || Positional[0].find('/') != std::string::npos ||
           (Positional.size() > 1 && Positional[1].rfind("/dev/", 0) == 0);
  }

  // The rules between options and the positional arguments.
  bool Finish() {
    Options &o = Result;
    if (o.Json && o.Prometheus && o.PrometheusFile.empty())
      Error =
          "--json and --prometheus cannot both write to standard output; give --prometheus=FILE";
    else if (o.Limits.FailLife > o.Limits.WarnLife)
      Error = LimitsText();
    else if (ModeSet && (o.Action == Mode::Health || o.Action == Mode::Scan) &&
             (o.Prometheus || (o.Json && o.Action == Mode::Health)))
      Error = std::string(o.Action == Mode::Health ? "-H" : "--scan") + " prints " +
              (o.Action == Mode::Health ? "the verdict only" : "the device list") +
              "; it cannot be combined with " + (o.Prometheus ? "--prometheus" : "--json");
    else if (o.Prometheus && o.PrometheusFile.empty() && LooksLikeAFile())
      Error = "--prometheus takes its file after '=': --prometheus=" + Positional[0];
    if (!Error.empty())
      return false;
    if (!Positional.empty() && Positional[0] == "config" && !ModeSet)
      return ConfigAction();
    if (!Positional.empty() && Positional[0] == "history" && !ModeSet && Positional.size() <= 2) {
      o.Action = Mode::History;
      o.Device = Positional.size() == 2 ? Positional[1] : "";
      return true;
    }
    if (o.Action == Mode::Help || o.Action == Mode::Version)
      return true;
    if ((o.Jobs || o.Timeout) && !o.All)
      Error = std::string(o.Jobs ? "--jobs" : "--timeout") + " applies to --all only";
    else if (!o.JournalFile.empty() && o.Action != Mode::RestoreSector0)
      Error = "--journal applies to --restore-sector0 only";
    else if (o.DiskId && o.Action != Mode::RebuildSector0)
      Error = "--disk-id applies to --rebuild-sector0 only";
    else if (o.All && o.Action != Mode::Report && o.Action != Mode::Health)
      Error = "--all cannot be combined with another action";
    else if (!o.RecordFile.empty() && (o.All || o.Action != Mode::Report))
      Error = "--record reads one card: it goes with a plain reading only";
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
  for (const OptionSpec &spec : OptionRows()) {
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
    if (c != kAll && c != kJobs && c != kTimeout && c != kPrometheus) {
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

} // namespace sdsmart_tool
