// SPDX-License-Identifier: MIT
// What a run says and the exit status it ends with: every message goes to
// standard error and into the run's record (for the JSON document), every
// failure sets its bit of the exit status.
#pragma once

#include <string>

class CError;

namespace sdsmart_tool {

struct RunRecord;

// Exit status: a bitmask, as disk-health tools do it.
enum ExitBits : int {
  kExitCommandLine = 1 << 0,   // the command line could not be parsed
  kExitOpenFailed = 1 << 1,    // the device could not be used: opened, or taken for a card
  kExitAcquisition = 1 << 2,   // reading the SMART data failed
  kExitHealthFailed = 1 << 3,  // health verdict FAILED
  kExitHealthWarning = 1 << 4, // health verdict WARNING
  kExitOutput = 1 << 5,        // standard output or an output file could not be written
  kExitSector0 = 1 << 6,       // the run left sector 0 holding a command pattern
};

class RunStatus {
public:
  explicit RunStatus(RunRecord &record) : Record(record) {}

  // severity: "information", "warning" or "error".
  void Say(const std::string &severity, const std::string &text);
  // An error with the library's code and text; the record keeps the last one.
  void LibraryFailure(const std::string &what, int code, const std::string &message);
  void LibraryFailure(const std::string &what, const CError &error);
  // Like LibraryFailure; returns the exit bit: the open bit when the node
  // could not be opened, else the acquisition bit.
  int DeviceFailure(const std::string &what, const CError &error);
  void Fail(int bits) { Bits |= bits; }
  bool Failed(int bits) const { return (Bits & bits) != 0; }
  // A signal stopped the run: the status is 128 + the signal.
  void Interrupted(int signal) { Signal = signal; }
  bool WasInterrupted() const { return Signal != 0; }
  int Status() const { return Signal ? 128 + Signal : Bits; }
  RunRecord &Run() { return Record; }

private:
  RunRecord &Record;
  int Bits = 0;
  int Signal = 0;
};

} // namespace sdsmart_tool
