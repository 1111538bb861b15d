// An acquisition with the card's data first: sector 0 is journaled before
// the library touches it and checked after, and Ctrl-C or SIGTERM only ask
// the library to stop at its next safe point.
#include "device_guard.h"
#include "files.h"
#include "histogram.h"
#include "journal.h"
#include "modes.h"
#include "sector0.h"
#include "unsupported_memory.h"

#include "interface/session.h"
#include "util/convert.h"
#include "util/error.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

volatile sig_atomic_t caughtSignal = 0;

extern "C" void OnSignal(int signal) {
  if (!caughtSignal)
    caughtSignal = signal;
  // The reader polls this between sector transfers, leaves special mode and
  // the library writes sector 0 back before GetSmartInfo returns.
  _Terminated = true;
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

bool LoadConfiguration(const Options &o, RunStatus &status) {
  std::string path = o.ConfigPath;
  struct stat st {};
  bool local = ::stat("config", &st) == 0;
  int rc = SetDiskName(o.Device.c_str());
  if (path.empty() && !local && ::stat("/etc/sdsmart/config", &st) == 0)
    path = "/etc/sdsmart/config";
  if (!path.empty())
    rc = SetConfigPath(path.c_str());
  if (rc != 0) {
    status.LibraryFailure("configuration " + (path.empty() ? std::string("./config") : path),
                          GetErrorCode(), GetErrorMessage());
    if (path.empty() && !local)
      status.Say("information",
                 "no configuration found: put it in ./config or /etc/sdsmart/config, or name it "
                 "with --config PATH");
    status.Fail(kExitAcquisition);
    return false;
  }
  if (o.SmartVersion)
    SetSmartVersion(static_cast<unsigned char>(*o.SmartVersion));
  if (o.Select)
    _FuncSel = *o.Select;
  return true;
}

// A journal left by an earlier run: fine when it equals the card's sector 0.
bool CheckEarlierJournal(const Options &o, const Journal &journal, const Sector &before,
                         RunStatus &status) {
  if (std::optional<Sector> saved = journal.Load()) {
    if (*saved == before) {
      status.Say("information",
                 "an earlier run left " + journal.Path() + ", which matches the card's sector 0");
      return true;
    }
    SectorPattern p = ClassifySector(before);
    status.Say(
        "error",
        "a saved sector 0 of an interrupted run of " + o.Device + " is in " + journal.Path() +
            (p != SectorPattern::None
                 ? std::string(" and the card's sector 0 still holds a special-mode ") +
                       PatternName(p) + " pattern. Restore it with: sdsmart --restore-sector0 " +
                       o.Device
                 : " but the card's sector 0 now holds other data (another card, or rewritten?). "
                   "If the copy belongs to this card, restore it with: sdsmart --restore-sector0 "
                   "--force " +
                       o.Device + "; otherwise remove the file."));
    return false;
  }
  if (journal.Exists()) {
    status.Say("error", journal.Path() +
                            " is not a 512-byte sector copy; check it and remove it before "
                            "reading " +
                            o.Device);
    return false;
  }
  return true;
}

// Saves sector 0 before the library touches it. 0 when the acquisition may
// run, else the exit bits of the reason it must not.
int PrepareJournal(const Options &o, std::unique_ptr<Journal> &journal, Sector &before,
                   RunStatus &status) {
  std::string dir = ChooseStateDir(o.StateDir);
  if (dir.empty()) {
    status.Say("error",
               std::string("no writable directory for the sector-0 journal") +
                   (o.StateDir.empty() ? " (tried /var/lib/sdsmart, $XDG_STATE_HOME/sdsmart and "
                                         "~/.local/state/sdsmart)"
                                       : " (" + o.StateDir + ")") +
                   "; name one with --state-dir. Not reading the card without a saved copy of "
                   "its sector 0.");
    return kExitAcquisition;
  }
  journal = std::make_unique<Journal>(dir, o.Device);
  if (!journal->Lock()) {
    status.Say("error", "another sdsmart run is reading " + o.Device + " (its lock is held in " +
                            dir + "); not starting a second one");
    return kExitAcquisition;
  }
  try {
    before = Sector0Device(o.Device).Read();
  } catch (const CError &e) {
    return status.DeviceFailure(o.Device + ": reading sector 0", e);
  }
  if (!CheckEarlierJournal(o, *journal, before, status))
    return kExitAcquisition;
  SectorPattern p = ClassifySector(before);
  if (p != SectorPattern::None) {
    status.Say("error", "sector 0 of " + o.Device + " holds a special-mode " + PatternName(p) +
                            " pattern, not the card's own data: an earlier run was interrupted "
                            "and no saved copy is in " +
                            dir +
                            ". Not reading the card, as its sector 0 could not be protected.");
    return kExitAcquisition;
  }
  try {
    journal->Save(before);
  } catch (const std::exception &e) {
    status.Say("error", std::string("cannot save sector 0: ") + e.what() +
                            ". Not reading the card without it.");
    return kExitAcquisition;
  }
  return 0;
}

// After the run: sector 0 must equal the copy taken before it.
void VerifySector0(const Options &o, const Journal &journal, const Sector &before,
                   RunStatus &status) {
  try {
    Sector0Device device(o.Device);
    Sector after = device.Read();
    if (after != before) {
      SectorPattern p = ClassifySector(after);
      if (p == SectorPattern::None) {
        status.Say("error", "sector 0 of " + o.Device +
                                " changed during the run; the copy taken before it is kept in " +
                                journal.Path() + " (restore with: sdsmart --restore-sector0 " +
                                "--force " + o.Device + ")");
        status.Fail(kExitAcquisition);
        return;
      }
      status.Say("warning", "sector 0 of " + o.Device + " still holds a special-mode " +
                                PatternName(p) +
                                " pattern after the run; writing the saved copy back");
      device.Write(before);
      if (device.Read() != before) {
        status.Say("error", "sector 0 of " + o.Device +
                                " does not read back as written; the saved copy is kept in " +
                                journal.Path());
        status.Fail(kExitAcquisition);
        return;
      }
    }
  } catch (const CError &e) {
    status.LibraryFailure(
        o.Device + ": verifying sector 0 (the saved copy is kept in " + journal.Path() + ")", e);
    status.Fail(kExitAcquisition);
    return;
  }
  if (!journal.Remove())
    status.Say("warning", "cannot remove " + journal.Path() + ": " + std::strerror(errno));
}

void ReportInterruption(const Options &o, RunStatus &status) {
  int signal = caughtSignal;
  status.Say("error", std::string("interrupted by ") +
                          (signal == SIGINT    ? "SIGINT"
                           : signal == SIGTERM ? "SIGTERM"
                                               : "a signal") +
                          "; the acquisition was stopped" +
                          (status.Failed(kExitAcquisition)
                               ? ""
                               : " and sector 0 of " + o.Device + " is as it was"));
  status.Interrupted(signal);
  status.Run().Error = LibraryError{GetErrorCode(), GetErrorMessage()};
}

void PrintReport(const Options &o, const RunRecord &run) {
  if (o.Action == Mode::Health && run.Health) {
    std::cout << RenderHealthOnly(run);
  } else if (run.Card) {
    ReportStyle style;
    style.Width = TerminalWidth(STDOUT_FILENO);
    style.Glyph = isatty(STDOUT_FILENO) && Utf8Locale() ? "\u2588" : "#";
    std::cout << "sdsmart " << SDSMART_TOOL_VERSION << " (library "
              << Printable(GetLibraryVersion()) << ")\n"
              << RenderReport(run, style);
  }
}

} // namespace

bool CheckDeviceOpens(const std::string &device, RunStatus &status) {
  int err = ProbeOpen(device);
  if (err == 0)
    return true;
  if (err == EACCES || err == EPERM)
    status.Say("error",
               device + ": permission denied. Reading SMART data needs read-write access to the "
                        "device: run sdsmart as root or as a member of the disk group.");
  else if (err == ENOENT || err == ENXIO || err == ENODEV)
    status.Say("error", device + ": no such device (" + std::strerror(err) +
                            "). sdsmart --scan lists card devices.");
  else
    status.Say("error", device + ": cannot open: " + std::strerror(err));
  status.Fail(kExitOpenFailed);
  return false;
}

int RunAcquisition(const Options &given, RunStatus &status) {
  RunRecord &run = status.Run();
  run.Device = given.Device;
  Options o = given; // the device becomes the node its links lead to
  DeviceVerdict verdict;
  if (!GuardDevice(o, status, verdict) || !CheckDeviceOpens(o.Device, status) ||
      !LoadConfiguration(o, status))
    return Publish(o, status);
  UnsupportedMemory unsupported(ChooseStateDir(o.StateDir), o.Device, verdict,
                                ToNarrowString(_EntryStr));
  if (SkipRememberedCard(o, unsupported, status))
    return Publish(o, status);
  InstallSignalHandlers();
  std::unique_ptr<Journal> journal;
  Sector before{};
  if (int failed = PrepareJournal(o, journal, before, status)) {
    status.Fail(failed);
    return Publish(o, status);
  }
  int rc = 1;
  if (!caughtSignal) {
    rc = GetSmartInfo();
    if (rc != 0 && !caughtSignal)
      status.LibraryFailure(o.Device + ": reading the SMART data", GetErrorCode(),
                            GetErrorMessage());
  }
  VerifySector0(o, *journal, before, status);
  if (!caughtSignal)
    NoteAcquisition(o, unsupported, rc == 0, status);
  if (caughtSignal) {
    ReportInterruption(o, status);
  } else if (rc != 0) {
    status.Fail(kExitAcquisition);
  } else {
    run.Card = CollectCardData(o.Device);
    run.Health = Evaluate(run.Card->Counters, o.Limits);
    run.Distribution = EraseCountRegions(run.Card->EraseCounts);
    status.Fail(VerdictExitBits(run.Health->Status));
  }
  return Publish(o, status);
}

int Publish(const Options &o, RunStatus &status) {
  RunRecord &run = status.Run();
  run.ExitStatus = status.Status();
  if (o.Prometheus) {
    std::string text = RenderPrometheus(run);
    if (o.PrometheusFile.empty()) {
      std::cout << text;
    } else {
      try {
        WriteFileAtomically(o.PrometheusFile, text, 0644, false);
      } catch (const std::exception &e) {
        status.Say("error", e.what());
        status.Fail(kExitAcquisition);
        run.ExitStatus = status.Status();
      }
    }
  }
  // A textfile run (a timer's) prints nothing: its problems are on standard
  // error and in the exit status.
  if (o.Json)
    std::cout << JsonText(BuildJson(run));
  else if (!o.Prometheus)
    PrintReport(o, run);
  std::cout.flush();
  return run.ExitStatus;
}

} // namespace sdsmart_tool
