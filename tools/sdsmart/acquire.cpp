// An acquisition with the card's data first: the library journals sector 0
// in the state directory before it writes a pattern and restores it from
// there after a crash, and Ctrl-C or SIGTERM only ask the library to stop at
// its next safe point.
#include "device_guard.h"
#include "files.h"
#include "histogram.h"
#include "modes.h"
#include "sector0.h"
#include "unsupported_memory.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
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

// Names the state directory to the library, which keeps the sector-0
// journal there for the length of the acquisition. 0 when the acquisition
// may run, else the exit bits of the reason it must not.
int UseJournal(const Options &o, RunStatus &status) {
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
  if (SetJournalDirectory(dir.c_str()) != 0) {
    status.LibraryFailure("journal directory " + dir, GetErrorCode(), GetErrorMessage());
    return kExitAcquisition;
  }
  return 0;
}

// A failed run over a card left in special mode: an sdsmart before the
// library kept the journal left its copy as a bare 512-byte file.
void MentionLegacyJournal(const Options &o, RunStatus &status) {
  std::string legacy = LegacyJournalPath(ChooseStateDir(o.StateDir), o.Device);
  struct stat st {};
  if (::stat(legacy.c_str(), &st) == 0)
    status.Say("information", "an earlier sdsmart saved sector 0 of " + o.Device + " in " + legacy +
                                  "; restore it with: sdsmart --restore-sector0 " + o.Device);
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
  UnsupportedMemory unsupported(ChooseStateDir(o.StateDir), o.Device, verdict, GetEntryString());
  if (SkipRememberedCard(o, unsupported, status))
    return Publish(o, status);
  InstallSignalHandlers();
  if (int failed = UseJournal(o, status)) {
    status.Fail(failed);
    return Publish(o, status);
  }
  int rc = 1;
  if (!caughtSignal) {
    rc = GetSmartInfo();
    if (rc != 0 && !caughtSignal) {
      status.LibraryFailure(o.Device + ": reading the SMART data", GetErrorCode(),
                            GetErrorMessage());
      MentionLegacyJournal(o, status);
    }
  }
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
