// Runs the unmodified reader against a virtual card attached in-process.
#pragma once

#include "sdsim/sdsim.h"
#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "smart_test_support.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"
#include "util/convert.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace smarttest {

constexpr const char *kEntry = "SDSMTEST";
using Seq = std::vector<sdsim::Transfer>;

// A small card: `entries` VBs (no units), plus the given extra JSON members.
inline std::string CardJson(const std::string &node, const std::string &extra = "",
                            const std::string &header = "", unsigned entries = 300) {
  return "{\"node\": \"" + node + "\", \"capacity_sectors\": 65536, \"entry\": \"" + kEntry +
         "\", \"header\": {\"BaseVBEntryCount\": " + std::to_string(entries) +
         ", \"TotalVBCount\": 0, \"VBsPerUnit\": 0, \"ExtraVBEntriesPerUnit\": 0" +
         (header.empty() ? "" : ", " + header) + "}" + (extra.empty() ? "" : ", " + extra) + "}";
}

// Sector transfers and host-file events; `fileEvents` false leaves the latter out.
inline Seq DataEvents(const sdsim::Card &card, bool fileEvents = true) {
  Seq out;
  for (const auto &t : card.Transcript())
    if ((t.op == "read" || t.op == "write") && (fileEvents || t.what.rfind("file", 0) != 0))
      out.push_back(t);
  return out;
}

inline bool Contains(const Seq &s, const std::string &what) {
  for (const auto &t : s)
    if (t.what == what)
      return true;
  return false;
}

inline std::string Describe(const Seq &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

// The erase counts the reader must deliver: markers widened, offset added up to 100000.
inline std::vector<unsigned> ExpectedErase(const sdsim::Card &card, unsigned offset = 0) {
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : (v + offset <= 100000 ? v + offset : v));
  return out;
}

// One acquisition's objects, built the way the library's driver builds them.
struct Acquisition {
  std::unique_ptr<CUsbDrive> usb;
  std::unique_ptr<CMmcDrive> mmc;
  std::unique_ptr<CSpecialMode2Cmd> channel;
  std::unique_ptr<CSmartInfoReader> reader;
  bool terminated = false;
  unsigned char version = 2;

  Acquisition(const sdsim::Card &card, unsigned char smartVersion) : version(smartVersion) {
    const std::wstring node = ToWideString(card.Node());
    if (card.IsNative()) {
      mmc = std::make_unique<CMmcDrive>(node, false);
      channel = std::make_unique<CSpecialMode2Cmd>(*mmc, ToWideString(kEntry));
    } else {
      usb = std::make_unique<CUsbDrive>(node, false);
      channel = std::make_unique<CSpecialMode2Cmd>(*usb, ToWideString(kEntry));
    }
    reader = std::make_unique<CSmartInfoReader>(*channel, ToWideString(kEntry), node, terminated,
                                                version);
  }

  // The code of the error Execute raised, 0 when it succeeded.
  int64_t Execute(unsigned char select, std::wstring *text = nullptr) {
    try {
      reader->Execute(select);
    } catch (const CError &e) {
      if (text)
        *text = e.GetText();
      return e.GetCode();
    }
    return 0;
  }
};

inline bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline int OpenDescriptorCount() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d))
      ++n;
    closedir(d);
  }
  return n;
}

// What one Execute left behind in the reader and on the card.
struct Outcome {
  int64_t code = 0;
  std::wstring text, filePath;
  Seq seen;
  std::vector<unsigned> erase, reads;
  bool unformatted = false, writeProtected = false, fileHeaderFound = false, global = false;
  unsigned unit = 0, detailType = 0;
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
    o.code = a.Execute(select, &o.text);
    o.seen = DataEvents(card);
    CSmartInfoReader &r = *a.reader;
    o.erase = r.GetDetailEraseCount(), o.reads = r.GetDetailReadCount();
    o.unformatted = r.IsUnformatted(), o.writeProtected = r.IsWriteProtected();
    o.fileHeaderFound = r.IsFileHeaderFound(), o.global = r.IsGlobalReadCount();
    o.unit = r.GetExtensionUnit(), o.detailType = r.GetHeader()->DetailType;
    o.filePath = r.GetSmartFilePath();
  }
  EXPECT_EQ(OpenDescriptorCount(), fds) << "a descriptor was left open";
  if (!fault || *fault != sdsim::FaultKind::Vanish) {
    EXPECT_FALSE(card.InSpecialMode());
  }
  if (!card.HostFilePath().empty()) {
    EXPECT_FALSE(Exists(card.HostFilePath())) << "host file left behind";
  }
  return o;
}

class SimTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
  sdsim::Card &Attach(const std::string &json) { return sdsim::AttachJson(json); }
};

inline sdsim::Transfer W(const char *what) { return {"write", 0, 1, what}; }
inline sdsim::Transfer R(uint32_t lba, const std::string &what) { return {"read", lba, 1, what}; }

} // namespace smarttest
