// The two guards of the entry sector that need no card: recognising a left-over
// command pattern in sector 0, and the per-card acquisition lock.
#include "session_fixture.h"

#include "interface/acquisition_lock.h"
#include "interface/entry_sector.h"

#include <sys/file.h>

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>

using namespace sdsmart_test;

namespace {

using Sector = std::array<unsigned char, 512>;

// The command patterns as the card channel writes them.
Sector Pattern(bool enter, const char *entry, bool marker = false) {
  Sector s{};
  unsigned char e[8] = {};
  std::memcpy(e, entry, std::min<size_t>(8, std::strlen(entry)));
  for (int i = 0; i < 8; ++i) {
    s[enter ? i : 7 - i] = e[i];
    s[enter ? 255 - i : 248 + i] = e[i];
  }
  const unsigned char enter256[8] = {2, 1, 0, 0, 0, 0, 0, 0};
  const unsigned char enter504[8] = {0, 0, 0, 0, 0, 0, 1, 2};
  const unsigned char leave256[8] = {2, 0, 0, 0, 0, 0, 1, 2};
  const unsigned char leave504[8] = {2, 1, 0, 0, 0, 0, 0, 0};
  std::memcpy(&s[256], enter ? enter256 : leave256, 8);
  std::memcpy(&s[504], enter ? enter504 : leave504, 8);
  if (marker) {
    const unsigned char deadbeef[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(&s[268], deadbeef, 4);
  }
  return s;
}

TEST(EntrySector, CommandPatternsOfAnyEntryStringAreRecognised) {
  for (const char *entry : {"ABCDEFGH", "12345678", "XY", "", "ZZZZZZZZ"}) {
    EXPECT_TRUE(IsSpecialModePattern(Pattern(true, entry).data())) << entry;
    EXPECT_TRUE(IsSpecialModePattern(Pattern(true, entry, true).data())) << entry;
    EXPECT_TRUE(IsSpecialModePattern(Pattern(false, entry).data())) << entry;
  }
}

TEST(EntrySector, OrdinarySectorsAreNotPatterns) {
  Sector zero{};
  EXPECT_FALSE(IsSpecialModePattern(zero.data()));

  Sector mbr{}; // a partition table: one FAT32 LBA partition, boot signature
  mbr[446] = 0x00;
  mbr[450] = 0x0C;
  mbr[454] = 0x00;
  mbr[455] = 0x20;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  EXPECT_FALSE(IsSpecialModePattern(mbr.data()));

  // A pattern with one byte out of place is not a pattern.
  const struct {
    size_t at;
  } damage[] = {{0}, {7}, {248}, {255}, {256}, {257}, {263}, {504}, {510}, {511}};
  for (const auto &d : damage) {
    for (bool enter : {true, false}) {
      Sector s = Pattern(enter, "ABCDEFGH");
      s[d.at] ^= 0x80;
      EXPECT_FALSE(IsSpecialModePattern(s.data())) << d.at << (enter ? " enter" : " leave");
    }
  }
  // Enter groups at 256 with leave groups at 504 (and the reverse) match neither.
  Sector mixed = Pattern(true, "ABCDEFGH");
  std::memcpy(&mixed[504], &Pattern(false, "ABCDEFGH")[504], 8);
  EXPECT_FALSE(IsSpecialModePattern(mixed.data()));
}

TEST(AcquisitionLock, SecondHolderOfTheSameNodeIsRefused) {
  ScratchDir dir;
  const std::string node = dir.File("node");
  std::ofstream(node) << "x";
  {
    CAcquisitionLock first(node);
    const auto start = std::chrono::steady_clock::now();
    try {
      CAcquisitionLock second(node);
      FAIL() << "second lock granted";
    } catch (const CError &e) {
      EXPECT_EQ(e.GetCode(), -1);
      EXPECT_EQ(e.GetText(), L"Device is busy: another acquisition is running on " +
                                 std::wstring(node.begin(), node.end()));
    }
    // It waited for the holder before giving up.
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(CAcquisitionLock::WaitMilliseconds));
  }
  // Released with the first holder.
  EXPECT_NO_THROW(CAcquisitionLock again(node));
}

TEST(AcquisitionLock, MissingNode) {
  try {
    CAcquisitionLock lock("/nonexistent/sdsmart-node");
    FAIL() << "lock on a missing node";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), 4106);
  }
}

} // namespace
