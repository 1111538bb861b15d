// SPDX-License-Identifier: MIT
#include "run/card_runs.h"

#include "sdsmart/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

using Clock = std::chrono::steady_clock;

struct Child {
  size_t Index;
  pid_t Pid;
  CUniqueFd Out, Err;         // read ends; closed at end of file
  Clock::time_point Deadline; // of the timeout, then of the grace period
  bool Terminated = false;    // SIGTERM sent, SIGKILL at the deadline
};

// Exec gives a program the default action of every signal it caught; a
// forked child gets the same before it runs, so that a signal before the
// card's run takes over ends it as it would a new program. The tool's own
// handlers are plain ones; those a runtime installs with SA_SIGINFO (a
// sanitizer's crash reports) stay, as the runtime would install them again
// in a new program.
void DefaultCaughtSignals() {
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) == 0 && !(action.sa_flags & SA_SIGINFO) &&
        action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN)
      ::signal(signal, SIG_DFL);
  }
}

// Starts run.Argv in a forked copy of this process, with its standard output
// and error on pipes. The copy has its libraries loaded and relocated
// already, which a new program would do again for each card.
bool Spawn(CardRun &run, size_t index, std::vector<Child> &children, const CardMain &cardMain) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    run.NotStarted = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  CUniqueFd outRead(out[0]), outWrite(out[1]);
  if (::pipe2(err, O_CLOEXEC) != 0) {
    run.NotStarted = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  CUniqueFd errRead(err[0]), errWrite(err[1]);
  std::cout.flush(); // what is buffered now is the parent's to write, once
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    run.NotStarted = std::string("cannot start a run: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ::dup2(outWrite.Get(), STDOUT_FILENO);
    ::dup2(errWrite.Get(), STDERR_FILENO);
    for (int fd : {outRead.Get(), outWrite.Get(), errRead.Get(), errWrite.Get()})
      ::close(fd);
    for (const Child &other : children) // the other runs' pipes are not this one's
      for (const CUniqueFd *fd : {&other.Out, &other.Err})
        if (fd->IsOpen())
          ::close(fd->Get());
    DefaultCaughtSignals();
    std::exit(cardMain(run.Argv));
  }
  run.Started = true;
  children.push_back(Child{index, pid, std::move(outRead), std::move(errRead), {}, false});
  return true;
}

// Appends what the pipe holds; closes it at end of file.
void Drain(CUniqueFd &fd, std::string &into) {
  char buffer[65536];
  ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
  if (n > 0)
    into.append(buffer, static_cast<size_t>(n));
  else if (n == 0 || (errno != EINTR && errno != EAGAIN))
    fd.Close();
}

void Reap(const Child &child, CardRun &run) {
  int status = 0;
  while (::waitpid(child.Pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status))
    run.Signal = WTERMSIG(status);
  else
    run.ExitStatus = WEXITSTATUS(status);
}

// Sends SIGTERM to the children past their timeout and SIGKILL to those
// past their grace; returns the milliseconds until the next deadline.
int Watch(std::vector<Child> &children, std::vector<CardRun> &runs, const RunLimits &limits) {
  Clock::time_point now = Clock::now(), next = Clock::time_point::max();
  for (Child &child : children) {
    if (now >= child.Deadline && !child.Terminated) {
      ::kill(child.Pid, SIGTERM);
      runs[child.Index].TimedOut = child.Terminated = true;
      child.Deadline = now + std::chrono::seconds(limits.GraceSeconds);
    } else if (now >= child.Deadline) {
      ::kill(child.Pid, SIGKILL);
      child.Deadline = Clock::time_point::max();
    }
    next = std::min(next, child.Deadline);
  }
  if (next == Clock::time_point::max())
    return -1;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
  return static_cast<int>(std::clamp<long long>(ms, 0, 60000));
}

} // namespace

void RunChildren(std::vector<CardRun> &runs, const RunLimits &limits,
                 const volatile sig_atomic_t &stop, const std::function<void(size_t)> &done,
                 const CardMain &cardMain) {
  std::vector<Child> children;
  size_t next = 0;
  bool forwarded = false;
  while (next < runs.size() || !children.empty()) {
    for (; next < runs.size() && (stop || children.size() < limits.Parallel); ++next) {
      if (stop)
        runs[next].NotStarted = "not started: the run was interrupted";
      if (stop || !Spawn(runs[next], next, children, cardMain))
        done(next);
      else
        children.back().Deadline = Clock::now() + std::chrono::seconds(limits.TimeoutSeconds);
    }
    if (stop && !forwarded) {
      for (const Child &child : children)
        ::kill(child.Pid, stop);
      forwarded = true;
    }
    if (children.empty())
      continue;
    std::vector<pollfd> fds;
    for (const Child &child : children)
      for (const CUniqueFd *fd : {&child.Out, &child.Err})
        fds.push_back({fd->Get(), POLLIN, 0}); // a closed one (-1) is skipped
    if (::poll(fds.data(), fds.size(), Watch(children, runs, limits)) < 0 && errno != EINTR) {
      // Nothing left to wait with: the children lose their pipes and end.
      for (Child &child : children)
        child.Out.Close(), child.Err.Close();
    }
    for (size_t i = 0, k = 0; i < children.size(); k += 2) {
      Child &child = children[i];
      CardRun &run = runs[child.Index];
      if (fds[k].revents && child.Out.IsOpen())
        Drain(child.Out, run.Out);
      if (fds[k + 1].revents && child.Err.IsOpen())
        Drain(child.Err, run.Err);
      if (child.Out.IsOpen() || child.Err.IsOpen()) {
        ++i;
        continue;
      }
      Reap(child, run);
      size_t index = child.Index;
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
      done(index);
    }
  }
}

} // namespace sdsmart_tool
