// SPDX-License-Identifier: MIT
// Card capacity in MiB for the production-tool version text.
#pragma once

// From the CSD copy in the header (HeaderVersion >= 2), otherwise from the
// drive of the last acquisition. 0 when there is no drive yet or the drive
// cannot tell; never throws and records no error.
unsigned int GetCapacityMB();
