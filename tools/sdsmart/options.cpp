#include "options.h"

#include <cerrno>
#include <cstdlib>

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

bool ParsePercent(const std::string &text, double &value) {
  errno = 0;
  char *end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 100.0))
    return false;
  value = v;
  return true;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string> &args, Options &o, std::string &error) {
  o = Options();
  std::vector<std::string> positional;
  bool mode_set = false;
  auto set_mode = [&](Mode m, const std::string &name) {
    if (mode_set && o.mode != m) {
      error = name + " cannot be combined with another action";
      return false;
    }
    o.mode = m;
    mode_set = true;
    return true;
  };
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg, value;
    bool has_value = false;
    if (arg.compare(0, 2, "--") == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        has_value = true;
      }
    } else if (arg.size() > 2) {
      // Bundled short flags: -Hj.
      for (size_t k = 1; k < arg.size(); ++k) {
        char c = arg[k];
        if (c == 'H') {
          if (!set_mode(Mode::Health, "-H"))
            return false;
        } else if (c == 'j') {
          o.json = true;
        } else if (c == 'h') {
          if (!set_mode(Mode::Help, "-h"))
            return false;
        } else if (c == 'V') {
          if (!set_mode(Mode::Version, "-V"))
            return false;
        } else if (c == 'f') {
          o.force = true;
        } else if (c == 'o' && k + 1 < arg.size()) {
          o.output_file = arg.substr(k + 1);
          break;
        } else {
          error = std::string("unknown option -") + c;
          return false;
        }
      }
      continue;
    }
    auto take = [&](std::string &out) {
      if (has_value) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (name == "-H" || name == "--health") {
      if (!set_mode(Mode::Health, name))
        return false;
    } else if (name == "-j" || name == "--json") {
      o.json = true;
    } else if (name == "--prometheus") {
      o.prometheus = true;
      o.prometheus_file = has_value ? value : "";
      if (has_value && value.empty()) {
        error = "--prometheus= needs a file name";
        return false;
      }
    } else if (name == "--scan") {
      if (!set_mode(Mode::Scan, name))
        return false;
    } else if (name == "--restore-sector0") {
      if (!set_mode(Mode::RestoreSector0, name))
        return false;
    } else if (name == "-f" || name == "--force") {
      o.force = true;
    } else if (name == "-h" || name == "--help") {
      if (!set_mode(Mode::Help, name))
        return false;
    } else if (name == "-V" || name == "--version") {
      if (!set_mode(Mode::Version, name))
        return false;
    } else if (name == "-c" || name == "--config") {
      if (!take(o.config_path))
        return false;
      if (o.config_path.empty()) {
        error = name + " needs a file name";
        return false;
      }
    } else if (name == "--smart-version") {
      std::string v;
      unsigned n = 0;
      if (!take(v))
        return false;
      if (!ParseUnsigned(v, 255, n)) {
        error = "--smart-version wants a number from 0 to 255, not '" + v + "'";
        return false;
      }
      o.smart_version = n;
    } else if (name == "--select") {
      std::string v;
      unsigned n = 0;
      if (!take(v))
        return false;
      if (!ParseUnsigned(v, 0xFFFFFFFFul, n)) {
        error = "--select wants a number (decimal or 0x hexadecimal), not '" + v + "'";
        return false;
      }
      o.select = n;
    } else if (name == "--warn-life" || name == "--fail-life") {
      std::string v;
      if (!take(v))
        return false;
      double &limit = name == "--warn-life" ? o.limits.warn_life : o.limits.fail_life;
      if (!ParsePercent(v, limit)) {
        error = name + " wants a percentage from 0 to 100, not '" + v + "'";
        return false;
      }
    } else if (name == "--state-dir") {
      if (!take(o.state_dir))
        return false;
    } else if (name == "-o" || name == "--output") {
      if (!take(o.output_file))
        return false;
    } else {
      error = "unknown option " + name;
      return false;
    }
    if (has_value && (name == "-H" || name == "--health" || name == "--json" || name == "--scan" ||
                      name == "--restore-sector0" || name == "--force" || name == "--help" ||
                      name == "--version")) {
      error = name + " takes no value";
      return false;
    }
  }

  if (o.json && o.prometheus && o.prometheus_file.empty()) {
    error = "--json and --prometheus cannot both write to standard output; give --prometheus=FILE";
    return false;
  }
  if (o.limits.fail_life > o.limits.warn_life) {
    error = "--fail-life must not be above --warn-life";
    return false;
  }
  if (!positional.empty() && positional[0] == "config" && !mode_set) {
    if (positional.size() != 3) {
      error = "usage: sdsmart config decode|encode|check FILE [-o OUTPUT]";
      return false;
    }
    const std::string &action = positional[1];
    if (action == "decode")
      o.mode = Mode::ConfigDecode;
    else if (action == "encode")
      o.mode = Mode::ConfigEncode;
    else if (action == "check")
      o.mode = Mode::ConfigCheck;
    else {
      error = "unknown config action '" + action + "' (decode, encode or check)";
      return false;
    }
    o.config_file = positional[2];
    return true;
  }
  switch (o.mode) {
  case Mode::Help:
  case Mode::Version:
    return true;
  case Mode::Scan:
    o.scan_patterns = positional;
    return true;
  default:
    break;
  }
  if (positional.empty()) {
    error = "no device given";
    return false;
  }
  if (positional.size() > 1) {
    error =
        "only one device may be given (got '" + positional[0] + "' and '" + positional[1] + "')";
    return false;
  }
  o.device = positional[0];
  return true;
}

std::string UsageText() {
  return R"(Usage: sdsmart [OPTIONS] DEVICE
       sdsmart --scan [--json] [CANDIDATE...]
       sdsmart --restore-sector0 [--force] DEVICE
       sdsmart config decode|encode|check FILE [-o OUTPUT]

Reads the S.M.A.R.T. health and wear data of an SD card behind a USB card
reader (/dev/sdX) or a native SD host (/dev/mmcblkN) and reports it.

Output:
  (default)             readable report: identity, health, life, erase counts,
                        bad blocks, power cycles, erase-count distribution
  -H, --health          the health verdict only
  -j, --json            one JSON document (with --scan: the device list)
      --prometheus[=FILE]
                        node_exporter textfile-collector metrics, to standard
                        output or atomically to FILE

Health rules:
  FAILED   remaining life <= --fail-life, or the card reports itself
           write-protected
  WARNING  remaining life <= --warn-life, uncorrectable ECC errors, or the
           remaining life is unknown
  PASSED   otherwise
      --warn-life PCT   warning limit of remaining life (default 10)
      --fail-life PCT   failure limit of remaining life (default 0)

Acquisition:
  -c, --config PATH     configuration file (default ./config, then
                        /etc/sdsmart/config)
      --smart-version N SMART format version (2 or 3; default from the
                        configuration, else 2)
      --select BITS     detail selector: 1 erase counts, 2 read counts,
                        4 run-time bad blocks (default 5)
      --state-dir DIR   where the sector-0 journal is kept (default
                        /var/lib/sdsmart, $XDG_STATE_HOME/sdsmart or
                        ~/.local/state/sdsmart)

Other actions:
      --scan [CANDIDATE...]
                        list card devices: USB card readers with removable
                        media and mmcblk disks (from /sys/block, plus sdX and
                        mmcblkN nodes that open but sysfs does not list), and
                        the given nodes or glob patterns that open
      --restore-sector0 DEVICE
                        write the saved sector 0 of an interrupted run back
                        (only when sector 0 holds a special-mode pattern,
                        unless -f/--force)
  config decode FILE    print the plain text of a stored configuration
  config encode FILE    store a plain-text configuration (-o OUTPUT)
  config check FILE     parse a stored configuration, list sections and keys
  -h, --help            this text
  -V, --version         versions of the tool and the library

Exit status (a bit mask):
  bit 0 (1)   the command line could not be parsed
  bit 1 (2)   the device could not be opened
  bit 2 (4)   reading the SMART data (or a config/restore action) failed
  bit 3 (8)   health FAILED
  bit 4 (16)  health WARNING
  130 / 143   interrupted by SIGINT / SIGTERM (the card was left as found)

Examples:
  sdsmart /dev/sdb                      full report of the card in a reader
  sdsmart -H /dev/mmcblk0               verdict only; test $? & 24 in scripts
  sdsmart --json /dev/sdb | jq .smart_status.passed
  sdsmart --prometheus=/var/lib/node_exporter/textfile/sdsmart.prom /dev/sdb
  sdsmart --scan
  sdsmart config decode /etc/sdsmart/config > config.txt
  sdsmart config encode config.txt -o /etc/sdsmart/config
  sdsmart --restore-sector0 /dev/sdb
)";
}

} // namespace sdsmart_tool
