// SPDX-License-Identifier: MIT
// sdsmart: the S.M.A.R.T. health report of an SD card, in the manner of the
// disk-health tools people already use. main() parses the command line and
// hands the run to its action.
#include "modes.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

using namespace sdsmart_tool;

namespace {

// A descriptor 0, 1 or 2 that is closed would be taken by the next open,
// perhaps the card's: each gets a stand-in first. A closed standard output
// gets /dev/full, so that whatever is printed fails and is reported.
bool OpenStandardDescriptors() {
  bool stdoutClosed = false;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
      continue;
    stdoutClosed |= fd == STDOUT_FILENO;
    int stand = ::open(fd == STDOUT_FILENO ? "/dev/full" : "/dev/null", O_RDWR);
    if (stand >= 0 && stand != fd) {
      ::dup2(stand, fd);
      ::close(stand);
    }
  }
  return stdoutClosed;
}

// Output is part of success: a report that did not reach standard output
// is an error of the run.
int FinishOutput(int status, bool stdoutClosed) {
  std::cout.flush();
  bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
  int err = errno;
  if (!failed && ::close(STDOUT_FILENO) != 0 && errno != EBADF) {
    failed = true;
    err = errno;
  }
  if (!failed)
    return status;
  std::cerr << "sdsmart: error: cannot write standard output: "
            << (stdoutClosed ? "it is closed" : std::strerror(err)) << "\n";
  return status >= 128 ? status : status | kExitOutput;
}

int Run(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RunRecord run;
  run.Argv.assign(argv, argv + argc);
  RunStatus status(run);
  Options options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) {
    std::cerr << "sdsmart: " << error << "\nTry 'sdsmart --help' for more information.\n";
    if (WantsJson(args)) {
      run.Messages.push_back({"error", error});
      run.ExitStatus = kExitCommandLine;
      std::cout << JsonText(BuildJson(run));
    }
    return kExitCommandLine;
  }
  switch (options.Action) {
  case Mode::Help:
    std::cout << UsageText();
    return 0;
  case Mode::Version:
    std::cout << "sdsmart " << SDSMART_TOOL_VERSION << "\nlibsdsmart " << GetLibraryVersion()
              << "\n";
    return 0;
  case Mode::Scan:
    return RunScan(options, status);
  case Mode::RestoreSector0:
    return RunRestore(options, status);
  case Mode::RebuildSector0:
    return RunRebuild(options, status);
  case Mode::ConfigDecode:
  case Mode::ConfigEncode:
  case Mode::ConfigCheck:
    return RunConfig(options, status);
  case Mode::History:
    return RunHistory(options, status);
  case Mode::Report:
  case Mode::Health:
    return options.All ? RunAllCards(options, status) : RunAcquisition(options, status);
  }
  return kExitCommandLine;
}

} // namespace

int main(int argc, char **argv) {
  bool stdoutClosed = OpenStandardDescriptors();
  // A reader that went away (a report piped into head) is a failed write,
  // handled as one, not the end of the run with the card in special mode.
  std::signal(SIGPIPE, SIG_IGN);
  return FinishOutput(Run(argc, argv), stdoutClosed);
}
