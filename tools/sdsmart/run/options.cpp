// SPDX-License-Identifier: MIT
#include "run/options.h"
#include "run/option_table.h"

#include <getopt.h>

#include <algorithm>
#include <iterator>

namespace sdsmart_tool {
namespace {

// The state of one parse: the options so far and the positional arguments.
struct Parse {
  Options &Result;
  std::string &Error;
  std::vector<std::string> Positional;
  std::vector<const OptionSpec *> Given; // in the order typed
  bool ModeSet = false;

  // name: the option as typed ("-H" or "--health"); value: its argument.
  bool Apply(const OptionSpec &spec, const std::string &name, const char *value) {
    Given.push_back(&spec);
    OptionUse use{Result, name, value, ModeSet, Error};
    return spec.Set(use);
  }

  bool WasGiven(const char *option) const {
    for (const OptionSpec *spec : Given)
      if (std::string(spec->Name) == option)
        return true;
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
    const bool warnGiven = WasGiven("warn-life"), failGiven = WasGiven("fail-life");
    if (warnGiven && failGiven)
      return "--fail-life " + pct(l.FailLife) + " must not be above --warn-life " + pct(l.WarnLife);
    return failGiven ? "--fail-life " + pct(l.FailLife) +
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

  // `history` reads files only: an option that would not act there is
  // refused rather than quietly dropped.
  bool HistoryOptions() {
    static const char *const kActing[] = {"json", "ascii", "state-dir", "window", "fail-life"};
    for (const OptionSpec *spec : Given)
      if (std::find_if(std::begin(kActing), std::end(kActing), [&](const char *name) {
            return std::string(spec->Name) == name;
          }) == std::end(kActing)) {
        Error = std::string("--") + spec->Name +
                " has no effect in history, which reads the card histories only (it takes "
                "--json, --ascii, --state-dir, --window and --fail-life)";
        return false;
      }
    return true;
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
    else if (o.Ascii && (Positional.empty() || Positional[0] != "history" || ModeSet))
      Error = "--ascii applies to history only";
    if (!Error.empty())
      return false;
    if (!Positional.empty() && Positional[0] == "config" && !ModeSet)
      return ConfigAction();
    if (!Positional.empty() && Positional[0] == "history" && !ModeSet && Positional.size() <= 2) {
      o.Action = Mode::History;
      o.Device = Positional.size() == 2 ? Positional[1] : "";
      return HistoryOptions();
    }
    if (o.Action == Mode::Help || o.Action == Mode::Version)
      return true;
    if ((o.Jobs || o.Timeout) && !o.All)
      Error = std::string(o.Jobs ? "--jobs" : "--timeout") + " applies to --all only";
    else if ((WasGiven("on-change-timeout") || o.OnEveryReading) && o.OnChange.empty())
      Error = std::string(o.OnEveryReading ? "--on-every-reading" : "--on-change-timeout") +
              " applies to --on-change only";
    else if (!o.JournalFile.empty() && o.Action != Mode::RestoreSector0)
      Error = "--journal applies to --restore-sector0 only";
    else if (o.DiskId && o.Action != Mode::RebuildSector0)
      Error = "--disk-id applies to --rebuild-sector0 only";
    else if (o.All && o.Action != Mode::Report && o.Action != Mode::Health)
      Error = "--all cannot be combined with another action";
    else if (!o.RecordFile.empty() && (o.All || o.Action != Mode::Report))
      Error = std::string(o.RecordRaw ? "--record-raw" : "--record") +
              " reads one card: it goes with a plain reading only";
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
  const OptionSpec *spec = FindOption(optopt);
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
    const int argument = spec.Argument == Arg::None       ? no_argument
                         : spec.Argument == Arg::Required ? required_argument
                                                          : optional_argument;
    longs.push_back({spec.Name, argument, nullptr, OptionId(spec)});
    if (spec.Short)
      shorts += std::string(1, spec.Short) + (argument == required_argument ? ":" : "");
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  Parse parse{options, error, {}, {}};
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
    const OptionSpec &spec = *FindOption(c);
    if (!parse.Apply(spec, name, optarg))
      return false;
    if (spec.PassOn) {
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
