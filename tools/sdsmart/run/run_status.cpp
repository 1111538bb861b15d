// SPDX-License-Identifier: MIT
#include "run/run_status.h"

#include "sdsmart/sdsmart.h"

#include "output/output.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"

#include <cstdio>
#include <iostream>

namespace sdsmart_tool {

void RunStatus::Say(const std::string &severity, const std::string &text) {
  Record.Messages.push_back({severity, text});
  std::cerr << "sdsmart: " << (severity == "information" ? "" : severity + ": ") << text << "\n";
}

void RunStatus::LibraryFailure(const std::string &what, int code, const std::string &message) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(code));
  Say("error", what + ": library error " + std::to_string(code) + " (" + hex + "): " + message);
  Record.Error = LibraryError{code, message};
}

void RunStatus::LibraryFailure(const std::string &what, const CError &error) {
  LibraryFailure(what, static_cast<int>(error.GetCode()), ToNarrowString(error.GetText()));
}

int RunStatus::DeviceFailure(const std::string &what, const CError &error) {
  LibraryFailure(what, error);
  return static_cast<int>(error.GetCode()) == SDSMART_E_DEVICE_NOT_FOUND ? kExitOpenFailed
                                                                         : kExitAcquisition;
}

} // namespace sdsmart_tool
