// --restore-sector0: writes the journaled sector 0 of an interrupted run
// back, but only over a special-mode pattern unless forced.
#include "journal.h"
#include "modes.h"
#include "sector0.h"

#include "util/error.h"

#include <cerrno>
#include <cstring>

namespace sdsmart_tool {
namespace {

// Writes saved over the card's sector 0 when that is safe; the exit bits of
// a refusal or failure, else 0.
int WriteBack(const Options &o, const Journal &journal, const Sector &saved, RunStatus &status) {
  Sector0Device device(o.Device);
  Sector now = device.Read();
  if (now == saved) {
    status.Say("information", "sector 0 of " + o.Device +
                                  " already equals the saved copy; removing " + journal.Path());
    return 0;
  }
  SectorPattern p = ClassifySector(now);
  if (p == SectorPattern::None && !o.Force) {
    status.Say("error", "sector 0 of " + o.Device +
                            " does not hold a special-mode pattern, so it may have been "
                            "rewritten since the copy in " +
                            journal.Path() +
                            " was taken. Not writing it; use --force if the copy belongs to "
                            "this card.");
    return kExitAcquisition;
  }
  device.Write(saved);
  if (device.Read() != saved) {
    status.Say("error", "sector 0 of " + o.Device + " does not read back as written; keeping " +
                            journal.Path());
    return kExitAcquisition;
  }
  status.Say("information",
             "sector 0 of " + o.Device + " restored from " + journal.Path() +
                 (p == SectorPattern::None
                      ? std::string(" (forced)")
                      : std::string(" (it held a special-mode ") + PatternName(p) + " pattern)"));
  return 0;
}

int Restore(const Options &o, RunStatus &status) {
  std::string dir = ChooseStateDir(o.StateDir);
  if (dir.empty()) {
    status.Say("error", "no state directory with saved sector-0 copies is usable");
    return kExitAcquisition;
  }
  Journal journal(dir, o.Device);
  if (!journal.Lock()) {
    status.Say("error",
               "another sdsmart run is using " + o.Device + "; try again when it has finished");
    return kExitAcquisition;
  }
  std::optional<Sector> saved = journal.Load();
  if (!saved) {
    status.Say("error", journal.Exists() ? journal.Path() + " is not a 512-byte sector copy"
                                         : "no saved sector 0 of " + o.Device + " in " + dir);
    return kExitAcquisition;
  }
  try {
    if (int failed = WriteBack(o, journal, *saved, status))
      return failed;
  } catch (const CError &e) {
    return status.DeviceFailure(o.Device + ": restoring sector 0", e);
  }
  if (!journal.Remove())
    status.Say("warning", "cannot remove " + journal.Path() + ": " + std::strerror(errno));
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
