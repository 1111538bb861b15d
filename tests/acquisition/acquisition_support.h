// Helpers of the acquisition tests: the host's view of one acquisition
// (SetDiskName, GetSmartInfo, the accessors) against a virtual card, with
// the numbers a test expects read from what the card itself serves.
#pragma once

#include "interface/session.h"
#include "sdsim/sdsim.h"
#include "sdsmart/sdsmart.h"
#include "util/ini_file.h"
#include "util/ini_file_loader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace acqtest {

using Json = nlohmann::json;
using Sector = std::array<std::uint8_t, 512>;
using Seq = std::vector<sdsim::Transfer>;
using Bytes = std::vector<std::uint8_t>;
using ConfigSections = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

constexpr const char *kEntry = "SDSMTEST";
constexpr int kVendor = 7;

inline Json LoadCardJson(const std::string &name) {
  std::ifstream in(std::string(SDSIM_CARDS_DIR) + "/" + name);
  if (!in)
    throw std::runtime_error("cannot read card file " + name);
  return Json::parse(in);
}

inline sdsim::Card &AttachCard(const Json &card) {
  return sdsim::AttachJson(card.dump(), SDSIM_CARDS_DIR);
}

// A count of the card's "busy" member (0 when absent).
inline unsigned BusyCount(const Json &card, const char *what) {
  return card.contains("busy") ? card["busy"].value(what, 0u) : 0u;
}

// Header fields in card form (big-endian).
inline unsigned Be16(const Bytes &h, size_t at) { return unsigned(h.at(at)) << 8 | h.at(at + 1); }
inline unsigned Be32(const Bytes &h, size_t at) { return Be16(h, at) << 16 | Be16(h, at + 2); }
// Text of at most `width` bytes, up to the first NUL.
inline std::string Text(const Bytes &h, size_t at, size_t width) {
  std::string s;
  for (size_t i = 0; i < width && h.at(at + i) != 0; ++i)
    s += static_cast<char>(h[at + i]);
  return s;
}

inline std::string Describe(const Seq &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

inline size_t Count(const Seq &ts, const std::string &prefix) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.what.rfind(prefix, 0) == 0;
  return n;
}

inline size_t Writes(const Seq &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.op == "write";
  return n;
}

inline void Add(Seq &s, const Seq &more) { s.insert(s.end(), more.begin(), more.end()); }
inline sdsim::Transfer W0(const char *what) { return {"write", 0, 1, what}; }
inline sdsim::Transfer R(std::uint32_t lba, const std::string &what) {
  return {"read", lba, 1, what};
}
const sdsim::Transfer kRestore{"write", 0, 1, "data"};

// The direct-method sequence the card sees for one function select, between
// the sector-0 backup read and the final check: each header with its busy
// answers, detail sector k of type T at 256 x (k + 1) + 128 + T (the first
// one repeated while busy for HeaderVersion 0 and 1), PMT polls until the
// clean is confirmed, and a leave/enter pair between the detail types.
inline Seq DirectSequence(const Json &json, const sdsim::Card &card, unsigned select) {
  const unsigned headerBusy = BusyCount(json, "header");
  const unsigned firstBusy =
      card.HeaderSector(1).at(510) <= 1 ? BusyCount(json, "first_detail") : 0;
  const Seq leave = {W0("enter v2"), W0("leave")};
  Seq s = {W0("enter v2")};
  auto header = [&](unsigned t) {
    Add(s, Seq(headerBusy + 1, R(t, "header " + std::to_string(t))));
  };
  if (select == 8) {
    header(16);
    for (unsigned i = 0; i <= BusyCount(json, "pmt"); ++i)
      s.push_back(R(256 * (i + 1) + 0x90, "pmt poll"));
  } else if (select == 0) {
    header(0);
  }
  bool reenter = false;
  for (unsigned t = 1; t <= 3; ++t) {
    if (!(select & (1u << (t - 1))))
      continue;
    if (t == 1 || reenter) {
      Add(s, leave);
      s.push_back(W0("enter v2"));
    }
    reenter = true;
    header(t);
    const Bytes h = card.HeaderSector(t);
    const unsigned ex = Be16(h, 138);
    // Global read counts: the index/value pairs, then the remainder sectors.
    const unsigned n = (ex != 0 && ex != 0xFFFF ? ex : h.at(69)) + (t == 2 ? h.at(94) : 0);
    for (unsigned k = 0; k < n; ++k)
      for (unsigned i = 0; i < (k == 0 ? firstBusy + 1 : 1); ++i)
        s.push_back(
            R(256 * (k + 1) + 128 + t, "detail " + std::to_string(t) + " " + std::to_string(k)));
  }
  Add(s, leave);
  return s;
}

// A whole GetSmartInfo: backup read, the reader's part, check read and the
// restoring write (the leave pattern is left in sector 0, so it is due).
inline Seq WholeRun(const Seq &reader) {
  Seq s = {R(0, "data")};
  Add(s, reader);
  Add(s, {R(0, "data"), kRestore});
  return s;
}

// Erase counts as the library reports them: 0xFFFE marks an unused VB, the
// offset is added unless the sum passes 100000.
inline std::vector<unsigned> ExpectedEraseCounts(const sdsim::Card &card) {
  const unsigned offset = Be16(card.HeaderSector(1), 144);
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : (v + offset <= 100000 ? v + offset : v));
  return out;
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

// Puts the session values the tests change back to their load-time state
// (SetDiskName sets the node's and the configuration's).
inline void ResetSession() {
  _ConfigPath.clear();
  _SmartVerSupport = 2;
  _FuncSel = 5;
  __atomic_store_n(&_Terminated, false, __ATOMIC_SEQ_CST);
  _Error = CError();
}

// The configuration as the vendor tool writes it: the library's INI writer,
// scrambled with the fixed seed.
inline void WriteConfig(const std::string &path, const ConfigSections &sections) {
  const std::wstring name(path.begin(), path.end());
  CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
  for (const auto &section : sections)
    for (const auto &entry : section.second)
      ini.WriteString(section.first, entry.first, entry.second);
  ini.UpdateFile(name, kConfigFileSeed);
}

inline ConfigSections StandardConfig(const std::string &entry = kEntry) {
  ConfigSections c;
  c[L"Authorization"][L"Vendor ID"] = std::to_wstring(kVendor);
  c[L"SMART Entry"][std::to_wstring(kVendor)] = std::wstring(entry.begin(), entry.end());
  c[L"Flash Type Name"][L"98 3a 98 a3 76 51"] = L"15nm TLC";
  c[L"Flash Type Name"][L"45 de 94 93 76 51"] = L"19nm MLC";
  return c;
}

inline bool PathExists(const std::string &path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

// The fixture: a clean session, a configuration in a scratch directory
// (removed afterwards), no card left over.
class AcquisitionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSession();
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/sdsmart-acq-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir = templ;
    WriteConfig(File("config"), StandardConfig());
  }
  void TearDown() override {
    sdsim::DetachAll();
    ResetSession();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string File(const std::string &name) const { return dir + "/" + name; }

  // Names the card's node from the scratch directory, so that its "config"
  // is the one loaded (and later used for the flash type name).
  void Name(const sdsim::Card &card) {
    const int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_NE(cwd, -1);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const int rc = SetDiskName(card.Node().c_str());
    const int back = fchdir(cwd);
    close(cwd);
    ASSERT_EQ(back, 0);
    ASSERT_EQ(rc, 0) << GetErrorMessage();
  }

  std::string dir;
};

} // namespace acqtest
