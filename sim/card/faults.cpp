// SPDX-License-Identifier: MIT
#include "card/faults.h"

#include <cstdlib>
#include <stdexcept>

namespace sdsim {
namespace {

struct FaultNameEntry {
  FaultKind Kind;
  const char *Name;
};
const FaultNameEntry kFaultNames[] = {{FaultKind::FailTransfer, "fail"},
                                      {FaultKind::ErrorStatus, "error"},
                                      {FaultKind::ShortTransfer, "short"},
                                      {FaultKind::Vanish, "vanish"},
                                      {FaultKind::Kill, "kill"},
                                      {FaultKind::BusyForever, "busy-forever"},
                                      {FaultKind::BadSignature, "bad-signature"},
                                      {FaultKind::WrongDetailType, "wrong-type"},
                                      {FaultKind::NoFileAnswer, "no-file-answer"},
                                      {FaultKind::FileIoFail, "file-fail"},
                                      {FaultKind::ErrorStatusWithData, "error-with-data"},
                                      {FaultKind::FileKill, "file-kill"}};

// These last for ever once they start.
bool IsPermanent(FaultKind kind) {
  return kind == FaultKind::Vanish || kind == FaultKind::BusyForever;
}

Fault ParseOneFault(const std::string &item) {
  const std::size_t at = item.find('@');
  Fault fault;
  if (!ParseFaultName(item.substr(0, at), fault.kind))
    throw std::runtime_error("sdsim: unknown fault \"" + item + "\"");
  fault.at = 0;
  fault.times = IsPermanent(fault.kind) ? 0 : 1;
  if (at == std::string::npos)
    return fault;
  const std::string rest = item.substr(at + 1);
  char *stop = nullptr;
  fault.at = std::strtoull(rest.c_str(), &stop, 10);
  if (stop == rest.c_str())
    throw std::runtime_error("sdsim: fault \"" + item + "\" needs a transfer index");
  if (*stop == '*')
    fault.times = std::strtoull(stop + 1, &stop, 10);
  if (*stop != '\0')
    throw std::runtime_error("sdsim: cannot read fault \"" + item + "\"");
  return fault;
}

} // namespace

const char *FaultName(FaultKind kind) {
  for (const auto &entry : kFaultNames)
    if (entry.Kind == kind)
      return entry.Name;
  return "?";
}

bool ParseFaultName(const std::string &name, FaultKind &kind) {
  for (const auto &entry : kFaultNames)
    if (name == entry.Name) {
      kind = entry.Kind;
      return true;
    }
  return false;
}

std::vector<Fault> ParseFaults(const std::string &spec) {
  std::vector<Fault> out;
  std::size_t pos = 0;
  while (pos < spec.size()) {
    std::size_t end = spec.find(',', pos);
    if (end == std::string::npos)
      end = spec.size();
    const std::string item = spec.substr(pos, end - pos);
    pos = end + 1;
    if (!item.empty())
      out.push_back(ParseOneFault(item));
  }
  return out;
}

void FaultTable::Add(const Fault &fault) {
  Fault copy = fault;
  if (IsPermanent(copy.kind))
    copy.times = 0;
  Faults.push_back({copy, 0});
}

bool FaultTable::Active(FaultKind kind, std::uint64_t index, bool consume) {
  for (auto &active : Faults) {
    if (active.Set.kind != kind || index < active.Set.at)
      continue;
    if (active.Set.times != 0 && active.Used >= active.Set.times)
      continue;
    if (consume)
      ++active.Used;
    return true;
  }
  return false;
}

} // namespace sdsim
