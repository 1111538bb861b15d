// SPDX-License-Identifier: MIT
// --restore-sector0: writes the saved sector 0 of an interrupted run back,
// under the card's lock: the library's journal only to the card it was taken
// from, found by the card's identity whatever node name it was written
// under, and either copy only over a special-mode pattern, unless forced. A
// bare 512-byte copy an sdsmart before the library's journal left behind is
// read too.
#include "device/guard.h"
#include "modes/modes.h"
#include "run/run_plan.h"
#include "sector0/sector0.h"
#include "util/files.h"

#include "sdsmart/error.h"
#include <sdsmart/sdsmart.h>
#include <sdsmart/sector0_journal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

struct SavedCopy {
  std::string Path;
  Sector Data{};
  std::optional<CCardIdentity> Card; // none in a bare copy
  bool Fits = true;                  // the journal's card is the one in the node
};

const char *PatternName(int kind) { return kind == SDSMART_SECTOR_LEAVE ? "leave" : "enter"; }

// Writes the copy over the card's sector 0 when that is safe; the exit bits
// of a refusal or failure, else 0.
int WriteBack(const Options &o, Sector0Device &device, const SavedCopy &saved, RunStatus &status) {
  Sector now = device.Read();
  if (now == saved.Data) {
    status.Say("information", "sector 0 of " + o.Device +
                                  " already equals the saved copy; removing " + saved.Path);
    return 0;
  }
  const int kind = GetSectorKind(now.data());
  const bool pattern = kind != SDSMART_SECTOR_DATA;
  if (!pattern && !o.Force) {
    status.Say("error", "sector 0 of " + o.Device +
                            " does not hold a special-mode pattern, so it may have been "
                            "rewritten since the copy in " +
                            saved.Path +
                            " was taken. Not writing it; use --force if the copy belongs to "
                            "this card.");
    return kExitAcquisition;
  }
  device.Write(saved.Data);
  if (device.Read() != saved.Data) {
    status.Say("error",
               "sector 0 of " + o.Device + " does not read back as written; keeping " + saved.Path);
    return kExitAcquisition;
  }
  status.Say("information", "sector 0 of " + o.Device + " restored from " + saved.Path +
                                (pattern ? std::string(" (it held a special-mode ") +
                                               PatternName(kind) + " pattern)"
                                         : std::string(" (forced)")));
  return 0;
}

SavedCopy FromRecord(const std::string &path, const CJournalRecord &record) {
  SavedCopy copy;
  copy.Path = path;
  copy.Card = record.Card;
  std::copy(record.Sector0.begin(), record.Sector0.end(), copy.Data.begin());
  return copy;
}

// A journal file, or a bare 512-byte copy, named by --journal.
std::optional<SavedCopy> NamedCopy(const std::string &path, const CCardIdentity &card,
                                   const SectorReader &read, std::string &problem) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    problem = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  SavedCopy copy;
  copy.Path = path;
  if (text.size() == copy.Data.size()) {
    std::copy(text.begin(), text.end(), copy.Data.begin());
    return copy;
  }
  std::string why;
  if (std::optional<CJournalRecord> record = CSectorJournal::Decode(text, why)) {
    copy = FromRecord(path, *record);
    copy.Fits = JournalFitsCard(*record, card, read);
    return copy;
  }
  problem = path + " is neither a sector-0 journal nor a 512-byte sector copy: " + why;
  return std::nullopt;
}

// The journal of the card in the node in one directory: the one whose
// identity matches, else the node's own (of another card: refused later),
// else a bare copy. Throws CError for a damaged journal of the node.
std::optional<SavedCopy> CopyIn(const std::string &dir, const std::string &device,
                                const CCardIdentity &card, const SectorReader &read,
                                std::string &problem) {
  std::string ambiguous;
  if (std::optional<CSectorJournal> found = CSectorJournal::FindForCard(dir, card, read, ambiguous))
    if (std::optional<CJournalRecord> record = found->Load())
      return FromRecord(found->Path(), *record);
  if (!ambiguous.empty()) {
    problem = "the journals " + ambiguous + " both fit the card in " + device +
              " and differ; name one with --journal FILE";
    return std::nullopt;
  }
  const CSectorJournal own(dir, device);
  if (std::optional<CJournalRecord> record = own.Load()) {
    SavedCopy copy = FromRecord(own.Path(), *record);
    copy.Fits = false;
    return copy;
  }
  std::string data;
  const std::string legacy = LegacyJournalPath(dir, device);
  if (!ReadWholeFile(legacy, data))
    return std::nullopt;
  if (data.size() != Sector().size()) {
    problem = legacy + " is not a 512-byte sector copy";
    return std::nullopt;
  }
  SavedCopy copy;
  copy.Path = legacy;
  std::copy(data.begin(), data.end(), copy.Data.begin());
  return copy;
}

// The directories journals are searched in: the state directory, then the
// library's default one ($SDSMART_JOURNAL_DIR).
std::vector<std::string> JournalDirectories(const std::string &state) {
  std::vector<std::string> dirs;
  if (!state.empty())
    dirs.push_back(state);
  const char *named = std::getenv("SDSMART_JOURNAL_DIR");
  if (named && *named && (dirs.empty() || RealPath(named) != RealPath(dirs[0])))
    dirs.push_back(named);
  return dirs;
}

std::optional<SavedCopy> FindCopy(const RunPlan &plan, const CCardIdentity &card,
                                  const SectorReader &read, std::string &problem) {
  const Options &o = plan.Opts;
  if (!o.JournalFile.empty())
    return NamedCopy(o.JournalFile, card, read, problem);
  const std::vector<std::string> dirs = JournalDirectories(plan.StateDir);
  for (const std::string &dir : dirs)
    if (std::optional<SavedCopy> copy = CopyIn(dir, o.Device, card, read, problem))
      return copy;
  if (problem.empty())
    problem = dirs.empty() ? "no state directory with saved sector-0 copies is usable"
                           : "no saved sector 0 of " + o.Device + " in " + dirs[0] +
                                 (dirs.size() > 1 ? " or " + dirs[1] : std::string());
  return std::nullopt;
}

int Restore(const RunPlan &plan, RunStatus &status, std::optional<SavedCopy> &saved) {
  const Options &o = plan.Opts;
  std::string problem;
  {
    Sector0Device device(o.Device);
    const CCardIdentity card = IdentifyCard(o.Device, device.GetHandle());
    const SectorReader read = [&device](uint64_t lba, unsigned char *s) {
      device.ReadSectors(static_cast<unsigned int>(lba), 1, s);
    };
    saved = FindCopy(plan, card, read, problem);
    if (!saved) {
      status.Say("error", problem);
      return kExitAcquisition;
    }
    if (saved->Card && !saved->Fits && !o.Force) {
      status.Say("error", "the copy in " + saved->Path + " belongs to another card (" +
                              saved->Card->Describe() + "; " + o.Device + ": " + card.Describe() +
                              "). Not writing it; use --force if it belongs to this card.");
      return kExitAcquisition;
    }
    if (int failed = WriteBack(o, device, *saved, status))
      return failed;
  }
  if (::unlink(saved->Path.c_str()) != 0 && errno != ENOENT)
    status.Say("warning", "cannot remove " + saved->Path + ": " + std::strerror(errno));
  return 0;
}

} // namespace

int RunRestore(const Options &given, RunStatus &status) {
  status.Run().Device = given.Device;
  RunPlan plan;
  plan.Opts = given; // the device becomes the node its links lead to
  std::optional<SavedCopy> saved;
  if (GuardDevice(plan.Opts, status, plan.Verdict) && CheckDeviceOpens(plan.Opts.Device, status)) {
    // The journals are looked for in the state directory unless one is named.
    if (plan.Opts.JournalFile.empty())
      SettleStateDir(plan, StateUse::Keep);
    status.Fail(GuardTransfers(plan.Opts.Device + ": restoring sector 0", status,
                               [&] { return Restore(plan, status, saved); }));
  }
  return Publish(plan, status);
}

} // namespace sdsmart_tool
