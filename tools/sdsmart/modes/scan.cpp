// SPDX-License-Identifier: MIT
// --scan: the card devices found, one caption a line or as JSON.
#include "device/scan.h"
#include "modes/modes.h"

#include <iostream>

namespace sdsmart_tool {

std::vector<ScanEntry> ScanList(const std::vector<std::string> &patterns,
                                std::vector<std::string> &errors, ScanDetail detail) {
  return Merge(Merge(ScanSysBlock("/sys", detail), ProbeUnlistedNodes("/sys", "/dev", detail)),
               ProbeCandidates(patterns, "/sys", errors, detail));
}

int RunScan(const Options &o, RunStatus &status) {
  std::vector<std::string> errors;
  std::vector<ScanEntry> found = ScanList(o.ScanPatterns, errors);
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
                         {"transport", TransportKey(e.Transport)},
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
