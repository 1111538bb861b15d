// SPDX-License-Identifier: MIT
// The unmodified reader against a virtual card attached in-process, and
// card-form SMART headers for the parsers.
#pragma once

#include "card.h"
#include "config.h"
#include "support.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"
#include "sdsmart/mmc_drive.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/usb_drive.h"
#include "transport/sector_device.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace sdtest {

// A small card: `entries` VBs (no units), plus the given extra JSON members.
inline std::string CardJson(const std::string &node, const std::string &extra = "",
                            const std::string &header = "", unsigned entries = 300) {
  return "{\"node\": \"" + node + "\", \"capacity_sectors\": 65536, \"entry\": \"" + kEntry +
         "\", \"header\": {\"BaseVBEntryCount\": " + std::to_string(entries) +
         ", \"TotalVBCount\": 0, \"VBsPerUnit\": 0, \"ExtraVBEntriesPerUnit\": 0" +
         (header.empty() ? "" : ", " + header) + "}" + (extra.empty() ? "" : ", " + extra) + "}";
}

inline bool Contains(const Seq &s, const std::string &what) {
  for (const auto &t : s)
    if (t.what == what)
      return true;
  return false;
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
    const std::wstring node = ToWideString(card.Node()), entry = ToWideString(kEntry);
    OpenDrive(TransportOfNode(card.Node()), node, [&](auto drive) {
      channel = std::make_unique<CSpecialMode2Cmd>(*drive, entry);
      Keep(std::move(drive));
    });
    reader = std::make_unique<CSmartInfoReader>(*channel, entry, node, terminated, version);
  }
  void Keep(std::unique_ptr<CUsbDrive> drive) { usb = std::move(drive); }
  void Keep(std::unique_ptr<CMmcDrive> drive) { mmc = std::move(drive); }
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
    o.seen = DataEvents(card.Transcript());
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
  EXPECT_FALSE(Exists(card.HostFilePath())) << "host file left behind";
  return o;
}

class SimTest : public ::testing::Test {
protected:
  void TearDown() override { sdsim::DetachAll(); }
  sdsim::Card &Attach(const std::string &json) { return sdsim::AttachJson(json); }
};

// The header fields the parsers look at.
struct HeaderFields {
  unsigned char type = 1;
  unsigned int base = 8;       // BaseVBEntryCount
  unsigned int extra = 0;      // ExtraVBEntriesPerUnit
  unsigned int total = 0;      // TotalVBCount
  unsigned int perUnit = 0;    // VBsPerUnit
  unsigned int sectors = 1;    // DetailSectorCountEx (DetailSectorCount when 0 or 0xFFFF)
  unsigned char remainder = 0; // GlobalRemainderSectorCount
  unsigned int offset = 0;     // EraseCountOffset
};

inline _SMART_INFO_HEADER HostHeader(const HeaderFields &s) {
  std::array<unsigned char, 512> b{};
  b[0] = 'S', b[1] = 'I', b[2] = '0';
  PutBe32(b.data(), 46, s.base);
  b[70] = s.type;
  PutBe32(b.data(), 78, s.total);
  PutBe16(b.data(), 82, s.perUnit);
  PutBe16(b.data(), 84, s.extra);
  b[94] = s.remainder;
  PutBe16(b.data(), 138, s.sectors);
  PutBe16(b.data(), 144, s.offset);
  b[510] = 2; // HeaderVersion
  return *CSmartInfoHeader(b.data()).Get();
}

// Big-endian 16-bit entries padded to whole sectors.
inline std::vector<unsigned char> Entries(const std::vector<unsigned int> &values,
                                          unsigned int sectors = 1) {
  std::vector<unsigned char> out(static_cast<size_t>(sectors) * 512, 0);
  for (size_t i = 0; i < values.size(); ++i)
    PutBe16(out.data(), 2 * i, values[i]);
  return out;
}

// Packed fields are copied out before gtest takes them by reference.
template <typename T> T V(T v) { return v; }

} // namespace sdtest
