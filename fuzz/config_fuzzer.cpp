// SPDX-License-Identifier: MIT
// Arbitrary bytes as a configuration file: read plain and scrambled by the
// INI reader, every section and key through the typed reads, and the
// scrambled form through SetConfigPath. Any outcome but a crash is fine:
// a bad file must end in a CError (a clear code at the exported function).
#include "fuzz_support.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"
#include "sdsmart/flash_naming.h"
#include "sdsmart/ini_file.h"
#include "sdsmart/sdsmart.h"

#include <vector>

namespace {

void ReadEverything(const CIniFile &ini) {
  for (const auto &section : ini.Sections()) {
    for (const auto &key : section.second) {
      (void)ini.ReadString(section.first, key.first);
      (void)ini.ReadString(section.first, key.first, L"default");
      std::vector<std::wstring> items;
      ini.ReadStrings(section.first, key.first, items);
      try {
        ini.ReadStrings(section.first, key.first, 3, items);
        FUZZ_CHECK(items.size() == 3, "ReadStrings(count) gives count items");
      } catch (const CError &) {
      }
      (void)ini.ReadInteger(section.first, key.first, -7);
      (void)ini.ReadHexInteger(section.first, key.first, 7);
      try {
        (void)ini.ReadInteger(section.first, key.first);
      } catch (const CError &) {
      }
      try {
        (void)ini.ReadHexInteger(section.first, key.first);
      } catch (const CError &) {
      }
    }
    try {
      (void)ini.FindKey(section.first, L"no such key \x1F");
      FUZZ_CHECK(false, "FindKey of a missing key throws");
    } catch (const CError &) {
    }
  }
  // The keys the library reads from its configuration file.
  (void)ini.ReadInteger(L"Authorization", L"Vendor ID", 0);
  (void)ini.ReadString(L"Version", L"Externel SDK Name", L"");
  (void)ini.ToText();
  CIniFile copy(ini);
  copy += ini;
  FUZZ_CHECK(copy == ini, "a file merged with itself is unchanged");
}

void LoadAndRead(const std::wstring &path, bool scrambled) {
  CIniFile ini;
  try {
    if (scrambled)
      ini.Open(path, CIniFile::ModeLoad, kConfigFileSeed);
    else
      ini.Open(path, CIniFile::ModeLoad);
  } catch (const CError &) {
    FUZZ_CHECK(ini.Sections().empty(), "a failed load leaves the model as it was");
    return;
  }
  ReadEverything(ini);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const CMemoryFile file(data, size);
  const std::wstring path = ToWideString(file.Path());
  LoadAndRead(path, false);
  LoadAndRead(path, true);

  // The flash type lookup of every acquisition reads the same file.
  unsigned char id[6] = {0x98, 0x3A, 0x98, 0xA3, 0x76, 0x51};
  for (size_t i = 0; i < 6 && i < size; ++i)
    id[i] = data[size - 1 - i];
  (void)GetFlashMakerName(id[0]);
  try {
    (void)GetFlashTypeString(id, size > 0 ? data[0] : 0, size > 1 ? data[1] * 1000u : 0, path);
  } catch (const CError &) {
  }

  const int result = SetConfigPath(file.Path().c_str());
  FUZZ_CHECK(result == 0 || result == 1, "SetConfigPath answers 0 or 1");
  if (result == 1) {
    FUZZ_CHECK(GetErrorCode() != 0, "a failed SetConfigPath records an error code");
    FUZZ_CHECK(GetErrorMessage() != nullptr, "a failed SetConfigPath records a message");
  }
  return 0;
}
