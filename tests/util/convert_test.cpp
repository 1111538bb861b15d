#include "util/convert.h"
#include "util/error.h"

#include <clocale>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

// Sets LANG/LC_ALL for the environment-locale conversions and puts them back.
class EnvLocale {
public:
  explicit EnvLocale(const char *name) {
    Save("LANG", lang);
    Save("LC_ALL", all);
    setenv("LANG", name, 1);
    setenv("LC_ALL", name, 1);
  }
  ~EnvLocale() {
    Restore("LANG", lang);
    Restore("LC_ALL", all);
  }

private:
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void Save(const char *var, Saved &s) {
    const char *v = std::getenv(var);
    s.set = v != nullptr;
    if (v)
      s.value = v;
  }
  static void Restore(const char *var, const Saved &s) {
    if (s.set)
      setenv(var, s.value.c_str(), 1);
    else
      unsetenv(var);
  }
  Saved lang, all;
};

std::wstring ErrorText(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), -1);
    return e.GetText();
  }
  ADD_FAILURE() << "no CError thrown";
  return L"";
}

} // namespace

TEST(NarrowWideTest, CjkPathRoundTripsWholeInUtf8) {
  EnvLocale utf8("C.UTF-8");
  // Each CJK character takes 3 bytes in UTF-8: more than two a character.
  const std::wstring path = L"/media/\u5361\u7247/\u8BBE\u7F6E\u6587\u4EF6.txt";
  const std::string narrow = ToNarrowString(path);
  EXPECT_EQ(narrow, "/media/\xE5\x8D\xA1\xE7\x89\x87/"
                    "\xE8\xAE\xBE\xE7\xBD\xAE\xE6\x96\x87\xE4\xBB\xB6.txt");
  EXPECT_EQ(ToWideString(narrow), path);
  EXPECT_EQ(w2c(path.c_str()), narrow);
  EXPECT_EQ(c2w(narrow.c_str()), path);
  const std::wstring astral = L"x\U0001F600y";
  EXPECT_EQ(ToWideString(ToNarrowString(astral)), astral);
}

TEST(NarrowWideTest, FailedConversionsGiveEmptyText) {
  EnvLocale utf8("C.UTF-8");
  EXPECT_EQ(ToWideString("ok\xFF"), L"");                 // not UTF-8
  EXPECT_EQ(ToNarrowString(std::wstring(1, 0xD800)), ""); // lone surrogate
  EXPECT_EQ(c2w("\xC3"), L"");
  EXPECT_EQ(c2w(nullptr), L"");
  EXPECT_EQ(w2c(nullptr), "");
  EXPECT_EQ(ToNarrowString(L""), "");
}

TEST(NarrowWideTest, HostLocaleIsLeftAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  // A comma decimal separator shows any change of LC_NUMERIC at once; when
  // no such locale is installed, "C" differs from the environment's C.UTF-8.
  const char *comma = nullptr;
  for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
    if (std::setlocale(LC_ALL, name)) {
      comma = name;
      break;
    }
  if (!comma) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  }
  const std::string host = std::setlocale(LC_ALL, nullptr);
  const std::string decimal = std::localeconv()->decimal_point;
  {
    EnvLocale utf8("C.UTF-8");
    EXPECT_EQ(ToWideString("a\xC3\xA9"), L"a\u00E9");
    EXPECT_EQ(ToNarrowString(L"a\u00E9"), "a\xC3\xA9");
    EXPECT_EQ(c2w("a"), L"a");
    EXPECT_EQ(w2c(L"a"), "a");
  }
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), host);
  EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), std::string(comma ? comma : "C"));
  EXPECT_EQ(std::localeconv()->decimal_point, decimal);
  std::setlocale(LC_ALL, before.c_str());
}

TEST(TextToIntegerTest, ParsesLikeTheLibrary) {
  struct Case {
    std::string text;
    long value;
  };
  const Case cases[] = {{"0x1F", 31},
                        {"-12", -12},
                        {"12abc", 12},
                        {"  7", 7},
                        {"0X10", 16},
                        {"99999999999", 2147483647},
                        {"-99999999999", -2147483647 - 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StringToInteger(c.text), c.value);
    EXPECT_EQ(StringToInteger(std::wstring(c.text.begin(), c.text.end())), c.value);
  }
  EXPECT_EQ(StringToInteger("0xFFFFFFFF"), -1);
  EXPECT_EQ(StringToInteger64("99999999999"), 99999999999L);
  EXPECT_EQ(StringToInteger64(L"0xFFFFFFFFFFFFFFFF"), -1L);
  EXPECT_EQ(HexStringToInteger("ff"), 255u);
  EXPECT_EQ(HexStringToInteger(L"0xFF"), 255u);
  EXPECT_EQ(HexStringToInteger("123456789"), 0xFFFFFFFFu); // clamps
  EXPECT_EQ(HexStringToInteger64(L"123456789"), 0x123456789ul);
}

TEST(TextToIntegerTest, ErrorTexts) {
  const std::wstring empty = L"[ Error] : Cann't convert empty string to integer.";
  EXPECT_EQ(ErrorText([] { StringToInteger(std::string()); }), empty);
  EXPECT_EQ(ErrorText([] { StringToInteger64(std::wstring()); }), empty);
  EXPECT_EQ(ErrorText([] { HexStringToInteger(std::string()); }), empty);
  EXPECT_EQ(ErrorText([] { StringToInteger("abc"); }),
            L"[Error] : Cann't convert \"abc\" to integer.");
  EXPECT_EQ(ErrorText([] { StringToInteger64(L"-x"); }),
            L"[Error] : Cann't convert \"-x\" to integer.");
  EXPECT_EQ(ErrorText([] { HexStringToInteger("zz"); }),
            L"[Error] : Cann't convert \"zz\" to integer.");
  EXPECT_EQ(ErrorText([] { HexStringToInteger64(L"0xg"); }),
            L"[Error] : Cann't convert \"0xg\" to integer.");
}

TEST(IntegerToTextTest, Formats) {
  char buf[16];
  wchar_t wbuf[1];
  EXPECT_EQ(IntegerToString(42, 5), "00042");
  EXPECT_EQ(IntegerToString(-5, 4), "00-5");
  EXPECT_EQ(IntegerToWideString(-5, 4), L"00-5");
  EXPECT_EQ(IntegerToString(12345, 2), "12345");
  EXPECT_EQ(IntegerToString(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(IntegerToWideString(-17), L"-17");
  EXPECT_EQ(Integer64ToString(-9000000000L), "-9000000000");
  EXPECT_EQ(Integer64ToWideString(9000000000L), L"9000000000");
  EXPECT_EQ(IntegerToHexString(255, 4), "00FF");
  EXPECT_EQ(IntegerToHexWideString(0xABCDEF, 2), L"ABCDEF");
  EXPECT_EQ(IntegerToHexWideString(0x4, 2), L"04");
  EXPECT_EQ(Integer64ToHexString(-1, 4), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Integer64ToHexWideString(0x1234567890L, 12), L"001234567890");
  EXPECT_EQ(itoa(255, buf, 16), "ff");
  EXPECT_STREQ(buf, "ff");
  EXPECT_EQ(itoa(255, buf, 8), "255");
  EXPECT_EQ(itoa(-1, buf, 16), "ffffffff");
  EXPECT_EQ(_itow(-255, wbuf, 10), L"-255");
}

TEST(IntegerToTextTest, HostGlobalLocaleDoesNotGroupDigits) {
  struct Grouping : std::numpunct<wchar_t> {
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  struct GroupingN : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::locale grouped(std::locale(std::locale::classic(), new Grouping), new GroupingN);
  std::locale previous = std::locale::global(grouped);
  EXPECT_EQ(IntegerToString(1234567, 0), "1234567");
  EXPECT_EQ(Integer64ToWideString(1234567), L"1234567");
  EXPECT_EQ(StringToInteger("1234567"), 1234567);
  std::locale::global(previous);
}

TEST(TextUtilitiesTest, SplitString) {
  struct Case {
    std::string text, delims;
    std::vector<std::string> parts;
  };
  const Case cases[] = {{",a,,b,", ",", {"a", "b"}},
                        {"a b\tc", " \t", {"a", "b", "c"}},
                        {"", ",", {}},
                        {",,,", ",", {}},
                        {"abc", ",", {"abc"}}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> out{"stale"};
    SplitString(c.text, c.delims, out);
    EXPECT_EQ(out, c.parts);
    std::vector<std::wstring> wout{L"stale"};
    SplitString(std::wstring(c.text.begin(), c.text.end()),
                std::wstring(c.delims.begin(), c.delims.end()), wout);
    ASSERT_EQ(wout.size(), c.parts.size());
    for (size_t i = 0; i < wout.size(); ++i)
      EXPECT_EQ(wout[i], std::wstring(c.parts[i].begin(), c.parts[i].end()));
  }
}

TEST(TextUtilitiesTest, ErasePartitionChar) {
  struct Case {
    std::string in;
    bool ok;
    std::string out;
  };
  const Case cases[] = {
      {"a : b", true, "a:b"},      {"a\t+\t b * c", true, "a+b*c"}, {": b", false, ": b"},
      {"a :   ", false, "a :   "}, {"  : b", false, "  :b"},        {"plain", true, "plain"},
      {"a:b : c", true, "a:b:c"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    EXPECT_EQ(ErasePartitionChar(s), c.ok);
    EXPECT_EQ(s, c.out);
    std::wstring w(c.in.begin(), c.in.end());
    EXPECT_EQ(ErasePartitionChar(w), c.ok);
    EXPECT_EQ(w, std::wstring(c.out.begin(), c.out.end()));
  }
}

TEST(TextUtilitiesTest, ClassesLineEndsAndTimes) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  EXPECT_EQ(ByteArrayToHexStr(bytes, 2), L"0a ff ");
  EXPECT_EQ(ByteArrayToHexStr(bytes, 0), L"");
  EXPECT_TRUE(IsDigit(std::string("0123")));
  EXPECT_TRUE(IsDigit(std::string()));
  EXPECT_FALSE(IsDigit(std::string("12a")));
  EXPECT_TRUE(IsDigit(std::wstring(L"789")));
  EXPECT_FALSE(IsDigit(std::wstring(L"7 9")));
  EXPECT_TRUE(IsHexDigit(std::string("09afAF")));
  EXPECT_FALSE(IsHexDigit(std::string("0x1")));
  EXPECT_TRUE(IsHexDigit(std::wstring(L"")));
  EXPECT_FALSE(IsHexDigit(std::wstring(L"g")));
  EXPECT_TRUE(IsAsciiString(L""));
  EXPECT_TRUE(IsAsciiString(std::wstring(1, wchar_t(127))));
  EXPECT_FALSE(IsAsciiString(std::wstring(1, wchar_t(128))));
  EXPECT_EQ(EraseLineEnd(L"ab\r\ncd\r\n"), L"ab\r\ncd");
  EXPECT_EQ(EraseLineEnd(L"ab\ncd"), L"ab\ncd");
  EXPECT_EQ(ElapsedTimeMsToString(9999), L"9999 ms");
  EXPECT_EQ(ElapsedTimeMsToString(10000), L"10 sec");
  EXPECT_EQ(ElapsedTimeMsToString(12999), L"12 sec");
  const std::wstring now = GetDateTimeString();
  ASSERT_EQ(now.size(), 20u);
  EXPECT_EQ(now.substr(4, 1) + now.substr(7, 1) + now.substr(10, 2) + now.substr(14, 1) +
                now.substr(17, 1),
            L"//  ::");
  EXPECT_TRUE(IsDigit(now.substr(0, 4) + now.substr(5, 2) + now.substr(8, 2) + now.substr(12, 2) +
                      now.substr(15, 2) + now.substr(18, 2)));
}

TEST(TextUtilitiesTest, ToLowerUsesClassicLocale) {
  std::wstring w = L"45 DE AB \u00C9Z";
  EXPECT_EQ(StrUtls::ToLower(w), L"45 de ab \u00C9z"); // only A-Z change
  EXPECT_EQ(w, L"45 de ab \u00C9z");
  std::string n = "ToShiBA";
  StrUtls::ToLower(n);
  EXPECT_EQ(n, "toshiba");
}

TEST(FileNameTest, ExtractAndExists) {
  EXPECT_EQ(extract_fname("/dev/mmcblk0"), "mmcblk0");
  EXPECT_EQ(extract_fname("config"), "config");
  EXPECT_EQ(extract_fname("/tmp/"), "");
  EXPECT_EQ(extract_fname(L"/a/b/c.txt"), L"c.txt");
  EXPECT_EQ(extract_fname(static_cast<const char *>(nullptr)), "");
  EXPECT_TRUE(FileExists("/proc/self/status"));
  EXPECT_TRUE(FileExists(L"/proc/self/status"));
  EXPECT_FALSE(FileExists("/no/such/file"));
  EXPECT_FALSE(FileExists(static_cast<const wchar_t *>(nullptr)));
  unsigned char block[5] = {1, 2, 3, 4, 5};
  FillMemory(block + 1, 3, 0xAA);
  EXPECT_EQ(block[0], 1);
  EXPECT_EQ(block[3], 0xAA);
  EXPECT_EQ(block[4], 5);
}
