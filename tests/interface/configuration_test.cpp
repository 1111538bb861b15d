// SPDX-License-Identifier: MIT
// Loading the scrambled configuration: where it is found, every key, the
// defaults and the failures.
#include "session.h"

#include <iterator>

using namespace sdtest;

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
  EXPECT_EQ(bytes.find(std::string("A\0u\0t\0h\0o\0r", 11)), std::string::npos);

  EXPECT_EQ(SetConfigPath(path.c_str()), 0) << GetErrorMessage();
  EXPECT_EQ(_ConfigPath, path);
  EXPECT_EQ(_AuthorCode, 7);
  EXPECT_EQ(_EntryStr, L"ABCDEFGH");
  EXPECT_EQ(_SmartVerSupport, 3);
  EXPECT_EQ(_ExternelSDKName, L"Acme SD Health 1.2");
  EXPECT_TRUE(_UseExternelSDKName);
  EXPECT_STREQ(GetLibraryVersion(), "Acme SD Health 1.2");
  EXPECT_EQ(GetErrorCode(), -1); // a successful load leaves the last error alone
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

TEST_F(ConfigurationTest, FailedLoadsReportTheReaderAndKeepWhatWasReadBefore) {
  const std::string prefix = "[Ini File Error] " + path + "\n : ";
  const struct {
    bool write;
    ConfigSections sections;
    int code;
    std::string text;
  } cases[] = {
      {false, {}, SDSMART_E_FILE_NOT_OPENED, "config file not exist."},
      {true,
       {{L"Authorization", {{L"Vendor", L"7"}}}},
       SDSMART_E_INI_KEY_MISSING,
       prefix + "Cann't find \"Vendor ID\" in the [Authorization]."},
      {true,
       {{L"Version", {{L"SMART Version Support", L"2"}}}},
       SDSMART_E_INI_SECTION_MISSING,
       prefix + "Can't find [Authorization]."},
      {true,
       {{L"Authorization", {{L"Vendor ID", L"seven"}}}},
       SDSMART_E_INI_NOT_INTEGER,
       prefix + "Cann't convert \"seven\" to integer."},
      // A slash outside a comment is a syntax error: nothing is read.
      {true,
       {{L"Authorization", {{L"Vendor ID", L"a/b"}}}},
       SDSMART_E_INI_SYNTAX,
       prefix + "Missing '/' on line = 1."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    std::remove(path.c_str());
    if (c.write)
      WriteConfig(path, c.sections);
    _EntryStr = L"OLDENTRY";
    _AuthorCode = 5;
    ExpectFailed(SetConfigPath(path.c_str()), c.code, c.text);
    EXPECT_EQ(_AuthorCode, 5);
    EXPECT_EQ(_EntryStr, L"OLDENTRY");
  }
}

TEST_F(ConfigurationTest, KeysAndTheirDefaults) {
  // Before each load: SetSmartVersion(3), the external name in use.
  const struct {
    const wchar_t *vendor, *smartVersion, *useSdkName; // nullptr: key absent
    int author;
    const wchar_t *entry;
    unsigned char wantVersion;
    bool wantUse;
  } cases[] = {
      {L"0x1F", nullptr, nullptr, 31, L"RIGHTKEY", 3, true}, // entry key is the decimal number
      {L"7", L"258", L"0", 7, L"SEVEN", 2, false},           // the low eight bits
      {L"7", L"1", nullptr, 7, L"SEVEN", 1, true},           // the file overrides SetSmartVersion
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.vendor)));
    ConfigSections sections = {
        {L"Authorization", {{L"Vendor ID", c.vendor}}},
        {L"SMART Entry", {{L"0x1F", L"WRONGKEY"}, {L"31", L"RIGHTKEY"}, {L"7", L"SEVEN"}}}};
    if (c.smartVersion)
      sections[L"Version"][L"SMART Version Support"] = c.smartVersion;
    if (c.useSdkName)
      sections[L"Version"][L"Use Externel SDK Name"] = c.useSdkName;
    SetSmartVersion(3);
    _ExternelSDKName = L"kept";
    _UseExternelSDKName = true;
    WriteConfig(path, sections);
    EXPECT_EQ(SetConfigPath(path.c_str()), 0) << GetErrorMessage();
    EXPECT_EQ(_AuthorCode, c.author);
    EXPECT_EQ(_EntryStr, c.entry);
    EXPECT_EQ(_SmartVerSupport, c.wantVersion);
    EXPECT_EQ(_ExternelSDKName, L"kept");
    EXPECT_EQ(_UseExternelSDKName, c.wantUse);
    const std::string number = "6459." + std::to_string(c.wantVersion) + ".0.0.228.0";
    EXPECT_EQ(std::string(GetLibraryVersion()), c.wantUse ? "kept" : number);
  }
}

} // namespace
