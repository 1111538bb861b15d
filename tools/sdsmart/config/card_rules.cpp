// SPDX-License-Identifier: MIT
#include "config/card_rules.h"

#include "device/guard.h"
#include "util/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace sdsmart_tool {

const char *const kDefaultCardRules = "/etc/sdsmart/cards.conf";

namespace {

bool Percent(const std::string &text, std::optional<double> &value) {
  char *end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= 0 && v <= 100))
    return false;
  value = v;
  return true;
}

// One word of a rule; a reason when it is not one.
std::string TakeWord(const std::string &word, CardRule &rule) {
  const size_t eq = word.find('=');
  const std::string key = word.substr(0, eq),
                    value = eq == std::string::npos ? "" : word.substr(eq + 1);
  if (eq == std::string::npos || value.empty())
    return "\"" + word + "\" is no key=value word";
  if (key == "manfid")
    rule.ManfId = value;
  else if (key == "oemid")
    rule.OemId = value;
  else if (key == "name")
    rule.Name = value;
  else if (key == "path" && (value == "never" || value == "vendor"))
    rule.VendorPath = value == "vendor";
  else if (key == "path")
    return "path is never or vendor, not \"" + value + "\"";
  else if ((key == "warn-life" && !Percent(value, rule.WarnLife)) ||
           (key == "fail-life" && !Percent(value, rule.FailLife)))
    return key + " is a percentage from 0 to 100, not \"" + value + "\"";
  else if (key == "rated-pe") {
    char *end = nullptr;
    const unsigned long cycles = std::strtoul(value.c_str(), &end, 10);
    if (*end != '\0' || value[0] == '-' || cycles == 0 || cycles > 1000000)
      return "rated-pe is a number of cycles from 1 to 1000000, not \"" + value + "\"";
    rule.RatedCycles = static_cast<uint32_t>(cycles);
  } else if (key != "warn-life" && key != "fail-life")
    return "unknown key \"" + key + "\"";
  return "";
}

} // namespace

const CardRule *CardRules::For(const CardModel &m) const {
  for (const CardRule &r : Rules)
    if ((r.ManfId.empty() || r.ManfId == m.ManfId) && (r.OemId.empty() || r.OemId == m.OemId) &&
        (r.Name.empty() || r.Name == m.Name))
      return &r;
  return nullptr;
}

bool LoadCardRules(const std::string &path, bool named, CardRules &rules, std::string &error) {
  rules = CardRules{path, {}};
  std::string text;
  if (!ReadWholeFile(path, text)) {
    if (errno == ENOENT && !named)
      return true;
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::istringstream lines(text);
  unsigned number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    std::istringstream words(line.substr(0, line.find('#')));
    CardRule rule;
    rule.Line = number;
    bool any = false;
    for (std::string word; words >> word; any = true)
      if (std::string why = TakeWord(word, rule); !why.empty()) {
        error = path + " line " + std::to_string(number) + ": " + why;
        return false;
      }
    if (!any)
      continue;
    if (rule.ManfId.empty() && rule.OemId.empty() && rule.Name.empty()) {
      error = path + " line " + std::to_string(number) + ": names no model (manfid, oemid, name)";
      return false;
    }
    rules.Rules.push_back(rule);
  }
  return true;
}

CardModel ModelOf(const std::string &sysRoot, const std::string &name) {
  const std::string device = sysRoot + "/class/block/" + name + "/device/";
  return {ReadSysfsAttribute(device + "manfid"), ReadSysfsAttribute(device + "oemid"),
          ReadSysfsAttribute(device + "name")};
}

} // namespace sdsmart_tool
