// SPDX-License-Identifier: MIT
// config decode|encode|check: the stored configuration and its plain text.
#include "config/codec.h"
#include "modes/modes.h"
#include "util/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

// The output file, replaced as every file of the tool is (util/files.h).
int WriteOutput(const std::string &path, const std::string &data, RunStatus &status) {
  try {
    WriteFileAtomically(path, data, 0644, Sync::Rename);
    return 0;
  } catch (const std::exception &e) {
    status.Say("error", e.what());
    return kExitOutput;
  }
}

// Encodes input and proves that the library reads the stored form before
// anything is replaced: the probe is written next to the output (or to
// $TMPDIR) and loaded first. Writes OutputFile itself; with no OutputFile,
// stored is left for standard output. Returns the exit status.
int EncodeChecked(const Options &o, const std::string &input, std::string &stored,
                  RunStatus &status) {
  stored = EncodeConfig(input);
  const char *tmp = std::getenv("TMPDIR");
  std::string probe =
      (o.OutputFile.empty() ? std::string(tmp ? tmp : "/tmp") : DirectoryOf(o.OutputFile)) +
      "/.sdsmart-config-check-" + std::to_string(::getpid());
  try {
    WriteFileAtomically(probe, stored, 0644, Sync::Rename);
  } catch (const std::exception &e) {
    status.Say("error", e.what());
    return kExitOutput;
  }
  std::ostringstream quiet;
  bool readable = CheckConfig(probe, quiet, std::cerr, o.ConfigFile + " (stored form)", false);
  ::unlink(probe.c_str());
  if (!readable) {
    status.Say("error", o.ConfigFile +
                            ": the library could not read the stored form (see above); nothing "
                            "written");
    return kExitAcquisition;
  }
  return o.OutputFile.empty() ? 0 : WriteOutput(o.OutputFile, stored, status);
}

} // namespace

int RunConfig(const Options &o, RunStatus &status) {
  std::string input, output;
  struct stat st {};
  if (::stat(o.ConfigFile.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    status.Say("error", o.ConfigFile + ": it is " + FileKind(st.st_mode) + ", not a file");
    return kExitAcquisition;
  }
  if (!ReadWholeFile(o.ConfigFile, input)) {
    status.Say("error", o.ConfigFile + ": " + std::strerror(errno));
    return kExitAcquisition;
  }
  if (o.Action == Mode::ConfigCheck)
    return CheckConfig(o.ConfigFile, std::cout, std::cerr) ? 0 : kExitAcquisition;
  if (o.Action == Mode::ConfigEncode) {
    if (int exit = EncodeChecked(o, input, output, status); exit != 0 || !o.OutputFile.empty())
      return exit;
  } else {
    std::string why;
    if (!DecodeConfig(input, output, why)) {
      status.Say("error", o.ConfigFile + ": " + why);
      return kExitAcquisition;
    }
  }
  if (o.OutputFile.empty()) {
    std::cout << output;
    return 0;
  }
  return WriteOutput(o.OutputFile, output, status);
}

} // namespace sdsmart_tool
