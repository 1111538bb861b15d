// The card's firmware: patterns switching special mode, the header and
// detail formats decoded here from their definition, busy answers, PMT clean
// polls and the transcript of a whole SMART read.
#include "sim_test_util.h"

#include <map>
#include <numeric>

using namespace simtest;

namespace {

// Sector transfers through the card's own transport.
class Io {
public:
  Io(sdsim::Card &card) : card_(card), fd_(OpenNode(card.Node())) {}
  Sector Read(std::uint32_t lba) {
    Sector s{};
    if (card_.IsNative()) {
      const std::uint32_t arg = card_.IsByteAddressed() ? lba * 512 : lba;
      MmcResult r = Mmc(fd_.get(), 17, arg, kReadFlags, false, 1, s.data());
      EXPECT_EQ(r.rc, 0) << std::strerror(r.err);
    } else {
      ScsiReadOk(fd_.get(), lba, 1, s.data());
    }
    return s;
  }
  void Write(std::uint32_t lba, const Sector &s) {
    if (card_.IsNative()) {
      const std::uint32_t arg = card_.IsByteAddressed() ? lba * 512 : lba;
      MmcResult r =
          Mmc(fd_.get(), 24, arg, kWriteFlags, true, 1, const_cast<std::uint8_t *>(s.data()));
      EXPECT_EQ(r.rc, 0) << std::strerror(r.err);
    } else {
      ScsiWriteOk(fd_.get(), lba, 1, s.data());
    }
  }
  // Reads sector lba again while it is a busy header; returns the answer and
  // counts the reads.
  Sector ReadWaiting(std::uint32_t lba, unsigned *reads = nullptr) {
    unsigned n = 0;
    Sector s;
    do {
      s = Read(lba);
      ++n;
    } while (s[0] == 'S' && s[1] == 'I' && s[2] == '0' && s[73] == 1 && n < 100);
    if (reads)
      *reads = n;
    return s;
  }
  void Enter(bool v3 = false) { Write(0, EnterPattern(card_.EntryString(), v3)); }
  void Leave(bool v3 = false) {
    Write(0, EnterPattern(card_.EntryString(), v3));
    Write(0, LeavePattern(card_.EntryString()));
  }

private:
  sdsim::Card &card_;
  Fd fd_;
};

std::uint32_t DetailLba(unsigned type, unsigned k) { return 256 * (k + 1) + 128 + type; }

// All detail sectors of a type, read one at a time as the library does.
std::vector<std::uint8_t> ReadDetails(Io &io, unsigned type, unsigned sectors, bool wait_first) {
  std::vector<std::uint8_t> out;
  for (unsigned k = 0; k < sectors; ++k) {
    const Sector s =
        k == 0 && wait_first ? io.ReadWaiting(DetailLba(type, k)) : io.Read(DetailLba(type, k));
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

class Firmware : public CardTest, public ::testing::WithParamInterface<const char *> {
protected:
  void SetUp() override {
    card_ = &sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + "/" + GetParam());
    io_ = std::make_unique<Io>(*card_);
  }
  void TearDown() override {
    io_.reset();
    CardTest::TearDown();
  }
  sdsim::Card *card_ = nullptr;
  std::unique_ptr<Io> io_;
};

TEST_P(Firmware, PatternsSwitchSpecialModeOnAndOff) {
  const Sector mbr = card_->ReadSector(0);
  EXPECT_FALSE(card_->InSpecialMode());
  io_->Enter();
  EXPECT_TRUE(card_->InSpecialMode());
  EXPECT_EQ(card_->SpecialModeVersion(), 2);
  EXPECT_EQ(card_->ReadSector(0), EnterPattern(card_->EntryString(), false));
  const Header h = Decode(io_->ReadWaiting(1).data());
  EXPECT_TRUE(h.signature_ok);
  EXPECT_EQ(h.detail_type, 1u);
  // Sector 0 in special mode is the header-only answer, not the MBR.
  EXPECT_EQ(Decode(io_->ReadWaiting(0).data()).detail_type, 0u);
  io_->Leave();
  EXPECT_FALSE(card_->InSpecialMode());
  EXPECT_EQ(card_->ReadSector(0), LeavePattern(card_->EntryString()));
  EXPECT_EQ(io_->Read(1), card_->ReadSector(1)); // ordinary data again
  io_->Write(0, mbr);
  EXPECT_EQ(io_->Read(0), mbr);
  EXPECT_FALSE(card_->InSpecialMode());

  io_->Enter(true);
  EXPECT_EQ(card_->SpecialModeVersion(), 3);
  io_->Leave(true);
  const auto t = card_->Transcript();
  EXPECT_EQ(t[0], (sdsim::Transfer{"write", 0, 1, "enter v2"}));
  EXPECT_EQ(t.back(), (sdsim::Transfer{"write", 0, 1, "leave"}));
  EXPECT_EQ(t[t.size() - 2], (sdsim::Transfer{"write", 0, 1, "enter v3"}));
}

TEST_P(Firmware, PatternsWithAnotherEntryStringAreOrdinaryData) {
  for (const char *entry : {"SDSMTESX", "sdsmtest", "TSETMSDS"}) {
    Sector p = EnterPattern(entry, false);
    io_->Write(0, p);
    EXPECT_FALSE(card_->InSpecialMode()) << entry;
    EXPECT_EQ(card_->ReadSector(0), p);
    EXPECT_EQ(card_->Transcript().back().what, "data");
  }
  // A right pattern with one stray byte is not a pattern either.
  Sector stray = EnterPattern(card_->EntryString(), false);
  stray[300] = 1;
  io_->Write(0, stray);
  EXPECT_FALSE(card_->InSpecialMode());
  // Nor does a pattern written to another sector count.
  io_->Write(5, EnterPattern(card_->EntryString(), false));
  EXPECT_FALSE(card_->InSpecialMode());
}

TEST_P(Firmware, HeaderFieldsAndDetailCountsFollowTheFormat) {
  io_->Enter();
  for (unsigned type : {0u, 1u, 2u, 3u, 16u}) {
    const Sector s = io_->ReadWaiting(type);
    const Header h = Decode(s.data());
    ASSERT_TRUE(h.signature_ok) << type;
    EXPECT_EQ(h.detail_type, type);
    EXPECT_EQ(h.busy, 0u);
    const std::uint32_t n = h.Entries();
    EXPECT_EQ(n, card_->EraseCounts().size());
    if (type == 1 || type == 3) {
      EXPECT_EQ(h.DetailSectors(), (2 * n + 511) / 512);
    }
    if (type == 0 || type == 16) {
      EXPECT_EQ(h.DetailSectors(), 0u);
    }
    // Identity fields are the same in every header.
    const auto reference = card_->HeaderSector(1);
    EXPECT_TRUE(std::equal(s.begin() + 3, s.begin() + 69, reference.begin() + 3)) << type;
    EXPECT_TRUE(std::equal(s.begin() + 95, s.begin() + 135, reference.begin() + 95)) << type;
  }
  const Header h = Decode(card_->HeaderSector(1).data());
  std::uint32_t total = 0, lo = 0xFFFF, hi = 0;
  for (auto e : card_->EraseCounts())
    if (e != 0xFFFE) {
      total += e + h.erase_offset;
      lo = std::min<std::uint32_t>(lo, e + h.erase_offset);
      hi = std::max<std::uint32_t>(hi, e + h.erase_offset);
    }
  EXPECT_EQ(h.total_erase, total);
  EXPECT_EQ(h.min_erase, lo);
  EXPECT_EQ(h.max_erase, hi);
  io_->Leave();
}

TEST_P(Firmware, DetailSectorsDecodeToTheCardsTables) {
  io_->Enter();
  const Header e = Decode(io_->ReadWaiting(1).data());
  const bool wait = e.header_version <= 1;
  const auto erase = ReadDetails(*io_, 1, e.DetailSectors(), wait);
  const auto expect_erase = card_->EraseCounts();
  for (std::size_t i = 0; i < expect_erase.size(); ++i)
    ASSERT_EQ(Be(&erase[2 * i], 2), expect_erase[i]) << i;

  const Header s = Decode(io_->ReadWaiting(3).data());
  const auto status = ReadDetails(*io_, 3, s.DetailSectors(), wait);
  for (std::size_t i = 0; i < card_->RuntimeStatus().size(); ++i)
    ASSERT_EQ(Be(&status[2 * i], 2), card_->RuntimeStatus()[i]) << i;

  const Header r = Decode(io_->ReadWaiting(2).data());
  const auto reads = card_->ReadCounts();
  std::vector<std::uint32_t> decoded(reads.size(), 0xFFFFFFFF);
  if (r.remainder == 0) {
    const auto data = ReadDetails(*io_, 2, r.DetailSectors(), wait);
    for (std::size_t v = 0; v < reads.size(); ++v) {
      const std::uint32_t x = Be(&data[2 * v], 2);
      decoded[v] = x == 0xFFFE ? 0xFFFFFFFF : x * 255;
      if (reads[v] != 0xFFFFFFFF)
        ASSERT_EQ(decoded[v], reads[v] / 255 * 255) << v;
      else
        ASSERT_EQ(decoded[v], 0xFFFFFFFFu) << v;
    }
  } else {
    // Global format: index/value sector pairs, then the remainder sectors.
    const auto data = ReadDetails(*io_, 2, r.DetailSectors() + r.remainder, wait);
    const std::uint8_t *rem = &data[r.DetailSectors() * 512];
    for (unsigned pair = 0; pair + 1 < r.DetailSectors(); pair += 2)
      for (unsigned j = 0; j < 256; ++j) {
        const std::uint32_t index = Be(&data[pair * 512 + 2 * j], 2);
        const std::uint32_t value = Be(&data[(pair + 1) * 512 + 2 * j], 2);
        if (index == 0xFFFF || value == 0xFFFF || index >= reads.size())
          continue;
        const std::uint8_t b = rem[index % (r.remainder * 512)];
        decoded[index] = value * 255 + (b == 0xFF ? 0 : b);
      }
    EXPECT_EQ(decoded, reads);
  }
  io_->Leave();
}

TEST_P(Firmware, BusyAnswersAsConfiguredThenTheData) {
  io_->Enter();
  unsigned reads = 0;
  const Header h = Decode(io_->ReadWaiting(1, &reads).data());
  const auto t = card_->Transcript();
  // Busy headers carry the signature and byte 73 = 1.
  if (reads > 1) {
    card_->ClearTranscript();
    io_->Leave();
    io_->Enter();
    const Header busy = Decode(io_->Read(1).data());
    EXPECT_TRUE(busy.signature_ok);
    EXPECT_EQ(busy.busy, 1u);
    (void)io_->ReadWaiting(1);
  }
  unsigned detail_reads = 0;
  const Sector first = io_->ReadWaiting(DetailLba(1, 0), &detail_reads);
  EXPECT_EQ(Be(first.data(), 2), card_->EraseCounts()[0]);
  if (h.header_version >= 2) {
    EXPECT_EQ(detail_reads, 1u); // newer headers never make the first detail busy
  }
  // PMT clean: header 16, then polls until a sector that is not busy.
  (void)io_->ReadWaiting(16);
  unsigned polls = 0;
  for (;; ++polls) {
    const Sector s = io_->Read(256 * (polls + 1) + 0x90);
    if (!(s[0] == 'S' && s[1] == 'I' && s[2] == '0' && s[73] == 1))
      break;
    ASSERT_LT(polls, 100u);
  }
  EXPECT_EQ(card_->PmtCleanCount(), 1u);
  EXPECT_EQ(card_->Transcript().back().what, "pmt poll");
  io_->Leave();
}

INSTANTIATE_TEST_SUITE_P(Cards, Firmware,
                         ::testing::Values("usb.json", "native.json", "native_sdsc.json"),
                         [](const auto &info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

class FirmwareUsb : public CardTest {
protected:
  void SetUp() override {
    card_ = &sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
    io_ = std::make_unique<Io>(*card_);
  }
  void TearDown() override {
    io_.reset();
    CardTest::TearDown();
  }
  sdsim::Card *card_ = nullptr;
  std::unique_ptr<Io> io_;
};

TEST_F(FirmwareUsb, FunctionSelectFiveSequenceAsTheCardSeesIt) {
  // The version-2 read of erase counts and run-time statuses.
  io_->Enter();
  io_->Leave();
  io_->Enter();
  const Header e = Decode(io_->ReadWaiting(1).data());
  ReadDetails(*io_, 1, e.DetailSectors(), false);
  io_->Leave();
  io_->Enter();
  const Header s = Decode(io_->ReadWaiting(3).data());
  ReadDetails(*io_, 3, s.DetailSectors(), false);
  io_->Leave();

  std::vector<sdsim::Transfer> expect = {{"write", 0, 1, "enter v2"}, {"write", 0, 1, "enter v2"},
                                         {"write", 0, 1, "leave"},    {"write", 0, 1, "enter v2"},
                                         {"read", 1, 1, "header 1"}, // busy once
                                         {"read", 1, 1, "header 1"}};
  for (unsigned k = 0; k < 16; ++k)
    expect.push_back({"read", DetailLba(1, k), 1, "detail 1 " + std::to_string(k)});
  expect.push_back({"write", 0, 1, "enter v2"});
  expect.push_back({"write", 0, 1, "leave"});
  expect.push_back({"write", 0, 1, "enter v2"});
  expect.push_back({"read", 3, 1, "header 3"});
  expect.push_back({"read", 3, 1, "header 3"});
  for (unsigned k = 0; k < 16; ++k)
    expect.push_back({"read", DetailLba(3, k), 1, "detail 3 " + std::to_string(k)});
  expect.push_back({"write", 0, 1, "enter v2"});
  expect.push_back({"write", 0, 1, "leave"});
  EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
  EXPECT_EQ(card_->TransferCount(), expect.size());
  EXPECT_EQ(e.Entries(), 4096u);
  EXPECT_EQ(e.DetailSectors(), 16u);
}

TEST_F(FirmwareUsb, UnitFieldsAreBigEndianExceptOnTheNv6461) {
  const auto usb = card_->HeaderSector(1);
  EXPECT_EQ(usb[82], 0x04);
  EXPECT_EQ(usb[83], 0x00);
  sdsim::Card &nv = sdsim::AttachFile(SDSIM_CARDS_DIR "/native.json");
  const auto h = nv.HeaderSector(1);
  EXPECT_EQ(h[82], 0xE8); // 1000, little-endian
  EXPECT_EQ(h[83], 0x03);
  EXPECT_EQ(h[84], 0xE8);
  EXPECT_EQ(Decode(h.data()).Entries(), 2000u);
  // Other fields of the NV6461 stay big-endian.
  EXPECT_EQ(Be(&h[42], 4), 10000u);
  EXPECT_EQ(Be(&h[78], 4), 2000u);
}

TEST_F(FirmwareUsb, HeaderFieldsComeFromTheCardFile) {
  sdsim::DetachAll();
  io_.reset();
  sdsim::Card &c = sdsim::AttachJson(R"({
    "node": "/dev/sdq", "capacity_sectors": 2097152, "entry": "ABCDEFGH",
    "header": {"HWVersion": "X1", "PECycleCount": 10000, "TotalEraseCount": 100000,
               "BaseVBEntryCount": 300, "VBsPerUnit": 0, "TotalVBCount": 7,
               "ExtraVBEntriesPerUnit": 9, "HeaderVersion": 3, "EraseCountOffset": 500,
               "CID": "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
               "ClientMark": "fleet-42", "WPStatus": 4, "UseDetailSectorCountEx": false},
    "erase_counts": [1, 2, 65534, 4],
    "read_counts": {"format": "native", "values": [255, null, 1000]},
    "runtime_status": [0, 2, 258]
  })");
  const auto h = c.HeaderSector(1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&h[3])), "X1");
  EXPECT_EQ(Be(&h[42], 4), 10000u); // 00 00 27 10
  EXPECT_EQ(h[57], 0x00);
  EXPECT_EQ(Be(&h[57], 4), 100000u); // an odd offset
  EXPECT_EQ(Decode(h.data()).Entries(), 300u);
  EXPECT_EQ(h[95], 0x01);
  EXPECT_EQ(h[110], 0x10);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&h[152])), "fleet-42");
  EXPECT_EQ(h[508], 4);
  EXPECT_EQ(h[510], 3);
  EXPECT_EQ(h[69], 2); // 600 bytes of erase counts: 2 sectors
  EXPECT_EQ(Be(&h[138], 2), 0xFFFFu);
  const auto erase = c.DetailData(1);
  EXPECT_EQ(Be(&erase[4], 2), 0xFFFEu);
  EXPECT_EQ(Be(&erase[8], 2), 0xFFFEu); // unlisted VBs are not in use
  const auto reads = c.DetailData(2);
  EXPECT_EQ(Be(&reads[0], 2), 1u);
  EXPECT_EQ(Be(&reads[2], 2), 0xFFFEu);
  EXPECT_EQ(Be(&reads[4], 2), 3u);
  const auto status = c.DetailData(3);
  EXPECT_EQ(Be(&status[2], 2), 2u);
  EXPECT_EQ(Be(&status[4], 2), 258u);
}

TEST_F(FirmwareUsb, BadCardFilesAreRefusedWithAReason) {
  const char *bad[] = {
      R"({"capacity_sectors": 100, "entry": "ABCDEFGH"})",                    // no node
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "SHORT"})",   // entry
      R"({"node": "/dev/sdq", "capacity_bytes": 1000, "entry": "ABCDEFGH"})", // bytes
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH",
          "addressing": "word"})",
      R"({"node": "/dev/sdq", "capacity_bytes": 8589934592, "entry": "ABCDEFGH",
          "addressing": "byte"})", // >4 GiB
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH",
          "header": {"Colour": 1}})",
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH",
          "header": {"HWVersion": "0123456789abcdefg"}})",
      R"({"node": "/dev/sdx", "capacity_sectors": 100, "entry": "ABCDEFGH"})", // taken
      "not json",
  };
  for (const char *text : bad)
    EXPECT_THROW(sdsim::AttachJson(text), std::runtime_error) << text;
  EXPECT_EQ(sdsim::Cards().size(), 1u);
}

} // namespace
