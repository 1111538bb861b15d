// SPDX-License-Identifier: MIT
// The virtual card in a test: cards attached in-process (the shipped card
// files, or small ones built here), the transfers they saw, the fixtures that
// detach them, and the two views of a run against them: the host's
// (SetDiskName, GetSmartInfo, the accessors) and the reader's (the objects
// the library's driver builds, run directly).
#pragma once

#include "session.h"

#include "sdsim/sdsim.h"
#include "sdsmart/convert.h"
#include "sdsmart/mmc_drive.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/usb_drive.h"
#include "transport/sector_device.h"

#include <nlohmann/json.hpp>

#include <iomanip>
#include <memory>
#include <vector>

namespace sdtest {

using Json = nlohmann::json;
using Seq = std::vector<sdsim::Transfer>;

// ---- Cards ----------------------------------------------------------------

// A shipped card file of sim/cards.
inline Json LoadCardJson(const std::string &name) {
  return Json::parse(ReadFile(std::string(SDSIM_CARDS_DIR) + "/" + name));
}

// A small card at `node`: `entries` VBs (no units), with `extra` members.
inline Json CardJson(const std::string &node, const Json &extra = Json::object(),
                     unsigned entries = 300) {
  Json card = {{"node", node},
               {"capacity_sectors", 65536},
               {"entry", kEntry},
               {"header",
                {{"BaseVBEntryCount", entries},
                 {"TotalVBCount", 0},
                 {"VBsPerUnit", 0},
                 {"ExtraVBEntriesPerUnit", 0}}}};
  card.update(extra);
  return card;
}

// ---- Transcripts ----------------------------------------------------------

inline std::string Describe(const Seq &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

// Transfers whose description starts with prefix.
inline size_t Count(const Seq &ts, const std::string &prefix) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.what.rfind(prefix, 0) == 0;
  return n;
}

inline bool Contains(const Seq &s, const std::string &what) {
  for (const auto &t : s)
    if (t.what == what)
      return true;
  return false;
}

inline size_t Writes(const Seq &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.op == "write";
  return n;
}

// Sector reads and writes, host-file steps included.
inline Seq DataEvents(const Seq &all) {
  Seq out;
  for (const auto &t : all)
    if (t.op == "read" || t.op == "write")
      out.push_back(t);
  return out;
}

inline void Add(Seq &s, const Seq &more) { s.insert(s.end(), more.begin(), more.end()); }
inline sdsim::Transfer W0(const char *what) { return {"write", 0, 1, what}; }
inline sdsim::Transfer R(std::uint32_t lba, const std::string &what) {
  return {"read", lba, 1, what};
}
const sdsim::Transfer kRestore{"write", 0, 1, "data"};

// The erase counts of a card without an offset: 0xFFFE marks an unused VB.
inline std::vector<unsigned> ExpectedErase(const sdsim::Card &card) {
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : v);
  return out;
}

// ---- The fixtures ---------------------------------------------------------

// Cards attached in a test are detached after it; `dir` is a scratch folder.
class CardTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
  sdsim::Card &Attach(const Json &card) { return sdsim::AttachJson(card.dump(), SDSIM_CARDS_DIR); }
  std::string File(const std::string &name) const { return dir.File(name); }
  ScratchDir dir;
};

// The host's view: a clean session and a configuration in the scratch folder.
class AcquisitionTest : public CardTest {
protected:
  void SetUp() override {
    ResetSession();
    WriteConfig(File("config"), CardConfig());
  }
  void TearDown() override {
    CardTest::TearDown();
    ResetSession();
  }
  // Names the card's node from the scratch folder, so that its "config" is
  // the one loaded (and later used for the flash type name).
  void Name(const sdsim::Card &card) {
    int rc = -1;
    {
      const CwdGuard cwd;
      ASSERT_EQ(chdir(dir.path.c_str()), 0);
      rc = SetDiskName(card.Node().c_str());
    }
    ASSERT_EQ(rc, 0) << GetErrorMessage();
  }
  sdsim::Card &AttachNamed(const Json &json) {
    sdsim::Card &card = Attach(json);
    Name(card);
    return card;
  }
};

// ---- The host's view ------------------------------------------------------

inline std::vector<unsigned> Table(bool erase) {
  auto get = erase ? GetDetailEraseCount : GetDetailReadCount;
  unsigned bytes = 0;
  get(nullptr, 0, bytes);
  std::vector<unsigned> out(bytes / 4);
  EXPECT_EQ(get(reinterpret_cast<char *>(out.data()), bytes, bytes), 0);
  return out;
}

// Every accessor's answer after a run, one a line, for a golden file: the
// values are written down per card, not derived here from what it serves.
inline std::string AccessorReport() {
  std::ostringstream o;
  o << std::setprecision(17);
  const std::pair<const char *, unsigned> counts[] = {
      {"AbnormalShutdownCount", GetAbnormalShutdownCount()},
      {"ECCUncorrectableCount", GetECCUncorrectableCount()},
      {"PowerCycleCount", GetPowerCycleCount()},
      {"InitialBadBlockCount", GetInitialBadBlockCount()},
      {"LaterBadBlockCount", GetLaterBadBlockCount()},
      {"MinSpareBlockCount", GetMinSpareBlockCount()},
      {"TotalEraseCount", GetTotalEraseCount()},
      {"AverageEraseCount", GetAverageEraseCount()},
      {"TotalVBCountOfFlash", GetTotalVBCountOfFlash()},
      {"TotalPhysicalBlockCountOfFlash", GetTotalPhysicalBlockCountOfFlash()},
      {"PECycleCount", GetPECycleCount()},
      {"TotalCECount", GetTotalCECount()},
      {"ECCCapacity", GetECCCapacity()},
      {"WPStatus", GetWPStatus()},
      {"HeaderVersion", GetHeaderVersion()},
      {"MinEraseCount", GetMinEraseCount()},
      {"MaxEraseCount", GetMaxEraseCount()},
      {"MinEraseCountFromHeader", GetMinEraseCountFromHeader()},
      {"MaxEraseCountFromHeader", GetMaxEraseCountFromHeader()},
      {"EraseCountOffset", GetEraseCountOffset()},
      {"ProductRevision_CID", GetProductRevision_CID()},
      {"SerialNumber_CID", GetSerialNumber_CID()},
  };
  for (const auto &[name, value] : counts)
    o << name << " " << value << "\n";
  o << "LifeMonitor " << GetLifeMonitor() << "\nRemainingLife " << GetRemainingLife() << "\n";
  const std::pair<const char *, const char *> texts[] = {
      {"MPVersion", GetMPVersion()},
      {"LibraryVersion", GetLibraryVersion()},
      {"FWVersion", GetFWVersion()},
      {"HWVersion", GetHWVersion()},
      {"FlashID", GetFlashID()},
      {"FlashType", GetFlashType()},
      {"CustomizedID_CID", GetCustomizedID_CID()},
      {"ManufactureName_CID", GetManufactureName_CID()},
      {"ManufacturingDate_CID", GetManufacturingDate_CID()},
      {"ClientMark", GetClientMark()},
  };
  for (const auto &[name, text] : texts) {
    o << name << " \"";
    for (const char *c = text; *c; ++c) // bytes outside printable ASCII as \xNN
      if (*c >= 0x20 && *c < 0x7F)
        o << *c;
      else
        o << "\\x" << std::hex << std::setw(2) << std::setfill('0') << (*c & 0xFF) << std::dec;
    o << "\"\n";
  }
  const std::pair<const char *, int (*)(unsigned char *, unsigned)> copies[] = {
      {"SD_CID", GetSD_CID}, {"SD_CSD", GetSD_CSD}, {"SD_SCR", GetSD_SCR}};
  for (const auto &[name, get] : copies) {
    unsigned char b[16] = {};
    const int n = get(b, sizeof b);
    o << name << " " << n << ":" << std::hex << std::setfill('0');
    for (int i = 0; i < n; ++i)
      o << " " << std::setw(2) << unsigned(b[i]);
    o << std::dec << std::setfill(' ') << "\n";
  }
  // The tables in brief: entries, the sum of the counts, and the entries
  // marked unused or without a count.
  for (bool erase : {true, false}) {
    unsigned long long sum = 0, marked = 0, entries = 0;
    for (unsigned v : Table(erase)) {
      ++entries;
      (v >= 0xFFFFE ? marked : sum) += v >= 0xFFFFE ? 1 : v;
    }
    o << (erase ? "DetailEraseCount " : "DetailReadCount ") << entries << " entries, sum " << sum
      << ", marked " << marked << "\n";
  }
  return o.str();
}

// ---- The reader's view ----------------------------------------------------

// One acquisition's objects, built the way the library's driver builds them.
struct Acquisition {
  std::unique_ptr<CUsbDrive> usb;
  std::unique_ptr<CMmcDrive> mmc;
  std::unique_ptr<CSpecialMode2Cmd> channel;
  std::unique_ptr<CSmartInfoReader> reader;
  bool terminated = false;
  unsigned char version = 2;

  Acquisition(const sdsim::Card &card, unsigned char smartVersion) : version(smartVersion) {
    const std::wstring node = ToWideString(card.Node()), entry = ToWideString(kEntry);
    OpenDrive(TransportOfNode(card.Node()), node, [&](auto drive) {
      channel = std::make_unique<CSpecialMode2Cmd>(*drive, entry);
      Keep(std::move(drive));
    });
    reader = std::make_unique<CSmartInfoReader>(*channel, entry, node, terminated, version);
  }
  void Keep(std::unique_ptr<CUsbDrive> drive) { usb = std::move(drive); }
  void Keep(std::unique_ptr<CMmcDrive> drive) { mmc = std::move(drive); }
};

// What one Execute left behind in the reader and on the card.
struct Outcome {
  int64_t code = 0;
  std::wstring text, filePath;
  Seq seen;
  std::vector<unsigned> erase, reads;
  bool unformatted = false, writeProtected = false, fileHeaderFound = false, global = false;
};

// One Execute of `select`; `fault` is armed `at` transfers on, or throughout
// when `at` is 0. Every path must close what it opened, leave special mode
// (unless the card vanished) and remove the host file.
inline Outcome RunReader(sdsim::Card &card, unsigned char version, unsigned char select,
                         const sdsim::FaultKind *fault = nullptr, uint64_t at = 0) {
  Outcome o;
  const int fds = OpenDescriptorCount();
  {
    Acquisition a(card, version);
    card.ClearTranscript();
    if (fault)
      card.SetFault(*fault, at ? card.TransferCount() + at : 0, 0);
    CSmartInfoReader &r = *a.reader;
    try {
      r.Execute(select);
    } catch (const CError &e) {
      o.code = e.GetCode(), o.text = e.GetText();
    }
    o.seen = DataEvents(card.Transcript());
    o.erase = r.GetDetailEraseCount(), o.reads = r.GetDetailReadCount();
    o.unformatted = r.IsUnformatted(), o.writeProtected = r.IsWriteProtected();
    o.fileHeaderFound = r.IsFileHeaderFound(), o.global = r.IsGlobalReadCount();
    o.filePath = r.GetSmartFilePath();
  }
  EXPECT_EQ(OpenDescriptorCount(), fds) << "a descriptor was left open";
  if (!fault || *fault != sdsim::FaultKind::Vanish) {
    EXPECT_FALSE(card.InSpecialMode());
  }
  EXPECT_FALSE(Exists(card.HostFilePath())) << "host file left behind";
  return o;
}

} // namespace sdtest
