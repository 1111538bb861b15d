// SPDX-License-Identifier: MIT
// What the library's own journal writer needs beside the public journal
// (sdsmart/sector0_journal.h): the parts of a record it fills in itself.
#pragma once

#include "sdsmart/sector0_journal.h"

#include <cstdint>
#include <string>

// The node with symbolic links resolved, or the name itself.
std::string CanonicalNode(const std::string &node);

// 512-byte sectors of the node `fd` is open on, from BLKGETSIZE64: nothing
// is sent to the card. 0 when unknown.
uint64_t NodeCapacitySectors(int fd);

// The current time as the journal writes it.
std::string JournalTimeNow();

// The digest of the boot sector of the first partition `sector0` (a
// partition table) names, read through `read`: a sector no run writes. The
// fields a file system updates while it is mounted (the FAT state byte,
// exFAT's volume flags and use percentage) are left out. Empty when the
// table names no partition within `capacity` sectors or the read fails.
std::string BootDigest(const unsigned char *sector0, uint64_t capacity, const SectorReader &read);
