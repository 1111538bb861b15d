// SPDX-License-Identifier: MIT
// sdsmart: the S.M.A.R.T. health report of an SD card, in the manner of the
// disk-health tools people already use. main() parses the command line and
// hands the run to its action.
#include "modes/modes.h"

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

} // namespace

int main(int argc, char **argv) {
  bool stdoutClosed = OpenStandardDescriptors();
  // A reader that went away (a report piped into head) is a failed write,
  // handled as one, not the end of the run with the card in special mode.
  std::signal(SIGPIPE, SIG_IGN);
  return FinishOutput(RunCommandLine({argv, argv + argc}), stdoutClosed);
}
