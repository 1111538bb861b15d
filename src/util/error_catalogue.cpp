// SPDX-License-Identifier: MIT
#include "util/error_catalogue.h"

#include <vector>

namespace {

std::wstring Compose(const wchar_t *text, const std::wstring *detail, const std::wstring *end) {
  std::wstring out;
  for (const wchar_t *p = text; *p != L'\0'; ++p) {
    if (p[0] == L'{' && p[1] == L'}') {
      if (detail != end)
        out += *detail++;
      ++p;
      continue;
    }
    out += *p;
  }
  return out;
}

} // namespace

std::wstring ErrorText(const ErrorMessage &message, std::initializer_list<std::wstring> details) {
  return Compose(message.Text, details.begin(), details.end());
}

CError MakeError(const ErrorMessage &message, std::initializer_list<std::wstring> details) {
  const std::wstring text = ErrorText(message, details);
  if (message.Code == ErrorCode::Uncoded)
    return CError(text);
  return CError(static_cast<unsigned int>(message.Code), text);
}

CIniFileError MakeIniError(const ErrorMessage &message, const std::wstring &fileName,
                           std::initializer_list<std::wstring> details) {
  std::vector<std::wstring> all{fileName};
  all.insert(all.end(), details.begin(), details.end());
  return CIniFileError(static_cast<unsigned int>(message.Code),
                       Compose(message.Text, all.data(), all.data() + all.size()), fileName);
}
