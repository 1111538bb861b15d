// SPDX-License-Identifier: MIT
// Flash maker names and the flash-ID text.
#include "sdsmart/flash_naming.h"
#include "interface/configuration.h"
#include "sdsmart/convert.h"
#include "sdsmart/ini_file.h"
#include "util/error_catalogue.h"

std::wstring FlashIDToString(const unsigned char *id) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text(17, L' ');
  for (int i = 0; i < 6; ++i) {
    text[3 * i] = kDigits[id[i] >> 4];
    text[3 * i + 1] = kDigits[id[i] & 0xF];
  }
  return text;
}

std::wstring FlashMIDToString(int makerId) {
  switch (makerId) {
  case 0x01:
    return L"Spansion";
  case 0x04:
    return L"Fujitsu";
  case 0x07:
    return L"Renesas";
  case 0x20:
    return L"STMicro";
  case 0x2C:
    return L"Micron";
  case 0x45:
    return L"SanDisk";
  case 0x4A:
    return L"SMIC";
  case 0x7F:
    return L"ACTRANS";
  case 0x89:
    return L"Intel";
  case 0x8F:
    return L"National";
  case 0x92:
    return L"PFC";
  case 0x98:
    return L"Toshiba";
  case 0xAD:
    return L"Hynix";
  case 0xC1:
    return L"Infineon";
  case 0xEC:
    return L"Samsung";
  default:
    return L"Unknown";
  }
}

std::wstring GetFlashTypeString(const unsigned char *id, unsigned char flashTypeCode,
                                unsigned int peCycles, const std::wstring &configPath) {
  const std::wstring key = FlashIDToString(id);
  const std::shared_ptr<const CIniFile> file = LoadConfiguration(configPath);
  if (!file)
    throw MakeError(Errors::NoConfigFile);
  std::wstring name = file->ReadString(L"Flash Type Name", key, L"");

  // High-endurance parts are named by the maker's own term for their mode.
  if (flashTypeCode == 1 && peCycles >= 20000) {
    const std::wstring base = name.substr(0, name.find(L"MLC"));
    if (id[0] == 0x45)
      name = base + L"sMLC";
    else if (id[0] == 0x98)
      name = base + L"pSLC";
    return name;
  }
  if (flashTypeCode == 2 && peCycles >= 30000)
    name += L" sTLC";
  return name.empty() ? L"Unknown" : name;
}
