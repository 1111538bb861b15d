// What every accessor must return after an acquisition, worked out from the
// header sector the card serves (card byte order) and the card's tables.
#pragma once

#include "acquisition_support.h"

#include <cmath>
#include <cstdio>

namespace acqtest {

inline std::string ExpectedFlashIdText(const std::vector<std::uint8_t> &h, bool upper) {
  std::string s;
  for (size_t i = 36; i < 42; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, upper ? "%02X" : "%02x", h[i]);
    if (!upper && !s.empty())
      s += ' ';
    s += group;
    if (upper)
      s += ' ';
  }
  return s;
}

// The flash type name from the configuration's "Flash Type Name" entries,
// refined by the type code, the maker and the rated cycles.
inline std::string ExpectedFlashType(const std::vector<std::uint8_t> &h) {
  const auto found = FlashTypeNames().find(ExpectedFlashIdText(h, false));
  std::string name = found == FlashTypeNames().end() ? "" : found->second;
  const unsigned code = h[35];
  const unsigned cycles = Be32(h, 42);
  if (code == 1 && cycles >= 20000) {
    const std::string base = name.substr(0, name.find("MLC"));
    if (h[36] == 0x45)
      return base + "sMLC";
    if (h[36] == 0x98)
      return base + "pSLC";
    return name;
  }
  if (code == 2 && cycles >= 30000)
    name += " sTLC";
  return name.empty() ? "Unknown" : name;
}

inline std::string ExpectedMPVersion(const std::vector<std::uint8_t> &h, const sdsim::Card &card,
                                     int vendor) {
  const unsigned long long capacityMB = (card.CapacitySectors() * 512ull) >> 20;
  const std::string hw = Text(h, 3, 16);
  std::string prefix = capacityMB > 2048 ? "6459." : "6437.";
  if (hw.find("6459") != std::string::npos) {
    static const char *const ids[] = {"45 de 94 93 76 51", "45 3a 94 93 76 51",
                                      "45 3c 95 93 7a 51", "45 3e 96 93 7e 51",
                                      "45 3a 95 93 7a 51", "45 3c 96 93 7e 51"};
    if (vendor == 7)
      prefix = "6459.";
    for (const char *id : ids)
      if (ExpectedFlashIdText(h, false) == id)
        prefix = "6459.";
  } else if (hw.find("6461") != std::string::npos) {
    prefix = "6461.";
  }
  const int code = vendor == 65534 ? 0 : vendor;
  return prefix + std::to_string(code) + "." + std::to_string(Be16(h, 74)) + "." +
         std::to_string(Be16(h, 76));
}

inline std::string ExpectedDate(const std::vector<std::uint8_t> &h) {
  static const char *const months[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
  const unsigned year = (static_cast<unsigned>(h[108]) << 4) + (h[109] >> 4) + 2000;
  const unsigned month = h[109] & 0x0F;
  const std::string m = month >= 1 && month <= 12 ? std::string(months[month - 1])
                                                  : "month = " + std::to_string(month);
  return m + " " + std::to_string(year);
}

inline void ExpectRegisterCopy(int (*get)(unsigned char *, unsigned int),
                               const std::vector<std::uint8_t> &h, size_t at, unsigned n,
                               const char *what) {
  SCOPED_TRACE(what);
  std::vector<unsigned char> buffer(n);
  if (h[510] == 0) {
    EXPECT_EQ(get(buffer.data(), n), -1) << "no register copies in a version-0 header";
    return;
  }
  EXPECT_EQ(get(buffer.data(), n - 1), 0);
  ASSERT_EQ(get(buffer.data(), n), static_cast<int>(n));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), h.begin() + at));
}

// `last` is the header (card form) of the last detail type the run read.
inline void ExpectAccessorsMatchCard(const sdsim::Card &card, const std::vector<std::uint8_t> &last,
                                     int vendor, bool eraseTable = true) {
  const auto &h = last;
  const unsigned perVB = h[72];
  const unsigned total = Be32(h, 57);
  const unsigned vbs = Be32(h, 78);
  const unsigned cycles = Be32(h, 42);

  // Values.
  EXPECT_EQ(GetAbnormalShutdownCount(), Be32(h, 61));
  EXPECT_EQ(GetPowerCycleCount(), Be32(h, 65));
  EXPECT_EQ(GetInitialBadBlockCount(), Be16(h, 50));
  EXPECT_EQ(GetLaterBadBlockCount(), perVB * Be16(h, 52));
  EXPECT_EQ(GetMinSpareBlockCount(), perVB * Be16(h, 54));
  EXPECT_EQ(GetTotalEraseCount(), perVB * total);
  EXPECT_EQ(GetTotalVBCountOfFlash(), vbs);
  EXPECT_EQ(GetTotalPhysicalBlockCountOfFlash(), perVB * vbs);
  EXPECT_EQ(GetPECycleCount(), cycles);
  EXPECT_EQ(GetTotalCECount(), h[71] * perVB);
  EXPECT_EQ(GetECCCapacity(), h[56]);
  EXPECT_EQ(GetWPStatus(), h[508]);
  EXPECT_EQ(GetHeaderVersion(), h[510]);
  EXPECT_EQ(GetMinEraseCountFromHeader(), Be16(h, 140));
  EXPECT_EQ(GetMaxEraseCountFromHeader(), Be16(h, 142));
  EXPECT_EQ(GetEraseCountOffset(), Be16(h, 144));
  if (vbs != 0) {
    const double a = static_cast<double>(total) / static_cast<double>(vbs);
    const unsigned up = static_cast<unsigned>(std::ceil(a));
    EXPECT_EQ(GetAverageEraseCount(), up);
  }
  const double life = 100.0 * static_cast<double>(total) / static_cast<double>(cycles * vbs);
  if (std::isnan(life)) {
    EXPECT_TRUE(std::isnan(GetLifeMonitor()));
  } else {
    EXPECT_DOUBLE_EQ(GetLifeMonitor(), life);
    EXPECT_FLOAT_EQ(GetRemainingLife(), static_cast<float>(100.0 - life));
  }

  // Tables the reader computed.
  if (eraseTable) {
    const auto erase = ExpectedEraseCounts(card);
    unsigned lo = 0xFFFFFFFF, hi = 0;
    for (unsigned v : erase)
      if (v <= 0xFFFFFFFD) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    EXPECT_EQ(GetMinEraseCount(), lo);
    EXPECT_EQ(GetMaxEraseCount(), hi);
    EXPECT_EQ(GetECCUncorrectableCount(), ExpectedEccErrors(card));
  } else {
    EXPECT_EQ(GetMinEraseCount(), 0xFFFFFFFFu) << "no erase-count table";
    EXPECT_EQ(GetMaxEraseCount(), 0u);
    EXPECT_EQ(GetECCUncorrectableCount(), 0u);
  }

  // Identity.
  EXPECT_EQ(std::string(GetHWVersion()), Text(h, 3, 16));
  EXPECT_EQ(std::string(GetFWVersion()), Text(h, 19, 16));
  EXPECT_EQ(std::string(GetFlashID()), ExpectedFlashIdText(h, true));
  EXPECT_EQ(std::string(GetFlashID()).size(), 18u);
  EXPECT_EQ(std::string(GetFlashType()), ExpectedFlashType(h));
  EXPECT_EQ(std::string(GetMPVersion()), ExpectedMPVersion(h, card, vendor));
  EXPECT_EQ(std::string(GetLibraryVersion()),
            "6459." + std::to_string(_SmartVerSupport) + ".0.0.228.0");
  std::string customized;
  for (size_t i = 95; i < 103; ++i)
    if (h[i] != 0)
      customized += static_cast<char>(h[i]);
  EXPECT_EQ(std::string(GetCustomizedID_CID()), customized);
  EXPECT_STREQ(GetManufactureName_CID(), "Tolvarex");
  EXPECT_EQ(GetProductRevision_CID(), h[103]);
  EXPECT_EQ(GetSerialNumber_CID(), Be32(h, 104));
  EXPECT_EQ(std::string(GetManufacturingDate_CID()), ExpectedDate(h));
  EXPECT_EQ(std::string(GetClientMark()), Text(h, 152, 356));
  ExpectRegisterCopy(GetSD_CID, h, 95, 16, "CID");
  ExpectRegisterCopy(GetSD_CSD, h, 111, 16, "CSD");
  ExpectRegisterCopy(GetSD_SCR, h, 127, 8, "SCR");
}

} // namespace acqtest
