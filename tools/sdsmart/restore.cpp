// --restore-sector0: writes the saved sector 0 of an interrupted run back,
// under the card's lock: the library's journal only to the card it was taken
// from, and either copy only over a special-mode pattern, unless forced. A
// bare 512-byte copy an sdsmart before the library's journal left behind is
// read too.
#include "files.h"
#include "modes.h"
#include "sector0.h"

#include "interface/acquisition_lock.h"
#include "interface/journal.h"
#include "sdsmart/error.h"
#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

struct SavedCopy {
  std::string Path;
  Sector Data{};
  std::optional<::CardIdentity> Card; // none in a bare copy
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

// The library's journal of the node, else a bare copy; nothing when there is
// neither. Throws CError for a damaged journal.
std::optional<SavedCopy> FindCopy(const std::string &dir, const std::string &device,
                                  std::string &problem) {
  SavedCopy copy;
  const CSectorJournal journal(dir, device);
  if (std::optional<JournalRecord> record = journal.Load()) {
    copy.Path = journal.Path();
    copy.Card = record->Card;
    std::copy(record->Sector0.begin(), record->Sector0.end(), copy.Data.begin());
    return copy;
  }
  copy.Path = LegacyJournalPath(dir, device);
  std::string data;
  if (!ReadWholeFile(copy.Path, data)) {
    problem = "no saved sector 0 of " + device + " in " + dir;
    return std::nullopt;
  }
  if (data.size() != copy.Data.size()) {
    problem = copy.Path + " is not a 512-byte sector copy";
    return std::nullopt;
  }
  std::copy(data.begin(), data.end(), copy.Data.begin());
  return copy;
}

int Restore(const Options &o, RunStatus &status) {
  std::string dir = ChooseStateDir(o.StateDir);
  if (dir.empty()) {
    status.Say("error", "no state directory with saved sector-0 copies is usable");
    return kExitAcquisition;
  }
  std::string problem;
  std::optional<SavedCopy> saved;
  try {
    const CAcquisitionLock lock(o.Device); // as long as the drive is open
    saved = FindCopy(dir, o.Device, problem);
    if (!saved) {
      status.Say("error", problem);
      return kExitAcquisition;
    }
    Sector0Device device(o.Device);
    if (saved->Card) {
      const ::CardIdentity card = IdentifyCard(o.Device, device.Handle());
      if (!saved->Card->SameCard(card) && !o.Force) {
        status.Say("error", "the copy in " + saved->Path + " belongs to another card (" +
                                saved->Card->Describe() + "; " + o.Device + ": " + card.Describe() +
                                "). Not writing it; use --force if it belongs to this card.");
        return kExitAcquisition;
      }
    }
    if (int failed = WriteBack(o, device, *saved, status))
      return failed;
  } catch (const CError &e) {
    return status.DeviceFailure(o.Device + ": restoring sector 0", e);
  }
  if (::unlink(saved->Path.c_str()) != 0 && errno != ENOENT)
    status.Say("warning", "cannot remove " + saved->Path + ": " + std::strerror(errno));
  return 0;
}

} // namespace

int RunRestore(const Options &o, RunStatus &status) {
  status.Run().Device = o.Device;
  if (CheckDeviceOpens(o.Device, status))
    status.Fail(Restore(o, status));
  return Publish(o, status);
}

} // namespace sdsmart_tool
