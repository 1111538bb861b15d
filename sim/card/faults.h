// SPDX-License-Identifier: MIT
// The faults set on one card, and the names they go by on the command line
// and in SDSIM_FAULTS.
#pragma once

#include "sdsim/sdsim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sdsim {

class FaultTable {
public:
  void Add(const Fault &fault);
  void Clear() { Faults.clear(); }
  // True when a fault of `kind` applies to event `index`; `consume` uses one
  // of its times up.
  bool Active(FaultKind kind, std::uint64_t index, bool consume);

private:
  struct ActiveFault {
    Fault Set;
    std::uint64_t Used = 0;
  };
  std::vector<ActiveFault> Faults;
};

// "fail@3", "busy-forever@0*0", comma-separated.
std::vector<Fault> ParseFaults(const std::string &spec);

} // namespace sdsim
