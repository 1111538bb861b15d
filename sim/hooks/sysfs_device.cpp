// SPDX-License-Identifier: MIT
// The files behind a native card's device link, in the formats of the
// kernel's MMC core: an SD card's (drivers/mmc/core/sd.c) and an eMMC's
// (mmc.c), decoded from the card's registers the way those drivers decode
// them (SD and JEDEC CID layouts, the eMMC's EXT_CSD).
#include "card/card_registers.h"
#include "hooks/sysfs.h"

#include <cstdarg>
#include <cstdio>

namespace sdsim {
namespace {

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string Hex(const std::uint8_t *p, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i)
    text += Format("%02x", p[i]);
  return text + "\n";
}

// Bits hi..lo of a 128-bit register (bit 127 is the first byte's top bit).
unsigned Bits(const std::array<std::uint8_t, 16> &reg, unsigned hi, unsigned lo) {
  unsigned value = 0;
  for (unsigned bit = hi + 1; bit-- > lo;)
    value = value << 1 | ((reg[15 - bit / 8] >> (bit % 8)) & 1u);
  return value;
}

// The product name up to its first NUL, as "%s" prints it.
std::string Name(const std::array<std::uint8_t, 16> &cid, std::size_t length) {
  std::string name(reinterpret_cast<const char *>(&cid[3]), length);
  return name.substr(0, name.find('\0')) + "\n";
}

// erase_size and preferred_erase_size, in sectors (the kernel prints bytes):
// the CSD's erase unit; the SD Status's allocation unit when there is one,
// else 512 KiB to 4 MiB by capacity, as the MMC core picks.
unsigned EraseSectors(const CardConfig &c) {
  if (Bits(c.Csd, 127, 126) == 1 || Bits(c.Csd, 46, 46))
    return 1;
  const unsigned blockBits = Bits(c.Csd, 25, 22);
  return blockBits >= 9 ? (Bits(c.Csd, 45, 39) + 1) << (blockBits - 9) : 0;
}

unsigned PreferredEraseSectors(const CardConfig &c) {
  static const unsigned auKiB[16] = {0,    16,   32,   64,    128,   256,   512,   1024,
                                     2048, 4096, 8192, 12288, 16384, 24576, 32768, 65536};
  const unsigned au = c.Ssr[10] >> 4;
  const bool spec3 = (c.Scr[2] >> 7) & 1;
  if (au && (au <= 9 || spec3))
    return auKiB[au] * 2;
  const unsigned erase = EraseSectors(c);
  if (!erase)
    return 0;
  const std::uint64_t mib = c.CapacitySectors >> 11;
  unsigned preferred = mib < 128 ? 1024 : mib < 512 ? 2048 : mib < 1024 ? 4096 : 8192;
  if (preferred < erase)
    return erase;
  return preferred % erase ? preferred + erase - preferred % erase : preferred;
}

bool SdText(const CardConfig &c, const std::string &file, std::string &text) {
  const auto &cid = c.Cid;
  if (file == "scr")
    text = Hex(c.Scr.data(), c.Scr.size());
  else if (file == "ssr")
    text = Hex(c.Ssr.data(), c.Ssr.size());
  else if (file == "name")
    text = Name(cid, 5);
  else if (file == "oemid")
    text = Format("0x%04x\n", Bits(cid, 119, 104));
  else if (file == "hwrev")
    text = Format("0x%x\n", Bits(cid, 63, 60));
  else if (file == "fwrev")
    text = Format("0x%x\n", Bits(cid, 59, 56));
  else if (file == "serial")
    text = Format("0x%08x\n", Bits(cid, 55, 24));
  else if (file == "date")
    text = Format("%02u/%04u\n", Bits(cid, 11, 8), Bits(cid, 19, 12) + 2000);
  else if (file == "erase_size")
    text = Format("%u\n", EraseSectors(c) << 9);
  else if (file == "preferred_erase_size")
    text = Format("%u\n", PreferredEraseSectors(c) << 9);
  else
    return false;
  return true;
}

bool EmmcText(const CardConfig &c, const std::string &file, std::string &text) {
  const auto &cid = c.Cid;
  const EmmcConfig &e = c.Emmc;
  const bool v5 = e.ExtCsdRev >= 7; // the kernel reads life and firmware from v5 on
  unsigned year = Bits(cid, 11, 8) + 1997;
  if (e.ExtCsdRev >= 5 && year < 2010)
    year += 16; // the year code rolls over in 4.41 and later
  if (file == "name") {
    text = Name(cid, 6);
  } else if (file == "oemid") {
    text = Format("0x%04x\n", Bits(cid, 119, 104)); // CBX and OID, 16 bits as the kernel reads them
  } else if (file == "prv") {
    text = Format("0x%x\n", Bits(cid, 55, 48));
  } else if (file == "hwrev") {
    text = "0x0\n"; // not in the eMMC CID: the kernel shows 0
  } else if (file == "fwrev") {
    const auto ext = ExtCsd(c);
    text = v5 ? "0x" + Hex(&ext[254], 8) : "0x0\n";
  } else if (file == "serial") {
    text = Format("0x%08x\n", Bits(cid, 47, 16));
  } else if (file == "date") {
    text = Format("%02u/%04u\n", Bits(cid, 15, 12), year);
  } else if (file == "rev") {
    text = Format("0x%x\n", e.ExtCsdRev);
  } else if (file == "life_time" && e.SysfsLife) {
    text = Format("0x%02x 0x%02x\n", v5 ? e.LifeTimeA : 0, v5 ? e.LifeTimeB : 0);
  } else if (file == "pre_eol_info" && e.SysfsLife) {
    text = Format("0x%02x\n", v5 ? e.PreEolInfo : 0);
  } else {
    return false;
  }
  return true;
}

} // namespace

bool DeviceText(const CardConfig &c, const std::string &file, std::string &text) {
  if (file == "csd")
    text = Hex(c.Csd.data(), 16);
  else if (file == "cid")
    text = Hex(c.Cid.data(), 16);
  else if (file == "type")
    text = c.IsEmmc() ? "MMC\n" : "SD\n";
  else if (file == "manfid")
    text = Format("0x%06x\n", Bits(c.Cid, 127, 120));
  else if (file == "ocr")
    text = Format("0x%08x\n", c.Ocr);
  else if (file == "rca")
    text = Format("0x%04x\n", c.Rca);
  else
    return c.IsEmmc() ? EmmcText(c, file, text) : SdText(c, file, text);
  return true;
}

} // namespace sdsim
