// SPDX-License-Identifier: MIT
#include "state/on_change.h"

#include "output/output.h"
#include "state/forecast.h"
#include "state/history.h"
#include "state/state_file.h"
#include "util/files.h"

#include "sdsmart/sdsmart.h"
#include "sdsmart/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace sdsmart_tool {
namespace {

// What was last announced for the card.
struct Announced {
  std::string Verdict;            // "" before the first run
  int LifeLevel = 0;              // 1: warning limit crossed, 2: failure limit
  std::optional<int64_t> LifeEnd; // the forecast end date
  // A restore of sector 0 from the journal whose command failed: the
  // journal's time, announced again by the next run.
  std::string Sector0Restored;
};

Announced LoadAnnounced(const std::string &path) {
  Announced a;
  std::string text;
  if (!ReadWholeFile(path, text))
    return a;
  Json j = Json::parse(text, nullptr, false);
  if (!j.is_object())
    return a;
  a.Verdict = j.value("verdict", "");
  a.LifeLevel = j.value("life_level", 0);
  if (j.contains("life_end") && j["life_end"].is_number_integer())
    a.LifeEnd = j["life_end"].get<int64_t>();
  if (j.contains("sector0_restored") && j["sector0_restored"].is_string())
    a.Sector0Restored = j["sector0_restored"].get<std::string>();
  return a;
}

void SaveAnnounced(const std::string &path, const Announced &a, RunStatus &status) {
  Json memory;
  memory["verdict"] = a.Verdict;
  memory["life_level"] = a.LifeLevel;
  memory["life_end"] = a.LifeEnd ? Json(*a.LifeEnd) : Json(nullptr);
  if (!a.Sector0Restored.empty())
    memory["sector0_restored"] = a.Sector0Restored;
  try {
    WriteFileAtomically(path, memory.dump() + "\n", 0644, Sync::Contents);
  } catch (const std::exception &e) {
    status.Say("warning", std::string("--on-change: ") + e.what());
  }
}

int LifeLevel(const RunRecord &run, const HealthLimits &limits) {
  // An eMMC's bands cross the limits in its verdict.
  if (!run.Card)
    return 0;
  const std::optional<LifeFigures> life = Life(run.Card->Counters);
  if (!life)
    return 0;
  const double remaining = life->Remaining;
  return remaining <= limits.FailLife ? 2 : remaining <= limits.WarnLife ? 1 : 0;
}

// The events of this run against what was announced; `now` becomes what is
// announced.
std::string Events(const Announced &before, const Announced &now) {
  std::string events;
  auto add = [&](const char *e) { events += (events.empty() ? "" : " ") + std::string(e); };
  if (now.Verdict != before.Verdict && !(before.Verdict.empty() && now.Verdict == "PASSED"))
    add("verdict");
  if (now.LifeLevel > before.LifeLevel)
    add("life-limit");
  // Dates read back from a file: compared without overflow, whatever they are.
  if (now.LifeEnd && before.LifeEnd &&
      static_cast<__int128>(*before.LifeEnd) - *now.LifeEnd >= kForecastMoveSeconds)
    add("forecast");
  if (!now.Sector0Restored.empty())
    add("sector0-restored");
  return events;
}

// The command's standard output and error come through a pipe of our own, so
// that it holds none of our descriptors open; this much of it is passed on to
// our standard error (never to standard output, where a JSON document may be).
constexpr size_t kShownOutput = 4096;

// How often the wait looks whether the command has ended.
constexpr std::chrono::milliseconds kTick{50};

// posix_spawn's attributes and file actions, destroyed on every path.
struct SpawnSetup {
  posix_spawnattr_t Attr;
  posix_spawn_file_actions_t Actions;
  SpawnSetup() {
    posix_spawnattr_init(&Attr);
    posix_spawn_file_actions_init(&Actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attr);
  }
  SpawnSetup(const SpawnSetup &) = delete;
  SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// A started command, the leader of its own process group, and the read end
// of its output.
class Hook {
public:
  Hook(pid_t pid, CUniqueFd out) : Pid(pid), Out(std::move(out)) {}

  // Waits until the command has exited, its time is up or a signal asks the
  // run to stop; then ends what is left of its process group and reaps it.
  // "" when it exited 0, else what went wrong.
  std::string Finish(unsigned seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!Exited && !_Terminated && Step(deadline)) {
    }
    const bool ended = Exited, interrupted = !Exited && _Terminated;
    // The command, or what it started that still holds its output: SIGTERM,
    // then whatever is left of the group SIGKILL.
    if (!Exited || Out.IsOpen()) {
      ::kill(-Pid, SIGTERM);
      const auto grace = Clock::now() + std::chrono::seconds(kOnChangeGraceSeconds);
      while (!(Exited && !Out.IsOpen()) && Step(grace)) {
      }
    }
    ::kill(-Pid, SIGKILL);
    Relay();
    Out.Close();
    int wstatus = 0;
    while (::waitpid(Pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    // The rest of the group, which became ours as its parents ended.
    for (int other = 0; ::waitpid(-Pid, &other, 0) > 0 || errno == EINTR;) {
    }
    if (!ended)
      return interrupted
                 ? "it was stopped: the run was interrupted"
                 : "it did not finish within " + std::to_string(seconds) + " s and was stopped";
    if (WIFSIGNALED(wstatus))
      return "it was ended by signal " + std::to_string(WTERMSIG(wstatus));
    return WEXITSTATUS(wstatus) ? "it exited with status " + std::to_string(WEXITSTATUS(wstatus))
                                : "";
  }

  size_t Dropped = 0; // bytes of output not passed on

private:
  using Clock = std::chrono::steady_clock;

  // One wait for output or the command's end, at most a tick; false once
  // `until` has passed.
  bool Step(Clock::time_point until) {
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
      return false;
    pollfd fd{Out.Get(), POLLIN, 0}; // a closed one (-1) is skipped
    const auto wait = std::min<Clock::duration>(left, kTick);
    ::poll(&fd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
    Relay();
    siginfo_t info{}; // WNOWAIT: the zombie keeps the group's id ours
    Exited = Exited ||
             (::waitid(P_PID, static_cast<id_t>(Pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == Pid);
    return true;
  }

  // Passes on what the pipe holds now, a bounded amount (it does not block,
  // and a command that writes without pause does not hold the wait); closes
  // the pipe at its end.
  void Relay() {
    char buffer[4096];
    for (int reads = 0; reads < 16 && Out.IsOpen(); ++reads) {
      const ssize_t n = ::read(Out.Get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno == EAGAIN)
        return;
      if (n <= 0) {
        Out.Close();
        return;
      }
      const size_t shown = std::min(static_cast<size_t>(n), kShownOutput - Shown);
      std::cerr.write(buffer, static_cast<std::streamsize>(shown)).flush();
      Shown += shown;
      Dropped += static_cast<size_t>(n) - shown;
    }
  }

  pid_t Pid;
  CUniqueFd Out;
  bool Exited = false;
  size_t Shown = 0;
};

// The variables the tool gives its command: never passed on from its own
// environment, where a stale one would read as this run's (a hook's own
// settings, SDSMART_MQTT_CONFIG, pass).
bool IsHookVariable(const char *entry) {
  static const char *const kNames[] = {
      "SDSMART_EVENTS",     "SDSMART_DEVICE",           "SDSMART_CARD_ID",
      "SDSMART_VERDICT",    "SDSMART_PREVIOUS_VERDICT", "SDSMART_REASONS",
      "SDSMART_STATE_FILE", "SDSMART_LIFE_END",         "SDSMART_SECTOR0_RESTORED"};
  const char *equals = std::strchr(entry, '=');
  const size_t length = equals ? static_cast<size_t>(equals - entry) : std::strlen(entry);
  return std::any_of(std::begin(kNames), std::end(kNames), [&](const char *name) {
    return std::strlen(name) == length && std::strncmp(entry, name, length) == 0;
  });
}

// Starts the command with the card's facts in its environment, in a process
// group of its own, standard input /dev/null, standard output and error on
// the pipe whose write end is given.
std::string Start(const std::string &command, const std::vector<std::string> &variables, int output,
                  pid_t &pid) {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (!IsHookVariable(*e))
      env.push_back(*e);
  env.insert(env.end(), variables.begin(), variables.end());
  std::vector<char *> envp, argv{const_cast<char *>(command.c_str()), nullptr};
  for (std::string &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.Actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&setup.Actions, output, STDERR_FILENO);
  // Its own group, so that its time limit ends all it started; the signals
  // this run ignores and blocks are the command's to have as usual.
  sigset_t none, ours;
  sigemptyset(&none);
  sigemptyset(&ours);
  sigaddset(&ours, SIGPIPE);
  sigaddset(&ours, SIGXFSZ);
  posix_spawnattr_setflags(&setup.Attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&setup.Attr, 0);
  posix_spawnattr_setsigdefault(&setup.Attr, &ours);
  posix_spawnattr_setsigmask(&setup.Attr, &none);
  const int rc =
      ::posix_spawnp(&pid, command.c_str(), &setup.Actions, &setup.Attr, argv.data(), envp.data());
  return rc ? std::string("cannot run it: ") + std::strerror(rc) : "";
}

// Runs the command for at most `seconds`; "" when it exited 0, else what
// went wrong. Its output is passed on; what was cut is said.
std::string Spawn(const std::string &command, const std::vector<std::string> &variables,
                  unsigned seconds, RunStatus &status) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    return std::string("cannot make a pipe: ") + std::strerror(errno);
  CUniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  // Above the standard descriptors, which the child replaces before it
  // copies the write end onto two of them.
  if (writeEnd.Get() <= STDERR_FILENO)
    writeEnd = CUniqueFd(::fcntl(writeEnd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  ::fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
  // What the command leaves behind becomes ours to reap, so that nothing of
  // its group outlives the run.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t pid = -1;
  std::string failure = Start(command, variables, writeEnd.Get(), pid);
  writeEnd.Close();
  if (failure.empty()) {
    Hook hook(pid, std::move(readEnd));
    failure = hook.Finish(seconds);
    if (hook.Dropped)
      status.Say("information", "--on-change " + command + ": its output was cut after " +
                                    std::to_string(kShownOutput) + " bytes (" +
                                    std::to_string(hook.Dropped) + " more)");
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  return failure;
}

} // namespace

unsigned OnChangeSecondsAtMost(const Options &o) {
  return o.OnChange.empty() ? 0 : o.OnChangeTimeout + 2 * kOnChangeGraceSeconds;
}

void RunOnChange(const Options &o, const std::string &memoryFile, const std::string &stateFile,
                 const std::string &cardId, const HealthResult &standing, RunStatus &status) {
  const RunRecord &run = status.Run();
  Announced before = LoadAnnounced(memoryFile), now;
  now.Verdict = VerdictName(standing.Status);
  now.LifeLevel = std::max(before.LifeLevel, LifeLevel(run, o.Limits));
  std::optional<int64_t> end;
  if (run.Forecast && run.Forecast->LimitAt)
    end = run.Forecast->LimitAt;
  now.LifeEnd = end;
  now.Sector0Restored = run.Sector0Restored.empty() ? before.Sector0Restored : run.Sector0Restored;
  std::string events = Events(before, now);
  const bool changed = !events.empty();
  if (o.OnEveryReading)
    events += changed ? " reading" : "reading";
  // An end date that crept earlier by less than the step stays as announced,
  // so that slow drift adds up to an event.
  if (end && before.LifeEnd && *end < *before.LifeEnd &&
      events.find("forecast") == std::string::npos)
    now.LifeEnd = before.LifeEnd;
  if (!events.empty()) {
    std::string reasons;
    for (const std::string &r : standing.Reasons)
      reasons += (reasons.empty() ? "" : "; ") + r;
    std::string failure =
        Spawn(o.OnChange,
              {"SDSMART_EVENTS=" + events, "SDSMART_DEVICE=" + o.Device,
               "SDSMART_CARD_ID=" + cardId, "SDSMART_VERDICT=" + now.Verdict,
               "SDSMART_PREVIOUS_VERDICT=" + before.Verdict, "SDSMART_REASONS=" + reasons,
               "SDSMART_STATE_FILE=" + stateFile, "SDSMART_LIFE_END=" + (end ? DateText(*end) : ""),
               "SDSMART_SECTOR0_RESTORED=" + now.Sector0Restored},
              o.OnChangeTimeout, status);
    // Not announced: the next run announces the change again.
    if (!failure.empty()) {
      status.Say("error", "--on-change " + o.OnChange + " (" + events + "): " + failure +
                              (changed ? "; the next run announces the change again"
                                       : "; the next run passes on its reading"));
      status.Fail(kExitOutput);
      // A restore is this run's news alone: kept for the next run to announce.
      if (now.Sector0Restored != before.Sector0Restored) {
        before.Sector0Restored = now.Sector0Restored;
        SaveAnnounced(memoryFile, before, status);
      }
      return;
    }
  }
  now.Sector0Restored.clear(); // announced
  SaveAnnounced(memoryFile, now, status);
}

void RunOnUnread(const Options &o, const std::string &stateDir, RunStatus &status) {
  const std::string id = LatestCardId(stateDir + "/latest", o.Device);
  if (id.empty())
    return;
  const RunRecord &run = status.Run();
  const std::string failure =
      Spawn(o.OnChange,
            {"SDSMART_EVENTS=unread", "SDSMART_DEVICE=" + o.Device, "SDSMART_CARD_ID=" + id,
             "SDSMART_REASONS=" + (run.Error ? run.Error->Message : std::string()),
             "SDSMART_STATE_FILE=" + StatePath(stateDir, id)},
            o.OnChangeTimeout, status);
  if (!failure.empty()) {
    status.Say("error", "--on-change " + o.OnChange + " (unread): " + failure);
    status.Fail(kExitOutput);
  }
}

} // namespace sdsmart_tool
