// The command line of sdsmart.
#pragma once

#include "health.h"

#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

enum class Mode {
  Report,
  Health,
  Scan,
  RestoreSector0,
  ConfigDecode,
  ConfigEncode,
  ConfigCheck,
  Version,
  Help
};

struct Options {
  Mode mode = Mode::Report;
  bool json = false;
  bool prometheus = false;
  std::string prometheus_file; // empty: standard output
  std::string device;
  std::string config_path;               // empty: ./config, then /etc/sdsmart/config
  std::optional<unsigned> smart_version; // --smart-version N
  std::optional<unsigned> select;        // --select BITS
  HealthLimits limits;
  bool force = false;
  std::string state_dir;                  // --state-dir DIR
  std::vector<std::string> scan_patterns; // explicit --scan candidates
  std::string config_file;                // config subcommands: input
  std::string output_file;                // config decode/encode: -o FILE (empty: stdout)
};

// false with a message when the command line is wrong.
bool ParseCommandLine(const std::vector<std::string> &args, Options &options, std::string &error);

std::string UsageText();

} // namespace sdsmart_tool
