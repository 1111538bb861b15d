// SPDX-License-Identifier: MIT
#include "sdsmart/convert.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <locale.h>
#include <vector>

namespace {

// The locale named by the environment, made once: building a locale costs
// far more than the conversions themselves. It lives for the whole process.
locale_t EnvironmentLocale() {
  static const locale_t env = [] {
    locale_t made = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr))
      made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return made;
  }();
  return env;
}

// Runs a conversion in the environment's locale on this thread only, leaving
// the host's global locale (number formats and all) untouched.
class ScopedEnvLocale {
public:
  ScopedEnvLocale() : env(EnvironmentLocale()) {
    if (env != static_cast<locale_t>(nullptr))
      previous = uselocale(env);
  }
  ~ScopedEnvLocale() {
    if (env != static_cast<locale_t>(nullptr))
      uselocale(previous);
  }
  ScopedEnvLocale(const ScopedEnvLocale &) = delete;
  ScopedEnvLocale &operator=(const ScopedEnvLocale &) = delete;

private:
  locale_t env;
  locale_t previous = static_cast<locale_t>(nullptr);
};

} // namespace

std::wstring ToWideString(const std::string &s) {
  ScopedEnvLocale scope;
  std::mbstate_t state{};
  const char *src = s.c_str();
  size_t need = std::mbsrtowcs(nullptr, &src, 0, &state);
  if (need == static_cast<size_t>(-1))
    return std::wstring();
  std::wstring out(need, L'\0');
  state = std::mbstate_t{};
  src = s.c_str();
  std::mbsrtowcs(out.data(), &src, need, &state);
  return out;
}

std::string ToNarrowString(const std::wstring &s) {
  ScopedEnvLocale scope;
  std::mbstate_t state{};
  const wchar_t *src = s.c_str();
  size_t need = std::wcsrtombs(nullptr, &src, 0, &state);
  if (need == static_cast<size_t>(-1))
    return std::string();
  std::string out(need, '\0');
  state = std::mbstate_t{};
  src = s.c_str();
  std::wcsrtombs(out.data(), &src, need, &state);
  return out;
}

std::wstring c2w(const char *s) {
  if (s == nullptr)
    return std::wstring();
  return ToWideString(std::string(s));
}

std::string w2c(const wchar_t *s) {
  if (s == nullptr)
    return std::string();
  return ToNarrowString(std::wstring(s));
}
