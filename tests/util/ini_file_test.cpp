// SPDX-License-Identifier: MIT

#include "config.h"
#include "sdsmart/sdsmart.h"

#include <functional>

using namespace sdtest;

namespace {

class IniTest : public ::testing::Test {
protected:
  CIniFile Load(const std::wstring &text) {
    WriteIniText(dir.File("config"), text);
    CIniFile ini;
    ini.Open(name, CIniFile::ModeLoad);
    return ini;
  }
  Caught LoadError(const std::wstring &text) {
    return CatchError([&] { Load(text); });
  }
  std::wstring Prefix() const { return L"[Ini File Error] " + name; }

  ScratchDir dir;
  std::wstring name = dir.WideFile("config");
};

} // namespace

TEST_F(IniTest, DialectCornerCases) {
  struct Case {
    const wchar_t *text;
    const wchar_t *section, *key, *value; // value nullptr: the key is absent
  };
  const Case cases[] = {
      {L"[A]\r\nk = v;\r\n", L"A", L"k", L"v"},
      {L"[A]\nk = v;\n", L"A", L"k", L"v"},
      {L"[ A ]\r\n\tk\t=\tv\t;", L"A", L"k", L"v"},
      {L"[A]\r\nk = v /* x */;\r\n", L"A", L"k", L"v"},
      {L"[A]\r\nke/* c */y = v;", L"A", L"key", L"v"},
      {L"[A]\r\nk = a// c\r\nb;", L"A", L"k", L"ab"},
      {L"[A]\r\nk = a /* = ; */ b;", L"A", L"k", L"a  b"},
      {L"[A]\r\nlong\r\nkey = first\r\n second;", L"A", L"longkey", L"first second"},
      {L"[A]\r\nk =;\r\nj = 1;", L"A", L"k", L""},
      {L"[A]\r\nk =;\r\nj = 1;", L"A", L"j", L"1"},
      {L"junk = x;\r\n[A]\r\nk = v;", L"A", L"k", L"v"},
      {L"[A]\r\nk = \"a b\" tail;", L"A", L"k", L"a b"},
      {L"[A]\r\nk=1;\r\nk=2;\r\n", L"A", L"k", L"1"},
      {L"[A]\r\nk=1;\r\n[A]\r\nj=3;\r\n", L"A", L"k", L"1"},
      {L"[A]\r\nk=1;\r\n[A]\r\nj=3;\r\n", L"A", L"j", nullptr},
      // With line feeds only, a // comment runs to the end of the file.
      {L"[A]\nk = v; // note\nj = w;\n", L"A", L"k", L"v"},
      {L"[A]\nk = v; // note\nj = w;\n", L"A", L"j", nullptr},
      {L"[A]\r\nk = v; // note\r\nj = w;\r\n", L"A", L"j", L"w"},
      {L"[/* c */A]\r\nk = v;", L"A", L"k", L"v"},
      {L"[A]\r\nk = \u5361\u00E9;", L"A", L"k", L"\u5361\u00E9"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    CIniFile ini = Load(c.text);
    if (c.value)
      EXPECT_EQ(ini.ReadString(c.section, c.key), c.value);
    else
      EXPECT_EQ(CatchError([&] { ini.ReadString(c.section, c.key); }).code,
                SDSMART_E_INI_KEY_MISSING);
  }
}

TEST_F(IniTest, SyntaxErrorsNameTheLine) {
  struct Case {
    const wchar_t *text;
    const wchar_t *message;
  };
  const Case cases[] = {
      {L"[A]\r\nk = v", L"\n : Missing ';' on line = 1."},
      {L"[A]\nk=1;\nj=2;\nm=3", L"\n : Missing ';' on line = 3."},
      {L"[A]\r\nk = a/b;", L"\n : Missing '/' on line = 1."},
      {L"[A]\r\nk = v /* x * y */;\r\n", L"\n : Missing '/' on line = 1."},
      {L"[A]\r\nk = v;\r\n\r\n/* open", L"\n : missing '*' on line = 3."},
      {L"[A]\r\nk = v; /* x *", L"\n : Missing '/' on line = 1."},
      {L"[A]\r\nk = v;/", L"\n : Missing '/' on line = 1."},
      {L"[A]\r\nk v;", L"\n : Missing '=' on line = 1."},
      {L"[A\r\nk = v;", L"\n : Missing ']' on line = 0."},
      {L"[A]\r\nk = v /* ; */", L"\n : Missing ';' on line = 1."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    const Caught f = LoadError(c.text);
    EXPECT_EQ(f.code, SDSMART_E_INI_SYNTAX);
    EXPECT_EQ(f.text, Prefix() + c.message);
  }
}

TEST_F(IniTest, TypedReadsAndTheirErrors) {
  CIniFile ini = Load(L"[A]\r\nhex = 0x1F;\r\nneg = -5;\r\nmixed = 12abc;\r\nbad = abc;\r\n"
                      L"empty = ;\r\nnothex = xyz;\r\nff = ff;\r\nlist = 1 2\t3;\r\n");
  EXPECT_EQ(ini.ReadInteger(L"A", L"hex"), 31);
  EXPECT_EQ(ini.ReadInteger(L"A", L"mixed"), 12);
  EXPECT_EQ(ini.ReadHexInteger(L"A", L"ff"), 255);
  EXPECT_EQ(ini.ReadInteger(L"A", L"bad", 7), 7); // defaults for what is missing or bad
  EXPECT_EQ(ini.ReadString(L"B", L"k", L"dflt"), L"dflt");

  struct Case {
    std::function<void()> call;
    int64_t code;
    std::wstring message;
  };
  std::vector<std::wstring> out;
  const Case cases[] = {
      {[&] { ini.ReadInteger(L"A", L"bad"); }, SDSMART_E_INI_NOT_INTEGER,
       L"\n : Cann't convert \"abc\" to integer."},
      {[&] { ini.ReadInteger(L"A", L"empty"); }, SDSMART_E_INI_NOT_INTEGER,
       L"\n : Cann't convert empty string to integer."},
      {[&] { ini.ReadString(L"a", L"hex"); }, SDSMART_E_INI_SECTION_MISSING,
       L"\n : Can't find [a]."},
      {[&] { ini.ReadString(L"A", L"HEX"); }, SDSMART_E_INI_KEY_MISSING,
       L"\n : Cann't find \"HEX\" in the [A]."},
      {[&] { ini.ReadStrings(L"A", L"list", 4, out); }, SDSMART_E_INI_TOO_FEW_INTEGERS,
       L"\n : Actual integer count = 3, not 4 when Read \"list\" in the [A]."},
  };
  for (const Case &c : cases) {
    const Caught f = CatchError(c.call);
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.text, Prefix() + c.message);
  }
}

TEST_F(IniTest, ScramblingIsItsOwnInverseAndKeepsLineBreaks) {
  const std::wstring plain = L"[Authorization]\r\nVendor ID = 0x1234;\r\n\n\u5361\u00E9\uFFFF";
  for (unsigned int seed : {0u, 1u, kConfigFileSeed}) {
    std::wstring text = plain;
    ScrambleIniText(text, seed);
    EXPECT_NE(text, plain);
    for (size_t i = 0; i < text.size(); ++i) {
      EXPECT_EQ(text[i] & 0xFFF0, plain[i] & 0xFFF0);
      if (plain[i] == L'\r' || plain[i] == L'\n') {
        EXPECT_EQ(text[i], plain[i]);
      }
    }
    ScrambleIniText(text, seed);
    EXPECT_EQ(text, plain);
  }
}

TEST_F(IniTest, UpdateFileLoadsBackEqual) {
  CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew); // nothing read
  EXPECT_TRUE(ini.Sections().empty());
  ini.WriteString(L"Authorization", L"Vendor ID", L"0x1234");
  ini.WriteString(L"Authorization", L"Key", L"\"AB CD\"");
  ini.WriteInteger(L"Version", L"Smart", -3);
  ini.WriteString(L"Flash", L"\u5361\u7247", L"\u00E9 \U0001F600 x");
  ini.WriteString(L"Flash", L"empty", L"");
  ini.WriteString(L"Empty", L"gone", L"1");
  ini.DeleteKey(L"Empty", L"gone");

  ini.UpdateFile();
  CIniFile plain;
  plain.Open(name, CIniFile::ModeLoad);
  EXPECT_EQ(plain, ini);
  EXPECT_EQ(plain.ReadString(L"Flash", L"\u5361\u7247"), L"\u00E9 \U0001F600 x");
  EXPECT_EQ(plain.ReadString(L"Authorization", L"Key"), L"AB CD");
  EXPECT_EQ(plain.ReadInteger(L"Version", L"Smart"), -3);

  ini.UpdateFile(dir.WideFile("scrambled"), kConfigFileSeed);
  CIniFile scrambled(kConfigFileSeed, dir.WideFile("scrambled"), CIniFile::ModeLoad);
  EXPECT_EQ(scrambled, ini);
}
