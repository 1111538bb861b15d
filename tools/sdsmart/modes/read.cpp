// SPDX-License-Identifier: MIT
// An acquisition with the card's data first: everything that can be refused
// is refused before the first write (run/run_plan.h); the library journals
// sector 0 in the state directory before it writes a pattern and restores it
// from there after a crash, and a signal only asks the library to stop at
// its next safe point.
#include "card/health.h"
#include "card/plausibility.h"
#include "device/read_registers.h"
#include "modes/modes.h"
#include "output/histogram.h"
#include "record/record.h"
#include "run/run_plan.h"
#include "sector0/sector0.h"
#include "state/history.h"
#include "state/node_history.h"
#include "state/on_change.h"
#include "state/unsupported_memory.h"

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

// Every signal whose default ends the process and that can be caught, less
// those that report a fault of the process itself. SIGPIPE and SIGXFSZ are
// ignored: the failed write says so and the card is read to the end.
void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                     SIGPROF, SIGIO, SIGPWR, SIGXCPU, SIGSTKFLT})
    sigaction(signal, &action, nullptr);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    sigaction(signal, &action, nullptr);
  ::signal(SIGXFSZ, SIG_IGN);
}

// A failed run over a card left in special mode: an sdsmart before the
// library kept the journal left its copy as a bare 512-byte file.
void MentionLegacyJournal(const RunPlan &plan, RunStatus &status) {
  std::string legacy = LegacyJournalPath(plan.StateDir, plan.Opts.Device);
  struct stat st {};
  if (::stat(legacy.c_str(), &st) == 0)
    status.Say("information", "an earlier sdsmart saved sector 0 of " + plan.Opts.Device + " in " +
                                  legacy + "; restore it with: sdsmart --restore-sector0 " +
                                  plan.Opts.Device);
}

void ReportInterruption(const Options &o, RunStatus &status) {
  int signal = caughtSignal;
  const char *name = ::sigabbrev_np(signal);
  status.Say("error", std::string("interrupted by ") +
                          (name ? "SIG" + std::string(name) : "a signal") +
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
  } else if (run.Card || run.Emmc || run.Registers) {
    ReportStyle style;
    style.Width = TerminalWidth(STDOUT_FILENO);
    style.Glyph = isatty(STDOUT_FILENO) && Utf8Locale() ? "\u2588" : "#";
    std::cout << "sdsmart " << SDSMART_TOOL_VERSION << " (library "
              << Printable(GetLibraryVersion()) << ")\n"
              << RenderReport(run, style) << ForecastReport(run);
  }
}

// What the card gave, read out of the library and judged.
void Judge(const RunPlan &plan, RunRecord &run, RunStatus &status) {
  unsigned select = plan.Opts.Select ? *plan.Opts.Select : _FuncSel;
  run.Card = CollectCardData(plan.Opts.Device, plan.Verdict.Transport, select);
  if (plan.RatedCycles && RateLife(run.Card->Counters, *plan.RatedCycles))
    status.Say("information", "the card's header gives no rated P/E cycles: " +
                                  std::to_string(*plan.RatedCycles) + " from " + plan.RatedFrom);
  run.Contradictions = FindContradictions(*run.Card);
  SetAsideImplausibleLife(run.Contradictions, run.Card->Counters);
  run.Health = Evaluate(run.Card->Counters, plan.Opts.Limits, run.Contradictions);
  if (run.Card->EraseTableRead)
    run.Distribution = EraseCountRegions(run.Card->EraseCounts);
  status.Fail(VerdictExitBits(run.Health->Status));
}

// A card known not to take the vendor path: what it shows without a write,
// and no health data (the exit bit of a card that could not be read).
int PublishRegisters(RunPlan &plan, RunStatus &status) {
  Recorder recorder(plan, status);
  status.Run().Registers = ReadCardRegisters(plan.Verdict, "/sys");
  status.Fail(kExitAcquisition);
  recorder.Finish(status.Run());
  KeepNodeHistory(plan, status);
  return Publish(plan, status);
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
  InstallSignalHandlers();
  RunPlan plan;
  if (!SettleRun(given, status, plan))
    return Publish(plan, status);
  if (plan.Source == HealthSource::EmmcLife)
    return ReadEmmc(plan, status);
  if (plan.Source == HealthSource::Registers)
    return PublishRegisters(plan, status);
  const Options &o = plan.Opts;
  UnsupportedMemory unsupported(plan.StateDir, o.Device, plan.Verdict, plan.Entry);
  if (SkipRememberedCard(o, unsupported, status)) {
    plan.Source = status.Run().Source = HealthSource::Registers;
    return PublishRegisters(plan, status);
  }
  if (SetJournalDirectory(plan.StateDir.c_str()) != 0) {
    status.LibraryFailure("journal directory " + plan.StateDir, GetErrorCode(), GetErrorMessage());
    status.Fail(kExitAcquisition);
    return Publish(plan, status);
  }
  int rc = 1;
  const bool ran = !caughtSignal;
  Recorder recorder(plan, status);
  if (ran) {
    rc = GetSmartInfo();
    if (rc != 0 && !caughtSignal) {
      status.LibraryFailure(o.Device + ": reading the SMART data", GetErrorCode(),
                            GetErrorMessage());
      MentionLegacyJournal(plan, status);
      if (GetErrorCode() == SDSMART_E_WRITE_PROTECTED)
        status.Say("information",
                   "the card's file system is mounted read-only, and SMART format 3 reads "
                   "through a file on it; this is not the card's own write protection (which "
                   "would be FAILED). Remount it read-write: mount -o remount,rw");
    }
  }
  if (ran)
    ReportSector0(o, status, rc == 0);
  if (!caughtSignal)
    NoteAcquisition(o, unsupported, rc == 0, status);
  if (rc != 0 && !caughtSignal && AnsweredNoSmartHeader())
    status.Run().Registers = ReadCardRegisters(plan.Verdict, "/sys");
  if (caughtSignal)
    ReportInterruption(o, status);
  else if (rc != 0)
    status.Fail(kExitAcquisition);
  else
    Judge(plan, status.Run(), status);
  recorder.Finish(status.Run());
  return Publish(plan, status);
}

int Publish(RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  RunRecord &run = status.Run();
  if (run.Card)
    KeepHistory(plan, status);
  else if (!run.Emmc && o.OnEveryReading && !plan.StateDir.empty() && status.Status() != 0 &&
           !status.WasInterrupted())
    RunOnUnread(o, plan.StateDir, status);
  run.ExitStatus = status.Status();
  if (o.Prometheus && !o.PrometheusFile.empty() && !plan.Metrics && !status.Failed(kExitOutput))
    PrepareMetricsFile(o, status, plan.Metrics);
  PendingFile *metrics = plan.Metrics.get();
  if (o.Prometheus) {
    std::string text = WithForecastMetrics(RenderPrometheus(run), run);
    if (o.PrometheusFile.empty()) {
      std::cout << text;
    } else if (metrics) {
      try {
        metrics->Commit(text, Sync::None);
      } catch (const std::exception &e) {
        status.Say("error", e.what());
        status.Fail(kExitOutput);
      }
    }
    run.ExitStatus = status.Status();
  }
  // A textfile run (a timer's) prints nothing: its problems are on standard
  // error and in the exit status.
  if (o.Json)
    std::cout << JsonText(WithForecast(BuildJson(run), run));
  else if (!o.Prometheus)
    PrintReport(o, run);
  return run.ExitStatus;
}

} // namespace sdsmart_tool
