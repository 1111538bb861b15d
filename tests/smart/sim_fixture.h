// Runs the unmodified reader against a virtual card attached in-process.
#pragma once

#include "sdsim/sdsim.h"
#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"
#include "util/convert.h"
#include "util/error.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

namespace smarttest {

constexpr const char *kEntry = "SDSMTEST";

// A small card: `entries` VBs (no units), plus the given extra JSON members.
inline std::string CardJson(const std::string &node, const std::string &extra = "",
                            const std::string &header = "", unsigned entries = 300) {
  std::string json = "{\"node\": \"" + node + "\", \"capacity_sectors\": 65536, \"entry\": \"" +
                     kEntry + "\", \"header\": {\"BaseVBEntryCount\": " + std::to_string(entries) +
                     ", \"TotalVBCount\": 0, \"VBsPerUnit\": 0, \"ExtraVBEntriesPerUnit\": 0";
  if (!header.empty())
    json += ", " + header;
  json += "}";
  if (!extra.empty())
    json += ", " + extra;
  return json + "}";
}

inline std::vector<sdsim::Transfer> SectorTransfers(const sdsim::Card &card) {
  std::vector<sdsim::Transfer> out;
  for (const auto &t : card.Transcript())
    if ((t.op == "read" || t.op == "write") && t.what.rfind("file", 0) != 0)
      out.push_back(t);
  return out;
}

inline std::string Describe(const std::vector<sdsim::Transfer> &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
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

class SimTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
  sdsim::Card &Attach(const std::string &json) { return sdsim::AttachJson(json); }
};

inline sdsim::Transfer W(const char *what) { return {"write", 0, 1, what}; }
inline sdsim::Transfer R(uint32_t lba, const std::string &what) { return {"read", lba, 1, what}; }

} // namespace smarttest
