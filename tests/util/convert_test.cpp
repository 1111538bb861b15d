// SPDX-License-Identifier: MIT
#include "sdsmart/convert.h"
#include "sdsmart/error.h"
#include "support.h"

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

using namespace sdtest;

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

} // namespace

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
  const auto fails = [](auto call, const std::wstring &text) {
    EXPECT_EQ(CatchError(call), (Caught{-1, text}));
  };
  fails([] { StringToInteger(std::string()); }, empty);
  fails([] { StringToInteger64(std::wstring()); }, empty);
  fails([] { HexStringToInteger(std::string()); }, empty);
  fails([] { StringToInteger("abc"); }, L"[Error] : Cann't convert \"abc\" to integer.");
  fails([] { StringToInteger64(L"-x"); }, L"[Error] : Cann't convert \"-x\" to integer.");
  fails([] { HexStringToInteger64(L"0xg"); }, L"[Error] : Cann't convert \"0xg\" to integer.");
}
