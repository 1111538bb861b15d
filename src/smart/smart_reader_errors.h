// SPDX-License-Identifier: MIT
// Helpers for the errors of the SMART reader shared by its source files; the
// codes and texts themselves are in the library's error catalogue.
#pragma once

#include "util/error_catalogue.h"

// A plain CError with the same code and text (the specific class is dropped).
CError SmartErrorCopy(const CError &error);
// Errors::SmartContents, raised wherever a header fails its checks.
CError SmartContentsError();
