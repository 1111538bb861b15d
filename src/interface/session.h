// The process-wide session record: every variable is exported under its own
// name so that a host may read it directly.
#pragma once

#include "util/error.h"

#include <string>

extern CError _Error;
extern std::string _ErrorText;
