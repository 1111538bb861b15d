// sdsmart: the S.M.A.R.T. health report of an SD card, in the manner of the
// disk-health tools people already use. main() parses the command line and
// hands the run to its action.
#include "modes.h"

#include <sdsmart/sdsmart.h>

#include <iostream>

using namespace sdsmart_tool;

int main(int argc, char **argv) {
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
