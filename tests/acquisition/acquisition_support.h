// SPDX-License-Identifier: MIT
// Helpers of the acquisition tests: the host's view of one acquisition
// (SetDiskName, GetSmartInfo, the accessors) against a virtual card, with
// the numbers a test expects read from what the card itself serves.
#pragma once

#include "card.h"
#include "config.h"
#include "sdsim/sdsim.h"
#include "sdsmart/sdsmart.h"
#include "session.h"
#include "support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace sdtest {

using Json = nlohmann::json;
using Sector = std::array<std::uint8_t, 512>;
using Bytes = std::vector<std::uint8_t>;

inline Json LoadCardJson(const std::string &name) {
  return Json::parse(ReadFile(std::string(SDSIM_CARDS_DIR) + "/" + name));
}

inline sdsim::Card &AttachCard(const Json &card) {
  return sdsim::AttachJson(card.dump(), SDSIM_CARDS_DIR);
}

// Text of at most `width` bytes, up to the first NUL.
inline std::string Text(const Bytes &h, size_t at, size_t width) {
  std::string s;
  for (size_t i = 0; i < width && h.at(at + i) != 0; ++i)
    s += static_cast<char>(h[at + i]);
  return s;
}

inline size_t Writes(const Seq &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.op == "write";
  return n;
}

const sdsim::Transfer kRestore{"write", 0, 1, "data"};

// Erase counts as the library reports them, with the offset of the card's header.
inline std::vector<unsigned> ExpectedEraseCounts(const sdsim::Card &card) {
  return ExpectedErase(card, Be16(card.HeaderSector(1), 144));
}

// Run-time statuses of exactly 2 are uncorrectable ECC errors.
inline unsigned ExpectedEccErrors(const sdsim::Card &card) {
  unsigned n = 0;
  for (auto v : card.RuntimeStatus())
    n += v == 2;
  return n;
}

inline std::vector<unsigned> Table(bool erase) {
  auto get = erase ? GetDetailEraseCount : GetDetailReadCount;
  unsigned bytes = 0;
  get(nullptr, 0, bytes);
  std::vector<unsigned> out(bytes / 4);
  EXPECT_EQ(get(reinterpret_cast<char *>(out.data()), bytes, bytes), 0);
  return out;
}

// The texts the library composes for a card (written down, not derived).
struct Identity {
  const char *flashId, *flashType, *mpVersion, *date;
};
constexpr Identity kUsbIdentity{"98 3A 98 A3 76 51 ", "15nm TLC", "6459.7.3.12", "March 2025"};
constexpr Identity kNativeIdentity{"45 DE 94 93 76 51 ", "19nm MLC", "6461.7.2.7", "March 2025"};

inline void ExpectRegisterCopy(int (*get)(unsigned char *, unsigned int), const Bytes &h, size_t at,
                               unsigned n) {
  std::vector<unsigned char> buffer(n);
  if (h[510] == 0) {
    EXPECT_EQ(get(buffer.data(), n), -1) << "no register copies in a version-0 header";
    return;
  }
  EXPECT_EQ(get(buffer.data(), n - 1), 0);
  ASSERT_EQ(get(buffer.data(), n), static_cast<int>(n));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), h.begin() + at)) << at;
}

// Every accessor after a successful run. `h` is the header (card form) of
// the last detail type the run read.
inline void ExpectAccessorsMatchCard(const sdsim::Card &card, const Bytes &h, const Identity &id,
                                     bool eraseTable = true) {
  const unsigned perVB = h[72], total = Be32(h, 57), vbs = Be32(h, 78), cycles = Be32(h, 42);
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
  EXPECT_EQ(GetAverageEraseCount(), (total + vbs - 1) / vbs);
  const double life = 100.0 * total / (double(cycles) * vbs);
  EXPECT_DOUBLE_EQ(GetLifeMonitor(), life);
  EXPECT_FLOAT_EQ(GetRemainingLife(), static_cast<float>(100.0 - life));

  unsigned lo = 0xFFFFFFFF, hi = 0;
  if (eraseTable)
    for (unsigned v : ExpectedEraseCounts(card))
      if (v <= 0xFFFFFFFD) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
  EXPECT_EQ(GetMinEraseCount(), lo);
  EXPECT_EQ(GetMaxEraseCount(), hi);
  EXPECT_EQ(GetECCUncorrectableCount(), eraseTable ? ExpectedEccErrors(card) : 0u);

  EXPECT_EQ(std::string(GetHWVersion()), Text(h, 3, 16));
  EXPECT_EQ(std::string(GetFWVersion()), Text(h, 19, 16));
  EXPECT_STREQ(GetFlashID(), id.flashId);
  EXPECT_STREQ(GetFlashType(), id.flashType);
  EXPECT_STREQ(GetMPVersion(), id.mpVersion);
  EXPECT_STREQ(GetManufacturingDate_CID(), id.date);
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
  EXPECT_EQ(std::string(GetClientMark()), Text(h, 152, 356));
  ExpectRegisterCopy(GetSD_CID, h, 95, 16);
  ExpectRegisterCopy(GetSD_CSD, h, 111, 16);
  ExpectRegisterCopy(GetSD_SCR, h, 127, 8);
}

// The fixture: a clean session, a configuration in a scratch directory
// (removed afterwards), no card left over.
class AcquisitionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSession();
    WriteConfig(File("config"), CardConfig());
  }
  void TearDown() override {
    sdsim::DetachAll();
    ResetSession();
  }
  std::string File(const std::string &name) const { return dir.File(name); }

  // Names the card's node from the scratch directory, so that its "config"
  // is the one loaded (and later used for the flash type name).
  void Name(const sdsim::Card &card) {
    int rc = -1;
    {
      const CwdGuard cwd;
      ASSERT_EQ(chdir(dir.path.c_str()), 0);
      rc = SetDiskName(card.Node().c_str());
    }
    ASSERT_EQ(rc, 0) << GetErrorMessage();
  }

  ScratchDir dir;
};

} // namespace sdtest
