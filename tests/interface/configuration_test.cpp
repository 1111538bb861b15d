// Loading the scrambled configuration: where it is found, every key, the
// defaults and the failures.
#include "session_fixture.h"

#include "sdsmart/sdsmart.h"

#include <fstream>
#include <iterator>

using namespace sdsmart_test;

namespace {

class ConfigurationTest : public SessionTest {
protected:
  ScratchDir dir;
  std::string path = dir.File("vendor.cfg");
};

const ConfigSections FullConfig = {
    {L"Authorization", {{L"Vendor ID", L"7"}}},
    {L"SMART Entry", {{L"7", L"ABCDEFGH"}, {L"3", L"THREE333"}}},
    {L"Version",
     {{L"SMART Version Support", L"3"},
      {L"Externel SDK Name", L"\"Acme SD Health 1.2\""},
      {L"Use Externel SDK Name", L"1"}}},
};

TEST_F(ConfigurationTest, ScrambledFileLoadsEveryKey) {
  WriteConfig(path, FullConfig);
  // Stored scrambled: the section names are not there in the clear.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string plainName("A\0u\0t\0h\0o\0r", 11);
  EXPECT_EQ(bytes.find(plainName), std::string::npos);

  EXPECT_EQ(SetConfigPath(path.c_str()), 0) << GetErrorMessage();
  EXPECT_EQ(_ConfigPath, path);
  EXPECT_EQ(_AuthorCode, 7);
  EXPECT_EQ(_EntryStr, L"ABCDEFGH");
  EXPECT_EQ(_SmartVerSupport, 3);
  EXPECT_EQ(_ExternelSDKName, L"Acme SD Health 1.2");
  EXPECT_TRUE(_UseExternelSDKName);
  EXPECT_STREQ(GetLibraryVersion(), "Acme SD Health 1.2");
  // A successful load leaves the last error as it was.
  EXPECT_EQ(GetErrorCode(), -1);
}

TEST_F(ConfigurationTest, UnscrambledFileDoesNotLoad) {
  WriteConfig(path, FullConfig, /*plain=*/true);
  EXPECT_EQ(SetConfigPath(path.c_str()), 1);
  EXPECT_NE(GetErrorCode(), 0);
  EXPECT_NE(_EntryStr, L"ABCDEFGH");
}

TEST_F(ConfigurationTest, DefaultLocationIsConfigInTheWorkingDirectoryOfSetDiskName) {
  WriteConfig(dir.File("config"), {{L"Authorization", {{L"Vendor ID", L"3"}}},
                                   {L"SMART Entry", {{L"3", L"ENTRY003"}}}});
  {
    CwdGuard cwd;
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(SetDiskName("/dev/sdq"), 0) << GetErrorMessage();
  }
  EXPECT_EQ(_AppExePath, std::wstring(dir.path.begin(), dir.path.end()));
  EXPECT_EQ(_AuthorCode, 3);
  EXPECT_EQ(_EntryStr, L"ENTRY003");

  // SetConfigPath takes the path as the file itself; the default is not
  // consulted any more, even from elsewhere.
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"12"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_AuthorCode, 12);
  EXPECT_EQ(_EntryStr, L"");
  EXPECT_EQ(SetDiskName("/dev/sdq"), 0) << GetErrorMessage();
  EXPECT_EQ(_AuthorCode, 12);
}

TEST_F(ConfigurationTest, MissingFile) {
  EXPECT_EQ(SetConfigPath(dir.File("absent").c_str()), 1);
  EXPECT_EQ(GetErrorCode(), 16384);
  EXPECT_STREQ(GetErrorMessage(), "config file not exist.");
}

TEST_F(ConfigurationTest, VendorNumberIsRequired) {
  const std::wstring wide(path.begin(), path.end());
  const struct {
    ConfigSections sections;
    int code;
    std::wstring text;
  } cases[] = {
      {{{L"Authorization", {{L"Vendor", L"7"}}}},
       20482,
       L"[Ini File Error] " + wide + L"\n : Cann't find \"Vendor ID\" in the [Authorization]."},
      {{{L"Version", {{L"SMART Version Support", L"2"}}}},
       20481,
       L"[Ini File Error] " + wide + L"\n : Can't find [Authorization]."},
      {{{L"Authorization", {{L"Vendor ID", L"seven"}}}},
       20483,
       L"[Ini File Error] " + wide + L"\n : Cann't convert \"seven\" to integer."},
  };
  for (const auto &c : cases) {
    WriteConfig(path, c.sections);
    EXPECT_EQ(SetConfigPath(path.c_str()), 1);
    EXPECT_EQ(GetErrorCode(), c.code);
    EXPECT_EQ(_Error.GetText(), c.text);
  }
}

TEST_F(ConfigurationTest, MissingVendorIdMessageReachesTheHost) {
  WriteConfig(path, {{L"Authorization", {{L"Vendor", L"7"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 1);
  EXPECT_EQ(GetErrorCode(), 20482);
  EXPECT_EQ(std::string(GetErrorMessage()),
            "[Ini File Error] " + path + "\n : Cann't find \"Vendor ID\" in the [Authorization].");
}

TEST_F(ConfigurationTest, HexVendorNumberSelectsTheDecimalEntryKey) {
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"0x1F"}}},
                     {L"SMART Entry", {{L"0x1F", L"WRONGKEY"}, {L"31", L"RIGHTKEY"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_AuthorCode, 31);
  EXPECT_EQ(_EntryStr, L"RIGHTKEY");
}

TEST_F(ConfigurationTest, VersionIsStoredAsItsLowEightBits) {
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"7"}}},
                     {L"Version", {{L"SMART Version Support", L"258"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_SmartVerSupport, 2);
}

TEST_F(ConfigurationTest, AbsentOrUnreadableVersionKeysKeepTheCurrentValues) {
  SetSmartVersion(3);
  _ExternelSDKName = L"kept";
  _UseExternelSDKName = true;
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"7"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_SmartVerSupport, 3);
  EXPECT_EQ(_ExternelSDKName, L"kept");
  EXPECT_TRUE(_UseExternelSDKName);
  EXPECT_EQ(_EntryStr, L"");

  // Not a number: the default (the current value) again.
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"7"}}},
                     {L"Version",
                      {{L"SMART Version Support", L"two"}, {L"Use Externel SDK Name", L"no"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_SmartVerSupport, 3);
  EXPECT_TRUE(_UseExternelSDKName);

  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"7"}}},
                     {L"Version", {{L"Use Externel SDK Name", L"0"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_FALSE(_UseExternelSDKName);
  EXPECT_STREQ(GetLibraryVersion(), "6459.3.0.0.228.0");
}

TEST_F(ConfigurationTest, VersionFromTheFileOverridesSetSmartVersion) {
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"7"}}},
                     {L"Version", {{L"SMART Version Support", L"1"}}}});
  SetSmartVersion(2);
  EXPECT_EQ(SetConfigPath(path.c_str()), 0);
  EXPECT_EQ(_SmartVerSupport, 1);
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 12290);
  EXPECT_STREQ(GetErrorMessage(), "Unsupported SMART Version");
}

TEST_F(ConfigurationTest, FailedLoadKeepsWhatWasReadBefore) {
  _EntryStr = L"OLDENTRY";
  _AuthorCode = 5;
  // A slash outside a comment is a syntax error: nothing is read.
  WriteConfig(path, {{L"Authorization", {{L"Vendor ID", L"a/b"}}}});
  EXPECT_EQ(SetConfigPath(path.c_str()), 1);
  EXPECT_EQ(GetErrorCode(), 20480);
  EXPECT_EQ(_AuthorCode, 5);
  EXPECT_EQ(_EntryStr, L"OLDENTRY");
}

} // namespace
