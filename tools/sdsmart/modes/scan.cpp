// SPDX-License-Identifier: MIT
// --scan: the card devices found, one caption a line or as JSON.
#include "device/scan.h"
#include "config/card_rules.h"
#include "modes/modes.h"
#include "run/run_plan.h"
#include "state/unsupported_memory.h"

#include <algorithm>

#include <iostream>

namespace sdsmart_tool {

std::vector<ScanEntry> ScanList(const std::vector<std::string> &patterns,
                                std::vector<std::string> &errors, ScanDetail detail) {
  return Merge(Merge(ScanSysBlock("/sys", detail), ProbeUnlistedNodes("/sys", "/dev", detail)),
               ProbeCandidates(patterns, "/sys", errors, detail));
}

namespace {

// A card of a model never to be written is read without writing, one of a
// model marked for the vendor path is tried whatever the memory says: the
// scan says so, and which rule says it.
void ApplyCardRules(const Options &o, std::vector<ScanEntry> &found, RunStatus &status) {
  CardRules rules;
  std::string error;
  const bool named = !o.CardRulesFile.empty();
  if (!LoadCardRules(named ? o.CardRulesFile : kDefaultCardRules, named, rules, error)) {
    status.Say("warning", "card rules " + error);
    status.Fail(kExitOpenFailed);
    return;
  }
  for (ScanEntry &e : found) {
    const CardRule *rule =
        e.Verdict.Name.empty() ? nullptr : rules.For(ModelOf("/sys", e.Verdict.Name));
    if (!rule || !rule->VendorPath || e.Source != HealthSource::VendorSmart)
      continue;
    const std::string where = rules.File + " line " + std::to_string(rule->Line);
    if (*rule->VendorPath) {
      e.Decided = "vendor path (" + where + ")"; // tried even when remembered
    } else {
      e.Source = HealthSource::Registers;
      e.Decided = "never written (" + where + ")";
    }
  }
}

// A card remembered as not supported is not written by the next run either.
void ApplyMemory(const Options &o, std::vector<ScanEntry> &found) {
  auto card = std::find_if(found.begin(), found.end(), [](const ScanEntry &e) {
    return e.Source == HealthSource::VendorSmart;
  });
  // Looked up, never made: the scan writes nothing.
  const std::string stateDir = ChooseStateDir(o.StateDir, StateUse::Read);
  const std::string entry =
      card == found.end() || stateDir.empty() ? "" : QuietEntryString(o, card->Name);
  for (ScanEntry &e : found) {
    if (entry.empty() || e.Source != HealthSource::VendorSmart || !e.Decided.empty())
      continue;
    if (std::optional<std::string> since =
            UnsupportedMemory(stateDir, e.Name, e.Verdict, entry).RememberedSince()) {
      e.Source = HealthSource::Registers;
      e.Decided = "never written (not supported, remembered since " + *since + ")";
    }
  }
}

} // namespace

int RunScan(const Options &o, RunStatus &status) {
  std::vector<std::string> errors;
  std::vector<ScanEntry> found = ScanList(o.ScanPatterns, errors);
  ApplyCardRules(o, found, status);
  if (!o.RetryUnsupported && !o.Force)
    ApplyMemory(o, found);
  for (const std::string &e : errors) {
    status.Say("warning", e);
    status.Fail(kExitOpenFailed);
  }
  status.Run().ExitStatus = status.Status();
  if (o.Json) {
    Json document = BuildJson(status.Run());
    Json devices = Json::array();
    for (const ScanEntry &e : found)
      devices.push_back({{"name", e.Name},
                         {"transport", TransportKey(e.Verdict.Transport)},
                         {"health_source", HealthSourceKey(e.Source)},
                         {"vendor", e.Vendor},
                         {"model", e.Model},
                         {"size_bytes", e.SizeBytes},
                         {"caption", e.Caption()}});
    document["devices"] = devices;
    std::cout << JsonText(document);
  } else {
    // Each line a command that reads the card.
    for (const ScanEntry &e : found)
      std::cout << "sdsmart " << e.Caption() << "\n";
  }
  return status.Status();
}

} // namespace sdsmart_tool
