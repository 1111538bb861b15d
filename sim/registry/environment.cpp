// Every process that loads the card library attaches the cards named in its
// environment (the launcher's run, children of the program included), and
// removes the mount points it made when it exits.
#include "registry/registry.h"

#include <cstdio>
#include <cstdlib>

namespace sdsim {

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
