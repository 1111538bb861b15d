// SPDX-License-Identifier: MIT
// Flash maker names, the flash-ID text and the configured flash type names.
#include "session.h"

#include "sdsmart/convert.h"
#include "sdsmart/flash_naming.h"

using namespace sdtest;

namespace {

class FlashTypeTest : public ::testing::Test {
protected:
  void SetUp() override { Write(L"15nm TLC"); }
  void Write(const wchar_t *tlc) {
    WriteConfig(narrow, {{L"Authorization", {{L"Vendor ID", L"7"}}},
                         {L"Flash Type Name",
                          {{L"45 de 94 93 76 51", L"19nm MLC"},
                           {L"98 de 94 93 76 51", L"19nm MLC"},
                           {L"2c de 94 93 76 51", L"19nm MLC"},
                           {L"45 3c 95 93 7a 51", tlc},
                           {L"45 00 00 00 00 01", L"A MLC B MLC"}}}});
  }
  ScratchDir dir;
  std::string narrow = dir.File("config");
  std::wstring path{narrow.begin(), narrow.end()};
};

TEST_F(FlashTypeTest, NamesByMakerCodeAndCycles) {
  const struct {
    unsigned char id[6];
    unsigned char code;
    unsigned int cycles;
    const wchar_t *want;
  } cases[] = {
      {{0x45, 0xDE, 0x94, 0x93, 0x76, 0x51}, 1, 20000, L"19nm sMLC"},
      {{0x98, 0xDE, 0x94, 0x93, 0x76, 0x51}, 1, 20000, L"19nm pSLC"},
      {{0x2C, 0xDE, 0x94, 0x93, 0x76, 0x51}, 1, 20000, L"19nm MLC"},
      {{0x45, 0xDE, 0x94, 0x93, 0x76, 0x51}, 1, 19999, L"19nm MLC"},
      {{0x98, 0xDE, 0x94, 0x93, 0x76, 0x51}, 1, 19999, L"19nm MLC"},
      {{0x45, 0xDE, 0x94, 0x93, 0x76, 0x51}, 0, 50000, L"19nm MLC"},
      {{0x45, 0x00, 0x00, 0x00, 0x00, 0x01}, 1, 20000, L"A sMLC"}, // cut at the first MLC
      {{0x2C, 0x11, 0x11, 0x11, 0x11, 0x11}, 1, 20000, L""},       // no entry: empty
      {{0x45, 0x11, 0x11, 0x11, 0x11, 0x11}, 1, 20000, L"sMLC"},
      {{0x2C, 0x11, 0x11, 0x11, 0x11, 0x11}, 2, 30000, L" sTLC"},
      {{0x2C, 0x11, 0x11, 0x11, 0x11, 0x11}, 2, 29999, L"Unknown"},
      {{0x45, 0x3C, 0x95, 0x93, 0x7A, 0x51}, 2, 30000, L"15nm TLC sTLC"},
      {{0x45, 0x3C, 0x95, 0x93, 0x7A, 0x51}, 2, 100, L"15nm TLC"},
      {{0x2C, 0x11, 0x11, 0x11, 0x11, 0x11}, 0, 0, L"Unknown"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(GetFlashTypeString(c.id, c.code, c.cycles, path), c.want)
        << ToNarrowString(FlashIDToString(c.id)) << " code " << int(c.code) << " cycles "
        << c.cycles;
}

TEST_F(FlashTypeTest, MissingAndMalformedConfiguration) {
  const unsigned char id[6] = {0x45, 0xDE, 0x94, 0x93, 0x76, 0x51};
  try {
    GetFlashTypeString(id, 1, 20000, path + L".absent");
    FAIL() << "no error for a missing file";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), -1);
    EXPECT_EQ(e.GetText(), L"Can't find config file");
  }
  WriteConfig(narrow, {{L"Flash Type Name", {{L"45 de 94 93 76 51", L"a/b"}}}});
  try {
    GetFlashTypeString(id, 1, 20000, path);
    FAIL() << "no error for a malformed file";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), SDSMART_E_INI_SYNTAX);
  }
  // No section at all is not an error.
  WriteConfig(narrow, {{L"Authorization", {{L"Vendor ID", L"7"}}}});
  EXPECT_EQ(GetFlashTypeString(id, 0, 0, path), L"Unknown");
}

// A parsed file is served again only while it is the same file: one
// rewritten in place with the same size and given back its old modification
// time is read anew.
TEST_F(FlashTypeTest, ARewrittenFileIsReadAnew) {
  const unsigned char id[6] = {0x45, 0x3C, 0x95, 0x93, 0x7A, 0x51};
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, narrow.c_str(), old, 0), 0);
  EXPECT_EQ(GetFlashTypeString(id, 0, 0, path), L"15nm TLC");
  EXPECT_EQ(GetFlashTypeString(id, 0, 0, path), L"15nm TLC");
  Write(L"17nm TLC");
  ASSERT_EQ(utimensat(AT_FDCWD, narrow.c_str(), old, 0), 0);
  EXPECT_EQ(GetFlashTypeString(id, 0, 0, path), L"17nm TLC");
}

} // namespace
