// SPDX-License-Identifier: MIT
#include "run/run_plan.h"

#include "config/card_rules.h"
#include "config/codec.h"
#include "modes/modes.h"
#include "record/record.h"

#include <sdsmart/sdsmart.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sdsmart_tool {
namespace {

// A state folder made here is readable by all, as the state files and
// histories in it are (0644): `sdsmart history` serves unprivileged users.
bool Writable(const std::string &dir) {
  return MakeDirectories(dir, 0755) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool IsDirectory(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> StatePlaces() {
  std::vector<std::string> places{"/var/lib/sdsmart"};
  if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
    places.push_back(std::string(xdg) + "/sdsmart");
  if (const char *home = std::getenv("HOME"); home && *home == '/')
    places.push_back(std::string(home) + "/.local/state/sdsmart");
  return places;
}

bool ChooseState(RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  SettleStateDir(plan, StateUse::Keep);
  if (!plan.StateDir.empty())
    return true;
  status.Say("error",
             std::string("no writable directory for the sector-0 journal") +
                 (o.StateDir.empty() ? " (tried /var/lib/sdsmart, $XDG_STATE_HOME/sdsmart and "
                                       "~/.local/state/sdsmart)"
                                     : " (" + o.StateDir + ")") +
                 "; name one with --state-dir. Not reading the card without a saved copy of "
                 "its sector 0.");
  status.Fail(kExitAcquisition);
  return false;
}

// The file the user named, before the library reads it: a node that is no
// file, or a plain text that was never stored, told as such.
bool CheckConfigFile(const std::string &path, RunStatus &status) {
  struct stat st {};
  std::string text, plain, why;
  // A file that is not there is the library's to report, in its own words.
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    why = "it is " + FileKind(st.st_mode) + ", not a configuration file";
  else if (exists && static_cast<unsigned long>(st.st_size) > SDSMART_MAX_CONFIG_BYTES)
    why = "it holds " + std::to_string(st.st_size) + " bytes, more than a configuration file (" +
          std::to_string(SDSMART_MAX_CONFIG_BYTES) + " bytes at most)";
  else if (exists && !ReadWholeFile(path, text))
    why = std::strerror(errno);
  else if (!text.empty() && !DecodeConfig(text, plain, why))
    why +=
        "; a plain-text configuration is stored with: sdsmart config encode " + path + " -o FILE";
  else
    return true;
  status.Say("error", "configuration " + path + ": " + why);
  status.Fail(kExitAcquisition);
  return false;
}

bool LoadConfiguration(RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  std::string path = o.ConfigPath;
  struct stat st {};
  bool local = ::stat("config", &st) == 0;
  if (path.empty() && !local && ::stat("/etc/sdsmart/config", &st) == 0)
    path = "/etc/sdsmart/config";
  if (!CheckConfigFile(path.empty() ? "config" : path, status))
    return false;
  int rc = SetDiskName(o.Device.c_str());
  if (!path.empty())
    rc = SetConfigPath(path.c_str());
  std::string named = path.empty() ? std::string("./config") : path;
  if (rc != 0) {
    status.LibraryFailure("configuration " + named, GetErrorCode(), GetErrorMessage());
    if (path.empty() && !local)
      status.Say("information",
                 "no configuration found: put it in ./config or /etc/sdsmart/config, or name it "
                 "with --config PATH. The package's template /etc/sdsmart/config.ini says how "
                 "to fill it in; store it with: sdsmart config encode /etc/sdsmart/config.ini "
                 "-o /etc/sdsmart/config");
    status.Fail(kExitAcquisition);
    return false;
  }
  // A card takes only its own entry string: one of another length (or
  // none, or a value that ran on over a missing ';') is refused here rather
  // than by the card after the enter pattern was written.
  const std::string entry = GetEntryString();
  // Characters, not bytes: the library holds the string as wide characters.
  const size_t length = static_cast<size_t>(std::count_if(entry.begin(), entry.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
  if (length != GetEntryLength()) {
    status.Say("error",
               "configuration " + named + ": the entry string of vendor " +
                   std::to_string(_AuthorCode) + " (section [SMART Entry], key " +
                   std::to_string(_AuthorCode) + ") " +
                   (entry.empty()
                        ? "is missing"
                        : "has " + std::to_string(length) + " characters, not " +
                              std::to_string(GetEntryLength()) +
                              (length > GetEntryLength() ? " (is a ';' missing after it?)" : "")) +
                   "; nothing was written to the card");
    status.Fail(kExitAcquisition);
    return false;
  }
  plan.Entry = entry;
  if (o.SmartVersion)
    SetSmartVersion(static_cast<unsigned char>(*o.SmartVersion));
  if (_SmartVerSupport != 2 && _SmartVerSupport != 3) {
    status.Say("error", "configuration " + named + ": SMART Version Support is " +
                            std::to_string(_SmartVerSupport) + ", not 2 or 3");
    status.Fail(kExitAcquisition);
    return false;
  }
  if (o.Select)
    _FuncSel = *o.Select;
  return true;
}

} // namespace

std::string ChooseStateDir(const std::string &named, StateUse use) {
  if (!named.empty())
    return use == StateUse::Read || Writable(named) ? named : std::string();
  const std::vector<std::string> places = StatePlaces();
  for (const std::string &place : places)
    if (use == StateUse::Read ? IsDirectory(place + "/history") : Writable(place))
      return place;
  return use == StateUse::Read ? places.front() : std::string();
}

void SettleStateDir(RunPlan &plan, StateUse use) {
  plan.StateDir = ChooseStateDir(plan.Opts.StateDir, use);
}

bool PrepareOutputFile(const std::string &path, mode_t mode, RunStatus &status,
                       std::unique_ptr<PendingFile> &file) {
  if (path.empty())
    return true;
  try {
    file = std::make_unique<PendingFile>(path, mode);
    return true;
  } catch (const std::exception &e) {
    status.Say("error", std::string(e.what()) + "; nothing was written to the card");
    status.Fail(kExitOutput);
    return false;
  }
}

bool PrepareMetricsFile(const Options &o, RunStatus &status, std::unique_ptr<PendingFile> &file) {
  return !o.Prometheus || PrepareOutputFile(o.PrometheusFile, 0644, status, file);
}

namespace {

// A node read without writing (an eMMC, a card model never to be written):
// no vendor configuration, no journal; the state directory is used when
// there is one.
bool SettleReadOnlyRun(RunPlan &plan, RunStatus &status) {
  SettleStateDir(plan, StateUse::Keep);
  return PrepareMetricsFile(plan.Opts, status, plan.Metrics) && PrepareRecording(plan, status);
}

// The operator's rule for the node's model: the limits it sets and whether
// the vendor path may be taken. false when the rules cannot be read:
// nothing is written then, as a rule not read may be "never".
bool ApplyCardRules(RunPlan &plan, RunStatus &status) {
  Options &o = plan.Opts;
  CardRules rules;
  std::string error;
  const bool named = !o.CardRulesFile.empty();
  if (!LoadCardRules(named ? o.CardRulesFile : kDefaultCardRules, named, rules, error)) {
    status.Say("error", "card rules " + error + "; nothing was written to the card");
    status.Fail(kExitAcquisition);
    return false;
  }
  const CardRule *rule =
      plan.Verdict.Name.empty() ? nullptr : rules.For(ModelOf("/sys", plan.Verdict.Name));
  if (!rule)
    return true;
  plan.RatedCycles = rule->RatedCycles;
  plan.RatedFrom = rules.File + " line " + std::to_string(rule->Line);
  o.Limits.WarnLife = rule->WarnLife.value_or(o.Limits.WarnLife);
  o.Limits.FailLife = rule->FailLife.value_or(o.Limits.FailLife);
  if (rule->VendorPath == std::optional<bool>(true))
    o.RetryUnsupported = true;
  if (rule->VendorPath == std::optional<bool>(false) && plan.Source == HealthSource::VendorSmart) {
    plan.Source = HealthSource::Registers;
    status.Say("information", o.Device + " is of a model never to be written (" + rules.File +
                                  " line " + std::to_string(rule->Line) +
                                  "): it is read without writing and gives no health data");
  }
  return true;
}

} // namespace

std::string QuietEntryString(const Options &options, const std::string &device) {
  RunRecord record;
  RunStatus quiet(record);
  RunPlan plan;
  plan.Opts = options;
  plan.Opts.Device = device;
  return LoadConfiguration(plan, quiet) ? plan.Entry : "";
}

bool SettleRun(const Options &given, RunStatus &status, RunPlan &plan) {
  plan.Opts = given;
  status.Run().Device = given.Device;
  if (!GuardDevice(plan.Opts, status, plan.Verdict, GuardUse::ReadHealth))
    return false;
  plan.Source = plan.Verdict.Source();
  if (!ApplyCardRules(plan, status))
    return false;
  status.Run().Source = plan.Source;
  if (plan.Source != HealthSource::VendorSmart)
    return SettleReadOnlyRun(plan, status);
  return CheckDeviceOpens(plan.Opts.Device, status) && ChooseState(plan, status) &&
         LoadConfiguration(plan, status) && PrepareMetricsFile(plan.Opts, status, plan.Metrics) &&
         PrepareRecording(plan, status);
}

} // namespace sdsmart_tool
