#include "util/convert.h"
#include "util/error.h"

#include <clocale>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

std::wstring W(const std::string &ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Sets LANG and LC_ALL for the environment-locale conversions, then puts them back.
class EnvLocale {
public:
  explicit EnvLocale(const char *name) {
    for (int i = 0; i < 2; ++i) {
      if (const char *v = std::getenv(vars[i]))
        saved[i] = v;
      setenv(vars[i], name, 1);
    }
  }
  ~EnvLocale() {
    for (int i = 0; i < 2; ++i)
      saved[i] ? (void)setenv(vars[i], saved[i]->c_str(), 1) : (void)unsetenv(vars[i]);
  }

private:
  const char *vars[2] = {"LANG", "LC_ALL"};
  std::optional<std::string> saved[2];
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
  // Each CJK character takes 3 bytes in UTF-8: well over two a character.
  const std::wstring path = L"/\u5361\u7247/\u8BBE\u7F6E\u6587\u4EF6";
  const std::string narrow = ToNarrowString(path);
  EXPECT_EQ(narrow, "/\xE5\x8D\xA1\xE7\x89\x87/\xE8\xAE\xBE\xE7\xBD\xAE\xE6\x96\x87\xE4\xBB\xB6");
  EXPECT_EQ(ToWideString(narrow), path);
  EXPECT_EQ(w2c(path.c_str()), narrow);
  EXPECT_EQ(c2w(narrow.c_str()), path);
  EXPECT_EQ(ToWideString(ToNarrowString(L"x\U0001F600y")), L"x\U0001F600y");

  // A failed conversion gives an empty text.
  EXPECT_EQ(ToWideString("ok\xFF"), L"");                 // not UTF-8
  EXPECT_EQ(ToNarrowString(std::wstring(1, 0xD800)), ""); // lone surrogate
  EXPECT_EQ(c2w("\xC3"), L"");
  EXPECT_EQ(c2w(nullptr), L"");
  EXPECT_EQ(w2c(nullptr), "");
}

TEST(NarrowWideTest, HostLocaleIsLeftAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  // A comma decimal separator shows any change of LC_NUMERIC at once; when
  // no such locale is installed, "C" differs from the environment's C.UTF-8.
  const char *comma = nullptr;
  for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
    if (!comma && std::setlocale(LC_ALL, name))
      comma = name;
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

TEST(TextToIntegerTest, ParsesLikeTheLibraryAndNamesBadText) {
  const struct {
    std::string text;
    long value;
  } cases[] = {{"0x1F", 31},       {"-12", -12},
               {"12abc", 12},      {"  7", 7},
               {"0X10", 16},       {"99999999999", 2147483647},
               {"0xFFFFFFFF", -1}, {"-99999999999", -2147483647 - 1}};
  for (const auto &c : cases) {
    EXPECT_EQ(StringToInteger(c.text), c.value) << c.text;
    EXPECT_EQ(StringToInteger(W(c.text)), c.value) << c.text;
  }
  EXPECT_EQ(StringToInteger64("99999999999"), 99999999999L);
  EXPECT_EQ(StringToInteger64(L"0xFFFFFFFFFFFFFFFF"), -1L);
  EXPECT_EQ(HexStringToInteger("ff"), 255u);
  EXPECT_EQ(HexStringToInteger(L"0xFF"), 255u);
  EXPECT_EQ(HexStringToInteger("123456789"), 0xFFFFFFFFu); // clamps
  EXPECT_EQ(HexStringToInteger64(L"123456789"), 0x123456789ul);

  const std::wstring empty = L"[ Error] : Cann't convert empty string to integer.";
  EXPECT_EQ(ErrorText([] { StringToInteger(std::string()); }), empty);
  EXPECT_EQ(ErrorText([] { StringToInteger64(std::wstring()); }), empty);
  EXPECT_EQ(ErrorText([] { HexStringToInteger(std::string()); }), empty);
  EXPECT_EQ(ErrorText([] { StringToInteger("abc"); }),
            L"[Error] : Cann't convert \"abc\" to integer.");
  EXPECT_EQ(ErrorText([] { StringToInteger64(L"-x"); }),
            L"[Error] : Cann't convert \"-x\" to integer.");
  EXPECT_EQ(ErrorText([] { HexStringToInteger64(L"0xg"); }),
            L"[Error] : Cann't convert \"0xg\" to integer.");
}

TEST(IntegerToTextTest, Formats) {
  char buf[16];
  wchar_t wbuf[1];
  EXPECT_EQ(IntegerToString(42, 5), "00042");
  EXPECT_EQ(IntegerToWideString(-5, 4), L"00-5");
  EXPECT_EQ(IntegerToString(12345, 2), "12345");
  EXPECT_EQ(IntegerToString(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(Integer64ToString(-9000000000L), "-9000000000");
  EXPECT_EQ(IntegerToHexString(255, 4), "00FF");
  EXPECT_EQ(IntegerToHexWideString(0xABCDEF, 2), L"ABCDEF");
  EXPECT_EQ(Integer64ToHexString(-1, 4), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Integer64ToHexWideString(0x1234567890L, 12), L"001234567890");
  EXPECT_EQ(itoa(255, buf, 16), "ff");
  EXPECT_STREQ(buf, "ff");
  EXPECT_EQ(itoa(255, buf, 8), "255");
  EXPECT_EQ(itoa(-1, buf, 16), "ffffffff");
  EXPECT_EQ(_itow(-255, wbuf, 10), L"-255");

  // A host's global locale that groups digits changes none of them.
  struct Grouping : std::numpunct<wchar_t> {
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  struct GroupingN : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::locale previous = std::locale::global(
      std::locale(std::locale(std::locale::classic(), new Grouping), new GroupingN));
  EXPECT_EQ(IntegerToString(1234567, 0), "1234567");
  EXPECT_EQ(Integer64ToWideString(1234567), L"1234567");
  EXPECT_EQ(StringToInteger("1234567"), 1234567);
  std::locale::global(previous);
}

TEST(TextUtilitiesTest, SplitAndErasePartitionChar) {
  const struct {
    std::string text, delims;
    std::vector<std::string> parts;
  } splits[] = {{",a,,b,", ",", {"a", "b"}}, {"a b\tc", " \t", {"a", "b", "c"}}, {",,,", ",", {}}};
  for (const auto &c : splits) {
    std::vector<std::string> out{"stale"};
    SplitString(c.text, c.delims, out);
    EXPECT_EQ(out, c.parts) << c.text;
  }
  std::vector<std::wstring> wout{L"stale"};
  SplitString(L",a,,b c,", L", ", wout);
  EXPECT_EQ(wout, (std::vector<std::wstring>{L"a", L"b", L"c"}));

  const struct {
    std::string in;
    bool ok;
    std::string out;
  } partitions[] = {
      {"a : b", true, "a:b"},      {"a\t+\t b * c", true, "a+b*c"}, {": b", false, ": b"},
      {"a :   ", false, "a :   "}, {"  : b", false, "  :b"},        {"a:b : c", true, "a:b:c"},
  };
  for (const auto &c : partitions) {
    std::string s = c.in;
    EXPECT_EQ(ErasePartitionChar(s), c.ok) << c.in;
    EXPECT_EQ(s, c.out);
  }
  std::wstring w = L"a\t+\t b";
  EXPECT_TRUE(ErasePartitionChar(w));
  EXPECT_EQ(w, L"a+b");
}

TEST(TextUtilitiesTest, ClassesLineEndsTimesAndNames) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  EXPECT_EQ(ByteArrayToHexStr(bytes, 2), L"0a ff ");
  EXPECT_TRUE(IsDigit(std::string("0123")));
  EXPECT_FALSE(IsDigit(std::string("12a")));
  EXPECT_FALSE(IsDigit(std::wstring(L"7 9")));
  EXPECT_TRUE(IsHexDigit(std::string("09afAF")));
  EXPECT_FALSE(IsHexDigit(std::wstring(L"0x1")));
  EXPECT_TRUE(IsAsciiString(std::wstring(1, wchar_t(127))));
  EXPECT_FALSE(IsAsciiString(std::wstring(1, wchar_t(128))));
  EXPECT_EQ(EraseLineEnd(L"ab\r\ncd\r\n"), L"ab\r\ncd");
  EXPECT_EQ(EraseLineEnd(L"ab\ncd"), L"ab\ncd");
  EXPECT_EQ(ElapsedTimeMsToString(9999), L"9999 ms");
  EXPECT_EQ(ElapsedTimeMsToString(12999), L"12 sec");
  const std::wstring now = GetDateTimeString(); // "yyyy/mm/dd  hh:mm:ss"
  ASSERT_EQ(now.size(), 20u);
  EXPECT_EQ(now.substr(4, 1) + now.substr(7, 1) + now.substr(10, 2) + now.substr(14, 1) +
                now.substr(17, 1),
            L"//  ::");
  EXPECT_TRUE(IsDigit(now.substr(0, 4) + now.substr(5, 2) + now.substr(8, 2) + now.substr(12, 2) +
                      now.substr(15, 2) + now.substr(18, 2)));

  std::wstring w = L"45 DE AB \u00C9Z";
  EXPECT_EQ(StrUtls::ToLower(w), L"45 de ab \u00C9z"); // only A-Z change
  EXPECT_EQ(w, L"45 de ab \u00C9z");
  std::string n = "ToShiBA";
  EXPECT_EQ(StrUtls::ToLower(n), "toshiba");

  EXPECT_EQ(extract_fname("/dev/mmcblk0"), "mmcblk0");
  EXPECT_EQ(extract_fname("/tmp/"), "");
  EXPECT_EQ(extract_fname(L"/a/b/c.txt"), L"c.txt");
  EXPECT_EQ(extract_fname(static_cast<const char *>(nullptr)), "");
  EXPECT_TRUE(FileExists(L"/proc/self/status"));
  EXPECT_FALSE(FileExists("/no/such/file"));
  EXPECT_FALSE(FileExists(static_cast<const wchar_t *>(nullptr)));
}
