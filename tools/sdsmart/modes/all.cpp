// SPDX-License-Identifier: MIT
// --all: every card device --scan finds (or the candidates given), each read
// by a run of this tool in a process of its own, at most --jobs at a time.
// The runs' outputs merge in the order of the scan: one report per card, one
// JSON document with a devices array, one textfile with every card. The exit
// status is the OR of the cards' bits.
#include "device/scan.h"
#include "modes/modes.h"
#include "output/histogram.h"
#include "run/card_runs.h"
#include "run/run_plan.h"
#include "state/on_change.h"
#include "util/files.h"

#include "sdsmart/convert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

volatile sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
  if (!stopSignal)
    stopSignal = signal;
}

// Without SA_RESTART, so that the wait for the children sees the signal.
// The signals are those a card's own run catches.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                     SIGPROF, SIGIO, SIGPWR, SIGXCPU, SIGSTKFLT})
    sigaction(signal, &action, nullptr);
}

// The folder where the runs leave their textfiles; removed with its files.
class ScratchDir {
public:
  explicit ScratchDir(bool wanted) {
    if (!wanted)
      return;
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/sdsmart-all-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()))
      Path = name.data();
  }
  ~ScratchDir() {
    for (const std::string &file : Files)
      ::unlink(file.c_str());
    if (!Path.empty())
      ::rmdir(Path.c_str());
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string File(size_t index) {
    Files.push_back(Path + "/card" + std::to_string(index) + ".prom");
    return Files.back();
  }
  std::string Path;

private:
  std::vector<std::string> Files;
};

// A card's run in its child: the command line a run of its own would have.
int ReadOneCard(const std::vector<std::string> &argv) {
  return FinishOutput(RunCommandLine(argv), false);
}

std::string SignalText(int signal) {
  const char *name = ::strsignal(signal);
  return "signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
}

// How long a card's run may take: --timeout, and the time of its --on-change
// command after the reading, so that a slow command does not make a card
// that was read one that timed out.
struct CardTime {
  unsigned Reading, Command;
  unsigned Total() const { return Reading + Command; }
  std::string Text() const {
    return std::to_string(Total()) + " s" +
           (Command ? " (" + std::to_string(Reading) + " s and " + std::to_string(Command) +
                          " s for its --on-change command)"
                    : "");
  }
};

// Why a run left no word of its own: it did not start, or a signal ended it.
// Empty when it exited.
std::string Mishap(const CardRun &run, const CardTime &timeout) {
  if (!run.Started)
    return run.NotStarted;
  if (run.TimedOut)
    return "timed out: its run did not end within " + timeout.Text() + " and was sent SIGTERM" +
           (run.Signal == SIGKILL ? ", then SIGKILL (a sector-0 journal it left is restored by "
                                    "the next run)"
                                  : "");
  return run.Signal ? "its run was ended by " + SignalText(run.Signal) : "";
}

// What a card's run adds to the exit status; a mishap is said here.
int CardBits(const std::string &device, const CardRun &run, const CardTime &timeout,
             RunStatus &status) {
  std::string mishap = Mishap(run, timeout);
  if (!mishap.empty())
    status.Say("error", device + ": " + mishap);
  return mishap.empty() && run.ExitStatus < 128 ? run.ExitStatus : kExitAcquisition;
}

// The card's entry of the devices array: its own document without the format
// version, or, when its run printed none, one that says why.
Json DeviceJson(const std::string &device, const CardRun &run, int bits, const CardTime &timeout) {
  Json document = Json::parse(run.Out, nullptr, false);
  if (!document.is_object() || !document.contains("sdsmart")) {
    std::string mishap = Mishap(run, timeout);
    RunRecord record;
    record.Argv = run.Argv;
    record.Device = device;
    record.ExitStatus = mishap.empty() ? run.ExitStatus : bits;
    record.Messages.push_back(
        {"error", mishap.empty() ? "its run printed no JSON document" : mishap});
    document = BuildJson(record);
  }
  document.erase("json_format_version");
  return document;
}

// What a card's run wrote as its metrics: its output, or with a scratch file
// that file; empty when it wrote none or a signal ended it.
std::string WrittenMetrics(const CardRun &run, const std::string &file) {
  if (file.empty())
    return run.Signal ? "" : run.Out;
  std::string text;
  return ReadWholeFile(file, text) ? text : "";
}

// The card's metrics (text: what its run wrote), its exit status the one
// this run gives it: a run killed or timed out after it wrote them did not
// end as they say.
std::string CardMetrics(const std::string &device, std::string text, int bits) {
  if (text.empty()) {
    RunRecord record; // a run that wrote none: the card could not be read
    record.Device = device;
    record.ExitStatus = bits;
    return RenderPrometheus(record);
  }
  const std::string sample = "\nsdsmart_exit_status{";
  const size_t at = text.find(sample);
  const size_t value = at == std::string::npos ? at : text.find("} ", at);
  const size_t end = value == std::string::npos ? value : text.find('\n', value);
  if (end != std::string::npos)
    text.replace(value + 2, end - value - 2, std::to_string(bits));
  return text;
}

// One section a card in the readable forms; its messages follow on standard
// error, so that on a terminal they stand under its section.
void PrintSection(const Options &o, size_t index, const std::string &device, const CardRun &run) {
  if (!o.Json && !o.Prometheus) {
    std::cout << (index ? "\n" : "") << "==> " << device << " <==\n" << run.Out;
    if (run.Out.empty())
      std::cout << "No report: the card was not read; the reason is on standard error.\n";
    std::cout.flush();
  }
  std::cerr << run.Err;
  std::cerr.flush();
}

// How many cards the run found and read, so that a fleet sees a card that
// is gone (even none at all).
std::string DeviceCounts(size_t found, size_t read) {
  return "# HELP sdsmart_devices Card devices sdsmart --all found, and those it read.\n"
         "# TYPE sdsmart_devices gauge\n"
         "sdsmart_devices{state=\"found\"} " +
         std::to_string(found) + "\nsdsmart_devices{state=\"read\"} " + std::to_string(read) + "\n";
}

// The merged outputs; metrics is null when there are none to write.
int PublishAll(const Options &o, RunStatus &status, const Json &devices, const std::string *metrics,
               PendingFile *file) {
  RunRecord &run = status.Run();
  if (metrics && file) {
    try {
      file->Commit(*metrics, Sync::None);
    } catch (const std::exception &e) {
      status.Say("error", e.what());
      status.Fail(kExitOutput);
    }
  }
  run.ExitStatus = status.Status();
  if (metrics && o.PrometheusFile.empty())
    std::cout << *metrics;
  if (o.Json) {
    Json document = BuildJson(run);
    document["devices"] = devices;
    std::cout << JsonText(document);
  }
  return run.ExitStatus;
}

} // namespace

int RunAllCards(const Options &o, RunStatus &status) {
  // The textfile's folder is checked before any card is touched.
  std::unique_ptr<PendingFile> file;
  if (!PrepareMetricsFile(o, status, file))
    return PublishAll(o, status, Json::array(), nullptr, nullptr);
  const CardTime timeout{o.Timeout ? *o.Timeout : kDefaultTimeoutSeconds, OnChangeSecondsAtMost(o)};
  std::vector<std::string> errors;
  std::vector<ScanEntry> found =
      o.ScanPatterns.empty() ? ScanList({}, errors, ScanDetail::Names)
                             : ProbeCandidates(o.ScanPatterns, "/sys", errors, ScanDetail::Names);
  for (const std::string &e : errors) {
    status.Say("warning", e);
    status.Fail(kExitOpenFailed);
  }
  if (found.empty())
    status.Say("information", "no card devices found");
  // The cards' metrics come back on their standard output, unless that
  // carries their JSON documents: then each run leaves a file in a scratch
  // folder.
  const bool metricsOnPipe = o.Prometheus && !o.Json;
  ScratchDir scratch(o.Prometheus && !metricsOnPipe);
  if (o.Prometheus && !metricsOnPipe && scratch.Path.empty()) {
    status.Say("error",
               std::string("cannot make a folder for the cards' metrics: ") + std::strerror(errno));
    status.Fail(kExitAcquisition);
    return PublishAll(o, status, Json::array(), nullptr, nullptr);
  }
  std::vector<CardRun> runs(found.size());
  std::vector<std::string> metricsFiles(found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    runs[i].Argv = {status.Run().Argv.empty() ? "sdsmart" : status.Run().Argv[0]};
    runs[i].Argv.insert(runs[i].Argv.end(), o.PassOn.begin(), o.PassOn.end());
    if (metricsOnPipe)
      runs[i].Argv.push_back("--prometheus");
    else if (o.Prometheus)
      runs[i].Argv.push_back("--prometheus=" + (metricsFiles[i] = scratch.File(i)));
    runs[i].Argv.insert(runs[i].Argv.end(), {"--", found[i].Name});
  }
  if (isatty(STDOUT_FILENO)) // the reports are drawn for this terminal
    ::setenv("COLUMNS", std::to_string(TerminalWidth(STDOUT_FILENO)).c_str(), 1);
  CatchStopSignals();
  // The runs convert text in the environment's locale, which the library
  // builds once a process: built here, each forked run finds it built, as it
  // finds the libraries loaded.
  ToWideString(std::string());
  // Each card's section as soon as the cards before it are done.
  std::vector<bool> ended(runs.size());
  std::vector<int> bits(runs.size());
  size_t printed = 0;
  RunLimits limits{o.Jobs ? *o.Jobs : std::max<size_t>(runs.size(), 1), timeout.Total(),
                   kKillGraceSeconds};
  size_t read = 0;
  RunChildren(
      runs, limits, stopSignal,
      [&](size_t index) {
        ended[index] = true;
        for (; printed < runs.size() && ended[printed]; ++printed) {
          PrintSection(o, printed, found[printed].Name, runs[printed]);
          status.Fail(bits[printed] =
                          CardBits(found[printed].Name, runs[printed], timeout, status));
          read += (bits[printed] & (kExitOpenFailed | kExitAcquisition)) == 0;
        }
      },
      ReadOneCard);
  if (stopSignal) {
    const char *name = ::sigabbrev_np(stopSignal);
    status.Say("error", std::string("interrupted by ") +
                            (name ? "SIG" + std::string(name) : "a signal") +
                            "; the cards' runs were stopped");
    status.Interrupted(stopSignal);
  }
  Json devices = Json::array();
  std::vector<std::string> metrics;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (o.Json)
      devices.push_back(DeviceJson(found[i].Name, runs[i], bits[i], timeout));
    if (o.Prometheus)
      metrics.push_back(
          CardMetrics(found[i].Name, WrittenMetrics(runs[i], metricsFiles[i]), bits[i]));
  }
  std::string merged = DeviceCounts(found.size(), read) + MergePrometheus(metrics);
  return PublishAll(o, status, devices, o.Prometheus ? &merged : nullptr, file.get());
}

} // namespace sdsmart_tool
