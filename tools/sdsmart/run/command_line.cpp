// SPDX-License-Identifier: MIT
// One run of the tool from its command line: the options parsed, the run
// handed to its action, and the end of standard output checked.
#include "modes/modes.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace sdsmart_tool {

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

int RunCommandLine(const std::vector<std::string> &argv) {
  std::vector<std::string> args(argv.begin() + 1, argv.end());
  RunRecord run;
  run.Argv = argv;
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

} // namespace sdsmart_tool
