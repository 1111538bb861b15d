// SPDX-License-Identifier: MIT
// The card's line of the mount table, which decides whether the host file of
// SMART version 3 can be used and where it goes.
#pragma once

#include <cstdio>
#include <string>

struct CardMount {
  std::string Directory; // the mount point, its octal escapes decoded
  std::string Options;
};

// Reads `table` (the mount table as setmntent opened it) for the first line
// whose source is `node` or one of its partitions. Lines are read and split
// as getmntent_r reads and splits them, but only that line's fields are
// decoded: the source of every other line is all the check needs.
bool FindCardMount(FILE *table, const std::string &node, CardMount &mount);
