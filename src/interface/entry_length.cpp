// SPDX-License-Identifier: MIT
// What a host may check of its configuration before an acquisition.
#include "smart/entry_sector.h"

#include <sdsmart/sdsmart.h>

extern "C" unsigned int GetEntryLength() { return CardProtocol::EntryLength; }
