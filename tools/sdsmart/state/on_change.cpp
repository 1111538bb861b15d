// SPDX-License-Identifier: MIT
#include "state/on_change.h"

#include "output/output.h"
#include "state/forecast.h"
#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <spawn.h>
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
  return a;
}

int LifeLevel(const RunRecord &run, const HealthLimits &limits) {
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
  if (now.LifeEnd && before.LifeEnd && *now.LifeEnd <= *before.LifeEnd - kForecastMoveSeconds)
    add("forecast");
  return events;
}

// The command with the card's facts in its environment; its standard output
// goes to our standard error, so that a JSON document on ours stays whole.
// "" when it ran and exited 0, else what went wrong.
std::string Spawn(const std::string &command, const std::vector<std::string> &variables) {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (std::strncmp(*e, "SDSMART_", 8) != 0)
      env.push_back(*e);
  env.insert(env.end(), variables.begin(), variables.end());
  std::vector<char *> envp, argv{const_cast<char *>(command.c_str()), nullptr};
  for (std::string &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, command.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return std::string("cannot run it: ") + std::strerror(rc);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(wstatus))
    return "it was ended by signal " + std::to_string(WTERMSIG(wstatus));
  return WEXITSTATUS(wstatus) ? "it exited with status " + std::to_string(WEXITSTATUS(wstatus))
                              : "";
}

} // namespace

void RunOnChange(const Options &o, const std::string &memoryFile, const std::string &stateFile,
                 RunStatus &status) {
  const RunRecord &run = status.Run();
  Announced before = LoadAnnounced(memoryFile), now;
  now.Verdict = run.Health ? VerdictName(run.Health->Status) : "";
  now.LifeLevel = std::max(before.LifeLevel, LifeLevel(run, o.Limits));
  std::optional<int64_t> end;
  if (run.Forecast && run.Forecast->LimitAt)
    end = run.Forecast->LimitAt;
  now.LifeEnd = end;
  std::string events = Events(before, now);
  // An end date that crept earlier by less than the step stays as announced,
  // so that slow drift adds up to an event.
  if (end && before.LifeEnd && *end < *before.LifeEnd &&
      events.find("forecast") == std::string::npos)
    now.LifeEnd = before.LifeEnd;
  if (!events.empty()) {
    std::string reasons;
    for (const std::string &r : run.Health ? run.Health->Reasons : std::vector<std::string>())
      reasons += (reasons.empty() ? "" : "; ") + r;
    std::string failure = Spawn(
        o.OnChange, {"SDSMART_EVENTS=" + events, "SDSMART_DEVICE=" + o.Device,
                     "SDSMART_CARD_ID=" + (run.Forecast ? run.Forecast->CardId : ""),
                     "SDSMART_VERDICT=" + now.Verdict, "SDSMART_PREVIOUS_VERDICT=" + before.Verdict,
                     "SDSMART_REASONS=" + reasons, "SDSMART_STATE_FILE=" + stateFile,
                     "SDSMART_LIFE_END=" + (end ? DateText(*end) : "")});
    if (!failure.empty())
      status.Say("warning", "--on-change " + o.OnChange + " (" + events + "): " + failure);
  }
  Json memory;
  memory["verdict"] = now.Verdict;
  memory["life_level"] = now.LifeLevel;
  memory["life_end"] = now.LifeEnd ? Json(*now.LifeEnd) : Json(nullptr);
  try {
    WriteFileAtomically(memoryFile, memory.dump() + "\n", 0644, true);
  } catch (const std::exception &e) {
    status.Say("warning", std::string("--on-change: ") + e.what());
  }
}

} // namespace sdsmart_tool
