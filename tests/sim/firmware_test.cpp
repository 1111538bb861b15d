// The card's firmware: patterns switching special mode, the header and
// detail formats decoded here from their definition, busy answers, PMT clean
// polls and the transcript of a whole SMART read.
#include "sim_test_util.h"

using namespace simtest;

namespace {

std::uint32_t DetailLba(unsigned type, unsigned k) { return 256 * (k + 1) + 128 + type; }

class Firmware : public CardTest, public ::testing::WithParamInterface<const char *> {
protected:
  void SetUp() override { Attach(GetParam()); }
  // All detail sectors of a type, read one at a time as the library does.
  std::vector<std::uint8_t> ReadDetails(unsigned type, unsigned sectors, bool wait_first) {
    std::vector<std::uint8_t> out;
    for (unsigned k = 0; k < sectors; ++k) {
      const Sector s =
          k == 0 && wait_first ? ReadWaiting(DetailLba(type, k)) : Read(DetailLba(type, k));
      out.insert(out.end(), s.begin(), s.end());
    }
    return out;
  }
};

TEST_P(Firmware, PatternsSwitchSpecialModeOnAndOff) {
  const Sector mbr = card_->ReadSector(0);
  const std::string entry = card_->EntryString();
  Enter();
  EXPECT_EQ(card_->SpecialModeVersion(), 2);
  EXPECT_EQ(card_->ReadSector(0), EnterPattern(entry, false)); // kept as written
  EXPECT_EQ(DetailType(ReadWaiting(1).data()), 1u);
  EXPECT_EQ(DetailType(ReadWaiting(0).data()), 0u); // not the MBR
  Leave();
  EXPECT_FALSE(card_->InSpecialMode());
  EXPECT_EQ(card_->ReadSector(0), LeavePattern(entry));
  EXPECT_EQ(Read(1), card_->ReadSector(1)); // ordinary data again
  Write(0, mbr);
  EXPECT_EQ(Read(0), mbr);
  Enter(true);
  EXPECT_EQ(card_->SpecialModeVersion(), 3);
  Leave(true);
  const auto t = card_->Transcript();
  EXPECT_EQ(t[0], (sdsim::Transfer{"write", 0, 1, "enter v2"}));
  EXPECT_EQ(t[t.size() - 2], (sdsim::Transfer{"write", 0, 1, "enter v3"}));
  EXPECT_EQ(t.back(), (sdsim::Transfer{"write", 0, 1, "leave"}));

  // Another entry string, a stray byte, or another sector: ordinary data.
  Sector stray = EnterPattern(entry, false);
  stray[300] = 1;
  for (const Sector &p :
       {EnterPattern("SDSMTESX", false), EnterPattern("sdsmtest", false), stray}) {
    Write(0, p);
    EXPECT_FALSE(card_->InSpecialMode());
    EXPECT_EQ(card_->ReadSector(0), p);
    EXPECT_EQ(card_->Transcript().back().what, "data");
  }
  Write(5, EnterPattern(entry, false));
  EXPECT_FALSE(card_->InSpecialMode());
}

TEST_P(Firmware, HeadersAndDetailSectorsDecodeToTheCardsTables) {
  Enter();
  const auto reference = card_->HeaderSector(1);
  const std::uint32_t n = card_->EraseCounts().size();
  for (unsigned type : {0u, 1u, 2u, 3u, 16u}) {
    const Sector s = ReadWaiting(type);
    ASSERT_TRUE(SignatureOk(s.data())) << type;
    EXPECT_EQ(DetailType(s.data()), type);
    EXPECT_EQ(s[73], 0u); // not busy
    EXPECT_EQ(Entries(s.data()), n);
    const unsigned sectors = type == 1 || type == 3 ? (2 * n + 511) / 512 : 0u;
    EXPECT_TRUE(type == 2 || DetailSectors(s.data()) == sectors) << type;
    // Identity fields are the same in every header.
    EXPECT_TRUE(std::equal(s.begin() + 3, s.begin() + 69, reference.begin() + 3)) << type;
    EXPECT_TRUE(std::equal(s.begin() + 95, s.begin() + 135, reference.begin() + 95)) << type;
  }
  // TotalEraseCount, MinEraseCount, MaxEraseCount follow the table and its offset.
  const std::uint32_t offset = Be(&reference[144], 2);
  std::uint32_t total = 0, lo = 0xFFFF, hi = 0;
  for (std::uint32_t c : card_->EraseCounts())
    if (c != 0xFFFE) {
      total += c + offset;
      lo = std::min(lo, c + offset);
      hi = std::max(hi, c + offset);
    }
  EXPECT_EQ(Be(&reference[57], 4), total);
  EXPECT_EQ(Be(&reference[140], 2), lo);
  EXPECT_EQ(Be(&reference[142], 2), hi);

  const bool wait = reference[510] <= 1; // HeaderVersion 0 or 1: busy first detail
  for (unsigned type : {1u, 3u}) {
    const auto data = ReadDetails(type, DetailSectors(ReadWaiting(type).data()), wait);
    const auto want = type == 1 ? card_->EraseCounts() : card_->RuntimeStatus();
    for (std::size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(Be(&data[2 * i], 2), want[i]) << type << " " << i;
  }
  const Sector r = ReadWaiting(2);
  const unsigned pairs = DetailSectors(r.data()), remainder = r[94];
  const auto reads = card_->ReadCounts();
  std::vector<std::uint32_t> decoded(reads.size(), 0xFFFFFFFF), want = reads;
  const auto data = ReadDetails(2, pairs + remainder, wait);
  if (remainder == 0) { // native: reads / 255, 0xFFFE for none
    for (std::size_t v = 0; v < reads.size(); ++v) {
      const std::uint32_t x = Be(&data[2 * v], 2);
      decoded[v] = x == 0xFFFE ? 0xFFFFFFFF : x * 255;
      if (want[v] != 0xFFFFFFFF)
        want[v] = want[v] / 255 * 255;
    }
  } else { // global: index/value sector pairs, then the remainder sectors
    const std::uint8_t *rem = &data[pairs * 512];
    for (unsigned pair = 0; pair + 1 < pairs; pair += 2)
      for (unsigned j = 0; j < 256; ++j) {
        const std::uint32_t index = Be(&data[pair * 512 + 2 * j], 2);
        const std::uint32_t value = Be(&data[(pair + 1) * 512 + 2 * j], 2);
        if (index == 0xFFFF || value == 0xFFFF || index >= reads.size())
          continue;
        const std::uint8_t b = rem[index % (remainder * 512)];
        decoded[index] = value * 255 + (b == 0xFF ? 0 : b);
      }
  }
  EXPECT_EQ(decoded, want);
  Leave();
}

TEST_P(Firmware, BusyAnswersAsConfiguredThenTheData) {
  Enter();
  unsigned reads = 0, detail_reads = 0;
  const unsigned version = ReadWaiting(1, &reads)[510];
  if (reads > 1) { // busy headers carry the signature and byte 73 = 1
    Leave();
    Enter();
    EXPECT_TRUE(IsBusyHeader(Read(1).data()));
    (void)ReadWaiting(1);
  }
  const Sector first = ReadWaiting(DetailLba(1, 0), &detail_reads);
  EXPECT_EQ(Be(first.data(), 2), card_->EraseCounts()[0]);
  // Newer headers never make the first detail busy.
  EXPECT_TRUE(version <= 1 || detail_reads == 1u) << detail_reads;
  // PMT clean: header 16, then polls until a sector that is not busy.
  (void)ReadWaiting(16);
  for (unsigned poll = 0; IsBusyHeader(Read(256 * (poll + 1) + 0x90).data()); ++poll)
    ASSERT_LT(poll, 100u);
  EXPECT_EQ(card_->PmtCleanCount(), 1u);
  EXPECT_EQ(card_->Transcript().back().what, "pmt poll");
}

INSTANTIATE_TEST_SUITE_P(Cards, Firmware,
                         ::testing::Values("usb.json", "native.json", "native_sdsc.json"),
                         [](const auto &info) {
                           const std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

class FirmwareUsb : public Firmware {};

TEST_P(FirmwareUsb, FunctionSelectFiveSequenceAsTheCardSeesIt) {
  // The version-2 read of erase counts and run-time statuses.
  Enter();
  Leave();
  std::vector<sdsim::Transfer> expect = {
      {"write", 0, 1, "enter v2"}, {"write", 0, 1, "enter v2"}, {"write", 0, 1, "leave"}};
  for (unsigned type : {1u, 3u}) {
    Enter();
    const Sector h = ReadWaiting(type);
    EXPECT_EQ(Entries(h.data()), 4096u);
    ASSERT_EQ(DetailSectors(h.data()), 16u);
    ReadDetails(type, 16, false);
    Leave();
    const std::string t = std::to_string(type);
    expect.push_back({"write", 0, 1, "enter v2"});
    expect.push_back({"read", type, 1, "header " + t}); // busy once
    expect.push_back({"read", type, 1, "header " + t});
    for (unsigned k = 0; k < 16; ++k)
      expect.push_back({"read", DetailLba(type, k), 1, "detail " + t + " " + std::to_string(k)});
    expect.push_back({"write", 0, 1, "enter v2"});
    expect.push_back({"write", 0, 1, "leave"});
  }
  EXPECT_EQ(card_->Transcript(), expect) << Texts(card_->Transcript());
  EXPECT_EQ(card_->TransferCount(), expect.size());
}

TEST_P(FirmwareUsb, HeaderFieldsComeFromTheCardFile) {
  sdsim::Card &c = sdsim::AttachJson(R"({
    "node": "/dev/sdq", "capacity_sectors": 2097152, "entry": "ABCDEFGH",
    "header": {"HWVersion": "X1", "PECycleCount": 10000, "TotalEraseCount": 100000,
               "BaseVBEntryCount": 300, "VBsPerUnit": 0, "TotalVBCount": 7,
               "ExtraVBEntriesPerUnit": 9, "HeaderVersion": 3, "EraseCountOffset": 500,
               "CID": "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
               "ClientMark": "fleet-42", "WPStatus": 4, "UseDetailSectorCountEx": false},
    "erase_counts": [1, 2, 65534, 4],
    "read_counts": {"format": "native", "values": [255, null, 1000]},
    "runtime_status": [0, 2, 258],
    "latency": {"transfer_us": 1000, "file_step_us": "250"}
  })");
  EXPECT_EQ(c.TransferLatencyUs(), 1000u);
  EXPECT_EQ(c.FileStepLatencyUs(), 250u);
  const auto h = c.HeaderSector(1);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&h[3])), "X1");
  EXPECT_EQ(Be(&h[42], 4), 10000u);
  EXPECT_EQ(Be(&h[57], 4), 100000u); // an odd offset
  EXPECT_EQ(Entries(h.data()), 300u);
  EXPECT_EQ(h[95], 0x01);
  EXPECT_EQ(h[110], 0x10);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&h[152])), "fleet-42");
  EXPECT_EQ(h[508], 4);
  EXPECT_EQ(h[510], 3);
  EXPECT_EQ(h[69], 2); // 600 bytes of erase counts: 2 sectors, one-byte field only
  EXPECT_EQ(Be(&h[138], 2), 0xFFFFu);
  const auto erase = c.DetailData(1), reads = c.DetailData(2), status = c.DetailData(3);
  EXPECT_EQ(Be(&erase[4], 2), 0xFFFEu);
  EXPECT_EQ(Be(&erase[8], 2), 0xFFFEu); // unlisted VBs are not in use
  EXPECT_EQ(Be(&reads[0], 2), 1u);
  EXPECT_EQ(Be(&reads[2], 2), 0xFFFEu);
  EXPECT_EQ(Be(&reads[4], 2), 3u);
  EXPECT_EQ(Be(&status[4], 2), 258u);
}

TEST_P(FirmwareUsb, BadCardFilesAreRefused) {
  const char *bad[] = {
      R"({"capacity_sectors": 100, "entry": "ABCDEFGH"})",                    // no node
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "SHORT"})",   // entry
      R"({"node": "/dev/sdq", "capacity_bytes": 1000, "entry": "ABCDEFGH"})", // bytes
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH", "addressing": "word"})",
      R"({"node": "/dev/sdq", "capacity_bytes": 8589934592, "entry": "ABCDEFGH",
          "addressing": "byte"})", // >4 GiB
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH", "header": {"Colour": 1}})",
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH",
          "header": {"HWVersion": "0123456789abcdefg"}})",
      R"({"node": "/dev/sdq", "capacity_sectors": 100, "entry": "ABCDEFGH",
          "latency": {"transfer_us": 1000001}})",                              // above a second
      R"({"node": "/dev/sdx", "capacity_sectors": 100, "entry": "ABCDEFGH"})", // taken
      "not json",
  };
  for (const char *text : bad)
    EXPECT_THROW(sdsim::AttachJson(text), std::runtime_error) << text;
  EXPECT_EQ(sdsim::Cards().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Card, FirmwareUsb, ::testing::Values("usb.json"),
                         [](const auto &) { return "usb"; });

} // namespace
