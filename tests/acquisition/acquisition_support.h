// Helpers of the acquisition tests: the host's view of one acquisition
// (SetDiskName, GetSmartInfo, the accessors) against a virtual card, with
// everything a test expects computed from what the card itself serves.
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
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace acqtest {

using Json = nlohmann::json;
using Sector = std::array<std::uint8_t, 512>;
using Seq = std::vector<sdsim::Transfer>;
using ConfigSections = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

constexpr const char *kEntry = "SDSMTEST";
constexpr int kVendor = 7;

// ------------------------------------------------------------ card files --

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
  if (!card.contains("busy") || !card["busy"].contains(what))
    return 0;
  return card["busy"][what].get<unsigned>();
}

// ----------------------------------------------------- header, card form --

inline unsigned Be16(const std::vector<std::uint8_t> &h, size_t at) {
  return static_cast<unsigned>(h.at(at)) << 8 | h.at(at + 1);
}
inline unsigned Be32(const std::vector<std::uint8_t> &h, size_t at) {
  return static_cast<unsigned>(h.at(at)) << 24 | static_cast<unsigned>(h.at(at + 1)) << 16 |
         static_cast<unsigned>(h.at(at + 2)) << 8 | h.at(at + 3);
}
// Text of at most `width` bytes, up to the first NUL.
inline std::string Text(const std::vector<std::uint8_t> &h, size_t at, size_t width) {
  std::string s;
  for (size_t i = 0; i < width && h.at(at + i) != 0; ++i)
    s += static_cast<char>(h[at + i]);
  return s;
}

// Detail sectors a header of the card announces.
inline unsigned AnnouncedSectors(const std::vector<std::uint8_t> &h) {
  const unsigned ex = Be16(h, 138);
  return ex != 0 && ex != 0xFFFF ? ex : h.at(69);
}

// ------------------------------------------------------------ transcripts --

inline std::string Describe(const Seq &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
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

// How the card answers: busy answers before each header, before the first
// detail sector (HeaderVersion 0 and 1 only) and before the PMT clean is
// confirmed.
struct BusyProfile {
  unsigned header = 0;
  unsigned firstDetail = 0;
  unsigned pmt = 0;
};

inline BusyProfile ProfileOf(const Json &card, const sdsim::Card &sim) {
  BusyProfile p;
  p.header = BusyCount(card, "header");
  p.pmt = BusyCount(card, "pmt");
  const unsigned version = sim.HeaderSector(1).at(510);
  p.firstDetail = version <= 1 ? BusyCount(card, "first_detail") : 0;
  return p;
}

// The direct-method sequence the card sees for one function select,
// between the sector-0 backup read and the final check.
inline Seq DirectSequence(const sdsim::Card &card, const BusyProfile &busy, unsigned select) {
  const Seq enter = {W0("enter v2")};
  const Seq leave = {W0("enter v2"), W0("leave")};
  auto header = [&](unsigned t) {
    return Seq(busy.header + 1, R(t, "header " + std::to_string(t)));
  };
  auto details = [&](unsigned t, unsigned n) {
    Seq s;
    for (unsigned k = 0; k < n; ++k) {
      const unsigned times = k == 0 ? busy.firstDetail + 1 : 1;
      for (unsigned i = 0; i < times; ++i)
        s.push_back(
            R(256 * (k + 1) + 128 + t, "detail " + std::to_string(t) + " " + std::to_string(k)));
    }
    return s;
  };
  Seq s = enter;
  if (select == 8) {
    Add(s, header(16));
    for (unsigned i = 0; i <= busy.pmt; ++i)
      s.push_back(R(256 * (i + 1) + 0x90, "pmt poll"));
  } else if (select == 0) {
    Add(s, header(0));
  } else {
    bool reentered = false;
    if (select & 1) {
      Add(s, leave);
      Add(s, enter);
      reentered = true;
      Add(s, header(1));
      Add(s, details(1, AnnouncedSectors(card.HeaderSector(1))));
    }
    if (select & 2) {
      if (reentered) {
        Add(s, leave);
        Add(s, enter);
      }
      Add(s, header(2));
      const auto h = card.HeaderSector(2);
      // Global read counts: the index/value pairs, then the remainder sectors.
      Add(s, details(2, AnnouncedSectors(h) + h.at(94)));
      reentered = true;
    }
    if (select & 4) {
      if (reentered) {
        Add(s, leave);
        Add(s, enter);
      }
      Add(s, header(3));
      Add(s, details(3, AnnouncedSectors(card.HeaderSector(3))));
    }
  }
  Add(s, leave);
  return s;
}

// A whole GetSmartInfo: backup read, the reader's part, check read and the
// restoring write (the leave pattern is left in sector 0, so it is due).
inline Seq WholeRun(const Seq &reader) {
  Seq s = {R(0, "data")};
  Add(s, reader);
  s.push_back(R(0, "data"));
  s.push_back({"write", 0, 1, "data"});
  return s;
}

// ----------------------------------------------------- expected results --

// Erase counts as the library reports them: 0xFFFE marks an unused VB, the
// offset is added unless the sum passes 100000.
inline std::vector<unsigned> ExpectedEraseCounts(const sdsim::Card &card) {
  const unsigned offset = Be16(card.HeaderSector(1), 144);
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : (v + offset <= 100000 ? v + offset : v));
  return out;
}

inline unsigned ExpectedEccErrors(const sdsim::Card &card) {
  unsigned n = 0;
  for (auto v : card.RuntimeStatus())
    n += v == 2;
  return n;
}

inline std::vector<unsigned> Table(bool erase) {
  unsigned bytes = 0;
  if (erase)
    GetDetailEraseCount(nullptr, 0, bytes);
  else
    GetDetailReadCount(nullptr, 0, bytes);
  std::vector<unsigned> out(bytes / 4);
  const int rc = erase ? GetDetailEraseCount(reinterpret_cast<char *>(out.data()), bytes, bytes)
                       : GetDetailReadCount(reinterpret_cast<char *>(out.data()), bytes, bytes);
  EXPECT_EQ(rc, 0);
  return out;
}

// ------------------------------------------------------ session and files --

// Puts every session value the tests touch back to its load-time state.
inline void ResetSession() {
  _DiskName.clear();
  _IsUsbDevice = 1;
  _AppExePath.clear();
  _ConfigPath.clear();
  _AuthorCode = 0;
  _EntryStr.clear();
  _SmartVerSupport = 2;
  _ExternelSDKName.clear();
  _UseExternelSDKName = false;
  _FuncSel = 5;
  __atomic_store_n(&_Terminated, false, __ATOMIC_SEQ_CST);
  _Header = _SMART_INFO_HEADER{};
  _ECCUncorrectableCnt = 0;
  _EraseCount.clear();
  _ReadCount.clear();
  _MinEraseCount = 0;
  _MaxEraseCount = 0;
  _FlashType.clear();
  _FlashID.clear();
  _Error = CError();
}

// A fresh directory under TMPDIR, removed with everything in it.
class ScratchDir {
public:
  ScratchDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/sdsmart-acq-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    path = templ;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string File(const std::string &name) const { return path + "/" + name; }
  std::string path;
};

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

// Flash type names the tests' configuration carries.
inline const std::map<std::string, std::string> &FlashTypeNames() {
  static const std::map<std::string, std::string> names = {{"98 3a 98 a3 76 51", "15nm TLC"},
                                                           {"45 de 94 93 76 51", "19nm MLC"}};
  return names;
}

inline ConfigSections StandardConfig(const std::string &entry = kEntry) {
  ConfigSections c;
  c[L"Authorization"][L"Vendor ID"] = std::to_wstring(kVendor);
  c[L"SMART Entry"][std::to_wstring(kVendor)] = std::wstring(entry.begin(), entry.end());
  for (const auto &n : FlashTypeNames())
    c[L"Flash Type Name"][std::wstring(n.first.begin(), n.first.end())] =
        std::wstring(n.second.begin(), n.second.end());
  return c;
}

inline bool PathExists(const std::string &path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

// The fixture: a clean session, a scratch configuration, no card left over.
class AcquisitionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSession();
    WriteConfig(dir.File("config"), StandardConfig());
  }
  void TearDown() override {
    sdsim::DetachAll();
    ResetSession();
  }

  // Names the card's node from the scratch directory, so that its "config"
  // is the one loaded (and later used for the flash type name).
  void Name(const sdsim::Card &card) { Name(card.Node()); }
  void Name(const std::string &node) {
    const int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_NE(cwd, -1);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    const int rc = SetDiskName(node.c_str());
    const int back = fchdir(cwd);
    close(cwd);
    ASSERT_EQ(back, 0);
    ASSERT_EQ(rc, 0) << GetErrorMessage();
  }

  ScratchDir dir;
};

} // namespace acqtest
