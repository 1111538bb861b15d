// SPDX-License-Identifier: MIT
// Runs of this tool in child processes, one card each: the library keeps one
// session per process, so cards are read side by side only in processes of
// their own. The children are forked copies of a process that has not begun
// a session; each child's standard output and error come back through pipes.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct CardRun {
  std::vector<std::string> Argv; // the card's command line, Argv[0] included
  std::string Out, Err;
  bool Started = false;
  std::string NotStarted; // why, when it was not
  int ExitStatus = -1;    // when it exited
  int Signal = 0;         // when a signal ended it
  bool TimedOut = false;  // it outlived the timeout and was sent SIGTERM
};

struct RunLimits {
  size_t Parallel = 1;     // children at a time
  unsigned TimeoutSeconds; // then SIGTERM (the run restores its card and ends)
  unsigned GraceSeconds;   // then SIGKILL
};

// What a child does with its run's command line; returns its exit status.
using CardMain = std::function<int(const std::vector<std::string> &argv)>;

// Runs every entry with at most limits.Parallel children at a time and
// calls done(i) as run i ends, in any order. A child that outlives the
// timeout gets SIGTERM, and SIGKILL after the grace period. Once `stop`
// holds a signal number no more runs start and the running ones get that
// signal; every child is waited for before this returns.
void RunChildren(std::vector<CardRun> &runs, const RunLimits &limits,
                 const volatile sig_atomic_t &stop, const std::function<void(size_t)> &done,
                 const CardMain &cardMain);

} // namespace sdsmart_tool
