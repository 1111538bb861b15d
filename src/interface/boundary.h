// SPDX-License-Identifier: MIT
// The exported boundary: no exception leaves the library. A CError is kept
// whole in _Error; anything else is recorded as Errors::UnknownError.
#pragma once

#include "interface/session.h"

#include <exception>

void RecordUnknownError();

// Runs `body`; 0 when it returns, 1 (with the error recorded) when it throws.
template <typename F> int RunAtBoundary(F &&body) {
  try {
    body();
    return 0;
  } catch (const CError &e) {
    _Error = e;
  } catch (...) {
    RecordUnknownError();
  }
  return 1;
}
