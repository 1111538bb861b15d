// SPDX-License-Identifier: MIT
// Arbitrary text through the conversions: numbers in all radixes, splitting,
// separator clean-up, character classes and the narrow <-> wide round trip.
// A text that holds no number must give a CError, never a crash.
#include "fuzz_support.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"

#include <clocale>
#include <vector>

namespace {

template <typename F> void Try(F &&f) {
  try {
    f();
  } catch (const CError &) {
  }
}

template <typename S> void Numbers(const S &s) {
  Try([&] { (void)StringToInteger(s); });
  Try([&] { (void)StringToInteger64(s); });
  Try([&] { (void)HexStringToInteger(s); });
  Try([&] { (void)HexStringToInteger64(s); });
}

template <typename S> void Texts(S s, const S &delims) {
  Numbers(s);
  std::vector<S> parts;
  SplitString(s, delims, parts);
  for (const S &p : parts) {
    FUZZ_CHECK(!p.empty(), "SplitString gives no empty parts");
    FUZZ_CHECK(p.find_first_of(delims) == S::npos, "SplitString parts hold no delimiter");
  }
  (void)IsDigit(s);
  (void)IsHexDigit(s);
  const size_t before = s.size();
  (void)ErasePartitionChar(s);
  FUZZ_CHECK(s.size() <= before, "ErasePartitionChar only removes");
  (void)StrUtls::ToLower(s);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Multibyte conversions in a UTF-8 locale, as a host application would run.
  if (!std::setlocale(LC_ALL, "C.UTF-8"))
    std::setlocale(LC_ALL, "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CFuzzInput in(data, size);
  const uint8_t selector = in.Byte();
  const std::string delims = in.Text(4);
  const std::string text = in.Rest();

  Texts(text, delims);

  const std::wstring wide = ToWideString(text);
  Texts(wide, ToWideString(delims));
  (void)IsAsciiString(wide);
  (void)EraseLineEnd(wide);
  (void)c2w(text.c_str());
  (void)w2c(wide.c_str());
  (void)extract_fname(text.c_str());
  (void)extract_fname(wide.c_str());
  const std::string narrow = ToNarrowString(wide);
  if (!wide.empty())
    FUZZ_CHECK(narrow == text.substr(0, narrow.size()) || narrow.empty(),
               "a converted text narrows back to what it came from");

  // Wide characters straight from the bytes, invalid code points included.
  std::wstring raw;
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    uint32_t c;
    std::memcpy(&c, text.data() + i, 4);
    raw += static_cast<wchar_t>(c);
  }
  (void)ToNarrowString(raw);
  (void)w2c(raw.c_str());
  Texts(raw, std::wstring(L":+*"));

  // Number to text with widths from the input.
  const int v = static_cast<int>(in.Word());
  const unsigned int width = selector % 40;
  FUZZ_CHECK(StringToInteger(IntegerToString(v)) == v, "a number reads back");
  (void)IntegerToString(v, width);
  (void)IntegerToWideString(v, width);
  (void)IntegerToHexString(static_cast<unsigned>(v), width);
  (void)Integer64ToHexWideString(static_cast<long>(v) * 65537, width);
  char buf[12];
  (void)itoa(v, buf, selector & 1 ? 16 : 10);
  (void)ByteArrayToHexStr(reinterpret_cast<const unsigned char *>(text.data()),
                          static_cast<unsigned int>(text.size() < 4096 ? text.size() : 4096));
  (void)ElapsedTimeMsToString(static_cast<unsigned>(v));
  return 0;
}
