// SPDX-License-Identifier: MIT
// Identity and version accessors over a header the test fills in.
#include "session.h"

#include <cstring>

using namespace sdtest;

namespace {

using IdentityTest = SessionTest;

void SetText(unsigned char *field, size_t size, const char *text) {
  std::memset(field, 0, size);
  std::memcpy(field, text, std::min(size, std::strlen(text)));
}

// An SD CSD 2.0 image of mb MiB: (C_SIZE + 1) x 512 KiB.
void SetCapacityMB(unsigned int mb) {
  std::memset(_Header.CSD, 0, sizeof _Header.CSD);
  const unsigned int cSize = mb * 2 - 1;
  _Header.CSD[0] = 0x40; // CSD_STRUCTURE 1
  _Header.CSD[5] = 0x09; // READ_BL_LEN 9
  _Header.CSD[7] = static_cast<unsigned char>((cSize >> 16) & 0x3F);
  _Header.CSD[8] = static_cast<unsigned char>(cSize >> 8);
  _Header.CSD[9] = static_cast<unsigned char>(cSize);
}

TEST_F(IdentityTest, MPVersionPrefix) {
  const unsigned char listed[6] = {0x45, 0xDE, 0x94, 0x93, 0x76, 0x51};
  const unsigned char other[6] = {0x2C, 0x44, 0x44, 0x4B, 0xA9, 0x00};
  const struct {
    const char *hw, *fw;
    unsigned int mb;
    unsigned char headerVersion;
    int author;
    const unsigned char *flash;
    const char *want;
  } cases[] = {
      {"NV6459A0A", "", 1024, 2, 3, other, "6437.3.3.12"},
      {"NV6459A0A", "", 1024, 2, 7, other, "6459.7.3.12"},
      {"NV6459A0A", "", 2048, 2, 3, other, "6437.3.3.12"},
      {"NV6459A0A", "", 2049, 2, 3, other, "6459.3.3.12"},
      {"NV6461A0A", "", 30000, 2, 7, listed, "6461.7.3.12"},
      {"NV6437A0A", "", 4096, 2, 3, other, "6459.3.3.12"},
      {"ABCDEFGHIJKL6459", "", 1024, 2, 7, other, "6459.7.3.12"}, // all 16 bytes, no zero
      // "64" ends the hardware text, "59" begins the firmware text: the model
      // is looked for in the 16 hardware bytes only.
      {"ABCDEFGHIJKLMN64", "59", 1024, 2, 7, other, "6437.7.3.12"},
      // A version-1 header has no CSD copy and no card was read: no device
      // is touched and the capacity counts as 0.
      {"NV6459A0A", "", 30000, 1, 3, other, "6437.3.3.12"},
  };
  for (const auto &c : cases) {
    SetText(_Header.HWVersion, sizeof _Header.HWVersion, c.hw);
    SetText(_Header.FWVersion, sizeof _Header.FWVersion, c.fw);
    SetCapacityMB(c.mb);
    _Header.HeaderVersion = c.headerVersion;
    std::memcpy(_Header.FlashID, c.flash, 6);
    _AuthorCode = c.author;
    _Header.MPVersionMajor = 3;
    _Header.MPVersionMinor = 12;
    EXPECT_STREQ(GetMPVersion(), c.want) << c.hw << " " << c.mb << " MiB, vendor " << c.author;
    EXPECT_EQ(GetErrorCode(), -1);
  }
}

TEST_F(IdentityTest, ClientMarkIsATerminatedCopy) {
  // A mark that fills its 356 bytes with no zero byte, followed by nonzero
  // header bytes: the text ends with the field.
  std::memset(_Header.ClientMark, 'M', sizeof _Header.ClientMark);
  _Header.WPStatus = 'W';
  _Header.Reserved509 = 'X';
  _Header.HeaderVersion = 'Y';
  _Header.Reserved511 = 'Z';
  const char *mark = GetClientMark();
  EXPECT_EQ(std::string(mark), std::string(356, 'M'));
  const auto *h = reinterpret_cast<const char *>(&_Header);
  EXPECT_TRUE(mark < h || mark >= h + sizeof _Header); // not a view into the header

  SetText(_Header.ClientMark, sizeof _Header.ClientMark, "Fleet 42");
  EXPECT_STREQ(GetClientMark(), "Fleet 42");
  _Header.ClientMark[0] = 0;
  EXPECT_STREQ(GetClientMark(), "");
}

} // namespace
