// SPDX-License-Identifier: MIT
// Every process that loads the card library attaches the cards named in its
// environment (the launcher's run, children of the program included), and
// removes the mount points it made when it exits.
#include "registry/registry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace sdsim {
namespace {

// A latency variable: microseconds, 0 to 1000000; `fallback` when unset.
std::uint32_t LatencyFromEnvironment(const char *name, std::uint32_t fallback) {
  const char *text = std::getenv(name);
  if (!text || !*text)
    return fallback;
  char *end = nullptr;
  const unsigned long us = std::strtoul(text, &end, 10);
  if (*end != '\0' || us > 1000000 || text[0] == '-')
    throw std::runtime_error(std::string(name) + " must be microseconds, 0 to 1000000");
  return static_cast<std::uint32_t>(us);
}

} // namespace

void AttachFromEnvironment() {
  const char *cards = std::getenv("SDSIM_CARDS");
  if (!cards || !*cards)
    return;
  const char *transcript = std::getenv("SDSIM_TRANSCRIPT");
  const char *faults = std::getenv("SDSIM_FAULTS");
  const char *runDir = std::getenv("SDSIM_RUNDIR");
  Registry &registry = Registry::Get();
  std::lock_guard<std::recursive_mutex> lock(registry.Mutex());
  const std::vector<Fault> faultList = ParseFaults(faults ? faults : "");
  const std::string list = cards;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t end = list.find(':', pos);
    if (end == std::string::npos)
      end = list.size();
    const std::string path = list.substr(pos, end - pos);
    pos = end + 1;
    if (path.empty())
      continue;
    Card &card = registry.Attach(ParseCardConfig(ReadWholeFile(path), DirName(path)),
                                 transcript ? transcript : "", runDir ? runDir : "");
    for (const Fault &fault : faultList)
      card.AddFault(fault);
    // The launcher's latency options hold for every card of the run.
    card.SetLatency(LatencyFromEnvironment("SDSIM_LATENCY_US", card.TransferLatencyUs()),
                    LatencyFromEnvironment("SDSIM_FILE_LATENCY_US", card.FileStepLatencyUs()));
  }
}

namespace {

__attribute__((constructor)) void LoadFromEnvironment() {
  try {
    AttachFromEnvironment();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::_Exit(98);
  }
}

__attribute__((destructor)) void RemoveMountPoints() { Registry::Get().CleanUp(); }

} // namespace
} // namespace sdsim
