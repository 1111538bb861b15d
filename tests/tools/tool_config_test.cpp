#include "config_codec.h"
#include "files.h"

#include "util/convert.h"
#include "util/ini_file.h"
#include "util/ini_file_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

const char kPlain[] =
    "// demo\r\n[Authorization]\r\nVendor ID = 7;\r\n[SMART Entry]\r\n7 = \"ABCDEFGH\";\r\n"
    "[Version]\r\nSMART Version Support = 2;\r\n";

std::string TempFile(const std::string &data) {
  char tmpl[] = "/tmp/sdsmart-config-XXXXXX";
  int fd = ::mkstemp(tmpl);
  EXPECT_GE(fd, 0);
  ::close(fd);
  WriteFileAtomically(tmpl, data, 0600, false);
  return tmpl;
}

TEST(ConfigCodec, EncodedFileLoadsInTheLibrary) {
  std::string stored = EncodeConfig(kPlain);
  ASSERT_GE(stored.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(stored[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(stored[1]), 0xFE);
  EXPECT_EQ(stored.size(), 2 + 2 * (sizeof kPlain - 1));
  EXPECT_EQ(stored.find("Authorization"), std::string::npos); // scrambled, not plain UTF-16
  std::string path = TempFile(stored);
  CIniFile ini(kConfigFileSeed, ToWideString(path), CIniFile::ModeLoad);
  EXPECT_EQ(ini.ReadInteger(L"Authorization", L"Vendor ID"), 7);
  EXPECT_EQ(ini.ReadString(L"SMART Entry", L"7"), L"ABCDEFGH");
  ::unlink(path.c_str());
}

TEST(ConfigCodec, DecodeInvertsEncode) {
  std::string plain;
  std::string why;
  ASSERT_TRUE(DecodeConfig(EncodeConfig(kPlain), plain, why)) << why;
  EXPECT_EQ(plain, kPlain);
  // Bare line feeds are stored as CR LF; non-ASCII text survives.
  ASSERT_TRUE(DecodeConfig(EncodeConfig("\xEF\xBB\xBF[A]\nk = caf\xC3\xA9 \xF0\x9F\x98\x80;\n"),
                           plain, why));
  EXPECT_EQ(plain, "[A]\r\nk = caf\xC3\xA9 \xF0\x9F\x98\x80;\r\n");
}

TEST(ConfigCodec, DecodeMatchesTheLibraryUnscrambler) {
  std::string stored = EncodeConfig(kPlain);
  std::string path = TempFile(stored);
  CIniFileLoader loader(ToWideString(path), kConfigFileSeed);
  std::string plain, why;
  ASSERT_TRUE(DecodeConfig(stored, plain, why));
  EXPECT_EQ(ToWideString(plain), loader.Text());
  ::unlink(path.c_str());
}

TEST(ConfigCodec, DecodeRefusesOtherFiles) {
  std::string plain, why;
  EXPECT_FALSE(DecodeConfig("[A]\r\n", plain, why));
  EXPECT_NE(why.find("FF FE"), std::string::npos);
  EXPECT_FALSE(DecodeConfig(std::string("\xFF\xFE\x41", 3), plain, why));
  EXPECT_FALSE(DecodeConfig("", plain, why));
}

TEST(ConfigCheck, ListsSectionsAndKeysButNoValues) {
  std::string path = TempFile(EncodeConfig(kPlain));
  std::ostringstream out, err;
  EXPECT_TRUE(CheckConfig(path, out, err)) << err.str();
  EXPECT_NE(out.str().find("[Authorization]"), std::string::npos);
  EXPECT_NE(out.str().find("Vendor ID"), std::string::npos);
  EXPECT_NE(out.str().find("3 sections, 3 keys"), std::string::npos);
  EXPECT_EQ(out.str().find("ABCDEFGH"), std::string::npos);
  EXPECT_EQ(err.str(), "");
  ::unlink(path.c_str());
}

TEST(ConfigCheck, SyntaxErrorCarriesCodeAndLine) {
  std::string path = TempFile(EncodeConfig("[A]\r\nk = v;\r\nbroken = a/b;\r\n"));
  std::ostringstream out, err;
  EXPECT_FALSE(CheckConfig(path, out, err));
  EXPECT_NE(err.str().find("error 20480"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("line 3"), std::string::npos) << err.str();
  ::unlink(path.c_str());
}

TEST(ConfigCheck, MissingVendorIsAnError) {
  std::string path = TempFile(EncodeConfig("[Version]\r\nSMART Version Support = 2;\r\n"));
  std::ostringstream out, err;
  EXPECT_FALSE(CheckConfig(path, out, err));
  EXPECT_NE(err.str().find("error 20481"), std::string::npos) << err.str();
  ::unlink(path.c_str());
}

} // namespace
} // namespace sdsmart_tool
