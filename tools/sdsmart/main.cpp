// sdsmart: the S.M.A.R.T. health report of an SD card, in the manner of the
// disk-health tools people already use. The card's data comes first: sector 0
// is journaled before every acquisition and checked after it, and Ctrl-C or
// SIGTERM only ask the library to stop at its next safe point.
#include "card_data.h"
#include "config_codec.h"
#include "files.h"
#include "health.h"
#include "histogram.h"
#include "journal.h"
#include "options.h"
#include "output.h"
#include "scan.h"
#include "sector0.h"

#include "util/convert.h"
#include "util/error.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace sdsmart_tool;

namespace {

volatile sig_atomic_t g_signal = 0;

extern "C" void OnSignal(int sig) {
  if (!g_signal)
    g_signal = sig;
  // The reader polls this between sector transfers, leaves special mode and
  // the library writes sector 0 back before GetSmartInfo returns.
  _Terminated = true;
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

class Tool {
public:
  Tool(RunRecord &run, const Options &o) : run_(run), o_(o) {}

  void Say(const std::string &severity, const std::string &text) {
    run_.messages.push_back({severity, text});
    std::cerr << "sdsmart: " << (severity == "information" ? "" : severity + ": ") << text << "\n";
  }

  void LibraryFailure(const std::string &what, int code, const std::string &message) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(code));
    Say("error", what + ": library error " + std::to_string(code) + " (" + hex + "): " + message);
    run_.error = LibraryError{code, message};
  }

  void LibraryFailure(const std::string &what, const CError &e) {
    LibraryFailure(what, static_cast<int>(e.GetCode()), ToNarrowString(e.GetText()));
  }

  // Explains why the node cannot be opened; false when it cannot.
  bool CheckDeviceOpens() {
    int err = ProbeOpen(o_.device);
    if (err == 0)
      return true;
    if (err == EACCES || err == EPERM)
      Say("error",
          o_.device +
              ": permission denied. Reading SMART data needs read-write access to the device: "
              "run sdsmart as root or as a member of the disk group.");
    else if (err == ENOENT || err == ENXIO || err == ENODEV)
      Say("error", o_.device + ": no such device (" + std::strerror(err) +
                       "). sdsmart --scan lists card devices.");
    else
      Say("error", o_.device + ": cannot open: " + std::strerror(err));
    bits_ |= kExitOpenFailed;
    return false;
  }

  bool LoadConfiguration() {
    std::string path = o_.config_path;
    struct stat st {};
    bool local = ::stat("config", &st) == 0;
    int rc = SetDiskName(o_.device.c_str());
    if (path.empty() && !local && ::stat("/etc/sdsmart/config", &st) == 0)
      path = "/etc/sdsmart/config";
    if (!path.empty())
      rc = SetConfigPath(path.c_str());
    if (rc != 0) {
      LibraryFailure("configuration " + (path.empty() ? std::string("./config") : path),
                     GetErrorCode(), GetErrorMessage());
      if (path.empty() && !local)
        Say("information",
            "no configuration found: put it in ./config or /etc/sdsmart/config, or name it "
            "with --config PATH");
      bits_ |= kExitAcquisition;
      return false;
    }
    if (o_.smart_version)
      SetSmartVersion(static_cast<unsigned char>(*o_.smart_version));
    if (o_.select)
      _FuncSel = *o_.select;
    return true;
  }

  // Saves sector 0 before the library touches it. false when the acquisition
  // must not run.
  bool PrepareJournal(std::unique_ptr<Journal> &journal, Sector &before) {
    std::string dir = ChooseStateDir(o_.state_dir);
    if (dir.empty()) {
      Say("error",
          std::string("no writable directory for the sector-0 journal") +
              (o_.state_dir.empty() ? " (tried /var/lib/sdsmart, $XDG_STATE_HOME/sdsmart and "
                                      "~/.local/state/sdsmart)"
                                    : " (" + o_.state_dir + ")") +
              "; name one with --state-dir. Not reading the card without a saved copy of its "
              "sector 0.");
      bits_ |= kExitAcquisition;
      return false;
    }
    journal = std::make_unique<Journal>(dir, o_.device);
    if (!journal->Lock()) {
      Say("error", "another sdsmart run is reading " + o_.device + " (its lock is held in " + dir +
                       "); not starting a second one");
      bits_ |= kExitAcquisition;
      return false;
    }
    try {
      Sector0Device dev(o_.device);
      before = dev.Read();
    } catch (const CError &e) {
      LibraryFailure(o_.device + ": reading sector 0", e);
      bits_ |= static_cast<int>(e.GetCode()) == 4106 ? kExitOpenFailed : kExitAcquisition;
      return false;
    }
    if (std::optional<Sector> saved = journal->Load()) {
      if (*saved != before) {
        SectorPattern p = ClassifySector(before);
        Say("error",
            "a saved sector 0 of an interrupted run of " + o_.device + " is in " + journal->Path() +
                (p != SectorPattern::None
                     ? std::string(" and the card's sector 0 still holds a special-mode ") +
                           PatternName(p) +
                           " pattern. Restore it with: sdsmart --restore-sector0 " + o_.device
                     : " but the card's sector 0 now holds other data (another card, or "
                       "rewritten?). If "
                       "the copy belongs to this card, restore it with: sdsmart --restore-sector0 "
                       "--force " +
                           o_.device + "; otherwise remove the file."));
        bits_ |= kExitAcquisition;
        return false;
      }
      Say("information",
          "an earlier run left " + journal->Path() + ", which matches the card's sector 0");
    } else if (journal->Exists()) {
      Say("error", journal->Path() +
                       " is not a 512-byte sector copy; check it and remove it before reading " +
                       o_.device);
      bits_ |= kExitAcquisition;
      return false;
    }
    SectorPattern p = ClassifySector(before);
    if (p != SectorPattern::None) {
      Say("error", "sector 0 of " + o_.device + " holds a special-mode " + PatternName(p) +
                       " pattern, not the card's own data: an earlier run was interrupted and no "
                       "saved copy is "
                       "in " +
                       dir + ". Not reading the card, as its sector 0 could not be protected.");
      bits_ |= kExitAcquisition;
      return false;
    }
    try {
      journal->Save(before);
    } catch (const std::exception &e) {
      Say("error",
          std::string("cannot save sector 0: ") + e.what() + ". Not reading the card without it.");
      bits_ |= kExitAcquisition;
      return false;
    }
    return true;
  }

  // After the run: sector 0 must equal the copy taken before it.
  void VerifySector0(const Journal &journal, const Sector &before) {
    try {
      Sector0Device dev(o_.device);
      Sector after = dev.Read();
      if (after != before) {
        SectorPattern p = ClassifySector(after);
        if (p == SectorPattern::None) {
          Say("error", "sector 0 of " + o_.device +
                           " changed during the run; the copy taken before it is kept in " +
                           journal.Path() + " (restore with: sdsmart --restore-sector0 --force " +
                           o_.device + ")");
          bits_ |= kExitAcquisition;
          return;
        }
        Say("warning", std::string("sector 0 of ") + o_.device + " still holds a special-mode " +
                           PatternName(p) + " pattern after the run; writing the saved copy back");
        dev.Write(before);
        if (dev.Read() != before) {
          Say("error", "sector 0 of " + o_.device +
                           " does not read back as written; the saved copy is kept in " +
                           journal.Path());
          bits_ |= kExitAcquisition;
          return;
        }
      }
    } catch (const CError &e) {
      LibraryFailure(
          o_.device + ": verifying sector 0 (the saved copy is kept in " + journal.Path() + ")", e);
      bits_ |= kExitAcquisition;
      return;
    }
    if (!journal.Remove())
      Say("warning", "cannot remove " + journal.Path() + ": " + std::strerror(errno));
  }

  int Acquire() {
    run_.device = o_.device;
    if (!CheckDeviceOpens() || !LoadConfiguration())
      return Finish();
    InstallSignalHandlers();
    std::unique_ptr<Journal> journal;
    Sector before{};
    if (!PrepareJournal(journal, before))
      return Finish();
    int rc = 1;
    if (!g_signal) {
      rc = GetSmartInfo();
      if (rc != 0 && !g_signal)
        LibraryFailure(o_.device + ": reading the SMART data", GetErrorCode(), GetErrorMessage());
    }
    VerifySector0(*journal, before);
    if (g_signal) {
      Say("error",
          std::string("interrupted by ") +
              (g_signal == SIGINT    ? "SIGINT"
               : g_signal == SIGTERM ? "SIGTERM"
                                     : "a signal") +
              "; the acquisition was stopped" +
              ((bits_ & kExitAcquisition) ? ""
                                          : " and sector 0 of " + o_.device + " is as it was"));
      interrupted_ = 128 + g_signal;
      run_.error = LibraryError{GetErrorCode(), GetErrorMessage()};
      return Finish();
    }
    if (rc != 0) {
      bits_ |= kExitAcquisition;
      return Finish();
    }
    run_.card = CollectCardData(o_.device);
    run_.health = Evaluate(run_.card->counters, o_.limits);
    run_.distribution = EraseCountRegions(run_.card->erase_counts);
    bits_ |= VerdictExitBits(run_.health->verdict);
    return Finish();
  }

  int Finish() {
    int status = interrupted_ ? interrupted_ : bits_;
    run_.exit_status = status;
    if (o_.prometheus) {
      std::string text = RenderPrometheus(run_);
      if (o_.prometheus_file.empty()) {
        std::cout << text;
      } else {
        try {
          WriteFileAtomically(o_.prometheus_file, text, 0644, false);
        } catch (const std::exception &e) {
          Say("error", e.what());
          status |= interrupted_ ? 0 : kExitAcquisition;
          run_.exit_status = status;
        }
      }
    }
    if (o_.json) {
      std::cout << BuildJson(run_).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
    } else if (!o_.prometheus || !o_.prometheus_file.empty()) {
      if (o_.mode == Mode::Health && run_.health)
        std::cout << RenderHealthOnly(run_);
      else if (run_.card) {
        ReportStyle style;
        style.width = TerminalWidth(STDOUT_FILENO);
        style.glyph = isatty(STDOUT_FILENO) && Utf8Locale() ? "\u2588" : "#";
        std::cout << "sdsmart " << SDSMART_TOOL_VERSION << " (library "
                  << Printable(GetLibraryVersion()) << ")\n"
                  << RenderReport(run_, style);
      }
    }
    std::cout.flush();
    return status;
  }

  int Restore() {
    run_.device = o_.device;
    if (!CheckDeviceOpens())
      return Finish();
    std::string dir = ChooseStateDir(o_.state_dir);
    if (dir.empty()) {
      Say("error", "no state directory with saved sector-0 copies is usable");
      bits_ |= kExitAcquisition;
      return Finish();
    }
    Journal journal(dir, o_.device);
    if (!journal.Lock()) {
      Say("error",
          "another sdsmart run is using " + o_.device + "; try again when it has finished");
      bits_ |= kExitAcquisition;
      return Finish();
    }
    std::optional<Sector> saved = journal.Load();
    if (!saved) {
      Say("error", journal.Exists() ? journal.Path() + " is not a 512-byte sector copy"
                                    : "no saved sector 0 of " + o_.device + " in " + dir);
      bits_ |= kExitAcquisition;
      return Finish();
    }
    try {
      Sector0Device dev(o_.device);
      Sector now = dev.Read();
      if (now == *saved) {
        Say("information", "sector 0 of " + o_.device +
                               " already equals the saved copy; removing " + journal.Path());
      } else {
        SectorPattern p = ClassifySector(now);
        if (p == SectorPattern::None && !o_.force) {
          Say("error", "sector 0 of " + o_.device +
                           " does not hold a special-mode pattern, so it may have been "
                           "rewritten since the copy in " +
                           journal.Path() +
                           " was taken. Not writing it; use --force "
                           "if the copy belongs to this card.");
          bits_ |= kExitAcquisition;
          return Finish();
        }
        dev.Write(*saved);
        if (dev.Read() != *saved) {
          Say("error", "sector 0 of " + o_.device + " does not read back as written; keeping " +
                           journal.Path());
          bits_ |= kExitAcquisition;
          return Finish();
        }
        Say("information",
            "sector 0 of " + o_.device + " restored from " + journal.Path() +
                (p == SectorPattern::None
                     ? std::string(" (forced)")
                     : std::string(" (it held a special-mode ") + PatternName(p) + " pattern)"));
      }
    } catch (const CError &e) {
      LibraryFailure(o_.device + ": restoring sector 0", e);
      bits_ |= static_cast<int>(e.GetCode()) == 4106 ? kExitOpenFailed : kExitAcquisition;
      return Finish();
    }
    if (!journal.Remove())
      Say("warning", "cannot remove " + journal.Path() + ": " + std::strerror(errno));
    return Finish();
  }

  int Scan() {
    std::vector<std::string> errors;
    std::vector<ScanEntry> found =
        Merge(Merge(ScanSysBlock("/sys"), ProbeUnlistedNodes("/sys", "/dev")),
              ProbeCandidates(o_.scan_patterns, "/sys", errors));
    for (const std::string &e : errors) {
      Say("warning", e);
      bits_ |= kExitOpenFailed;
    }
    run_.exit_status = bits_;
    if (o_.json) {
      nlohmann::json j = BuildJson(run_);
      nlohmann::json devices = nlohmann::json::array();
      for (const ScanEntry &e : found)
        devices.push_back({{"name", e.name},
                           {"transport", e.transport},
                           {"vendor", e.vendor},
                           {"model", e.model},
                           {"size_bytes", e.size_bytes},
                           {"caption", e.Caption()}});
      j["devices"] = devices;
      std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
      for (const ScanEntry &e : found)
        std::cout << e.Caption() << "\n";
    }
    return bits_;
  }

  int Config() {
    std::string input;
    if (!ReadWholeFile(o_.config_file, input)) {
      Say("error", o_.config_file + ": " + std::strerror(errno));
      return kExitAcquisition;
    }
    std::string output;
    if (o_.mode == Mode::ConfigCheck) {
      return CheckConfig(o_.config_file, std::cout, std::cerr) ? 0 : kExitAcquisition;
    } else if (o_.mode == Mode::ConfigDecode) {
      std::string why;
      if (!DecodeConfig(input, output, why)) {
        Say("error", o_.config_file + ": " + why);
        return kExitAcquisition;
      }
    } else {
      output = EncodeConfig(input);
      // The stored form must load in the library before it replaces anything.
      std::string probe = (o_.output_file.empty()
                               ? std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp")
                               : DirectoryOf(o_.output_file)) +
                          "/.sdsmart-config-check-" + std::to_string(::getpid());
      try {
        WriteFileAtomically(probe, output, 0644, true);
      } catch (const std::exception &e) {
        Say("error", e.what());
        return kExitAcquisition;
      }
      std::ostringstream quiet;
      bool readable = CheckConfig(probe, quiet, std::cerr);
      if (!readable || o_.output_file.empty()) {
        ::unlink(probe.c_str());
        if (!readable) {
          Say("error",
              o_.config_file +
                  ": the library could not read the stored form (see above); nothing written");
          return kExitAcquisition;
        }
      } else {
        if (::rename(probe.c_str(), o_.output_file.c_str()) != 0) {
          Say("error",
              "cannot rename " + probe + " to " + o_.output_file + ": " + std::strerror(errno));
          ::unlink(probe.c_str());
          return kExitAcquisition;
        }
        return 0;
      }
    }
    if (o_.output_file.empty()) {
      std::cout << output;
      std::cout.flush();
      return std::cout ? 0 : kExitAcquisition;
    }
    try {
      WriteFileAtomically(o_.output_file, output, 0644, true);
    } catch (const std::exception &e) {
      Say("error", e.what());
      return kExitAcquisition;
    }
    return 0;
  }

private:
  RunRecord &run_;
  const Options &o_;
  int bits_ = 0;
  int interrupted_ = 0;
};

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RunRecord run;
  run.argv.assign(argv, argv + argc);
  Options o;
  std::string error;
  if (!ParseCommandLine(args, o, error)) {
    std::cerr << "sdsmart: " << error << "\nTry 'sdsmart --help' for more information.\n";
    bool json = false;
    for (const std::string &a : args)
      json = json || a == "-j" || a == "--json";
    if (json) {
      run.messages.push_back({"error", error});
      run.exit_status = kExitCommandLine;
      std::cout << BuildJson(run).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
    }
    return kExitCommandLine;
  }
  Tool tool(run, o);
  switch (o.mode) {
  case Mode::Help:
    std::cout << UsageText();
    return 0;
  case Mode::Version:
    std::cout << "sdsmart " << SDSMART_TOOL_VERSION << "\nlibsdsmart " << GetLibraryVersion()
              << "\n";
    return 0;
  case Mode::Scan:
    return tool.Scan();
  case Mode::RestoreSector0:
    return tool.Restore();
  case Mode::ConfigDecode:
  case Mode::ConfigEncode:
  case Mode::ConfigCheck:
    return tool.Config();
  case Mode::Report:
  case Mode::Health:
    return tool.Acquire();
  }
  return kExitCommandLine;
}
