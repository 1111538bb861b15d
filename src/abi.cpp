// SPDX-License-Identifier: MIT
// Assumptions the whole library makes about the platform, checked once where
// the shared library is linked.
#include <climits>

static_assert(sizeof(wchar_t) == 4, "wide strings hold UTF-32 code points");
static_assert(sizeof(unsigned int) == 4 && sizeof(unsigned short) == 2,
              "card and SCSI fields are 16 and 32 bits wide");
static_assert(sizeof(long) == 8, "64-bit Linux ABI");
static_assert(CHAR_BIT == 8, "bytes are octets");
