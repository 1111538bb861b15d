// Facts about the card's entry sector (sector 0) that the acquisition checks
// before it lets the card be switched into special mode.
#pragma once

// True when the 512 bytes hold a special-mode enter or leave command pattern,
// whatever entry string it was built from: the 8 bytes at 0 appear reversed
// at 248, and the fixed groups at 256 and 504 are those of an enter pattern
// (02 01 00 00 00 00 00 00 / 00 00 00 00 00 00 01 02) or of a leave pattern
// (02 00 00 00 00 00 01 02 / 02 01 00 00 00 00 00 00). A partition sector
// never matches: it ends in 55 AA.
bool IsSpecialModePattern(const unsigned char *sector);
