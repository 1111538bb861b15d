// Every value and identity accessor after a successful GetSmartInfo equals
// what the card itself defines: expectations come from the headers and the
// tables the virtual card serves, never from numbers written down here.
#include "acquisition_support.h"
#include "card_values.h"

using namespace acqtest;

namespace {

struct CardCase {
  const char *what;
  const char *file;
  // Changes to the shipped card, applied before it is attached.
  void (*edit)(Json &);
};

void Unchanged(Json &) {}

// An erase-count offset that is added to some VBs and not to those it would
// lift past 100000,
// run-time statuses whose low byte is 2 without being 2, a write-protect
// status, and a card type code with many cycles.
void OffsetAndStatuses(Json &j) {
  // Counts around 35000 with an offset of 65000: half of them pass 100000.
  j["header"]["EraseCountOffset"] = 65000;
  j["erase_counts"] = {
      {"generate", {{"seed", 3}, {"mean", 35000}, {"spread", 400}, {"unused", 0.02}}}};
  j["header"]["WPStatus"] = 1;
  j["header"]["PECycleCount"] = 40000;
  std::vector<unsigned> statuses(64, 0);
  statuses[1] = 2;
  statuses[7] = 0x0102;
  statuses[9] = 0x0202;
  statuses[20] = 2;
  statuses[33] = 1;
  j["runtime_status"] = statuses;
}

// A maker of flash whose type name is refined by the cycle count.
void PseudoSlc(Json &j) {
  j["header"]["FlashTypeCode"] = 1;
  j["header"]["PECycleCount"] = 30000;
  j["header"]["CID"] = "03 53 44 53 43 33 32 47 80 12 34 56 78 00 F3 01";
}

} // namespace

class CardValues : public AcquisitionTest {};

TEST_F(CardValues, AccessorsEqualWhatTheCardDefines) {
  const CardCase cases[] = {
      {"usb reader card", "usb.json", Unchanged},
      {"native host card", "native.json", Unchanged},
      {"standard-capacity native card", "native_sdsc.json", Unchanged},
      {"usb card, offset and statuses", "usb.json", OffsetAndStatuses},
      {"native card, pSLC naming", "native.json", PseudoSlc},
  };
  for (const CardCase &c : cases) {
    SCOPED_TRACE(c.what);
    Json json = LoadCardJson(c.file);
    c.edit(json);
    sdsim::Card &card = AttachCard(json);
    Name(card);
    const Sector before = card.ReadSector(0);

    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    EXPECT_EQ(GetErrorCode(), 0);
    EXPECT_STREQ(GetErrorMessage(), "");
    EXPECT_FALSE(card.InSpecialMode());
    EXPECT_EQ(card.ReadSector(0), before);

    // Select 5: the last header read is the run-time one.
    ExpectAccessorsMatchCard(card, card.HeaderSector(3), kVendor);
    EXPECT_EQ(Table(true), ExpectedEraseCounts(card));
    EXPECT_TRUE(Table(false).empty()) << "read counts were not asked for";
    const unsigned offset = Be16(card.HeaderSector(1), 144);
    if (offset != 0) {
      // The card must exercise both sides of the 100000 rule.
      unsigned lifted = 0, kept = 0;
      for (auto v : card.EraseCounts())
        if (v != 0xFFFE)
          (v + offset <= 100000 ? lifted : kept) += 1;
      EXPECT_GT(lifted, 0u);
      EXPECT_GT(kept, 0u);
    }

    // A few fields straight from the card file as well, so a header the
    // card builds wrongly cannot agree with itself unnoticed.
    const Json &h = json["header"];
    if (h.contains("PowerCycleCount")) {
      EXPECT_EQ(GetPowerCycleCount(), h["PowerCycleCount"].get<unsigned>());
    }
    if (h.contains("TotalVBCount")) {
      EXPECT_EQ(GetTotalVBCountOfFlash(), h["TotalVBCount"].get<unsigned>());
    }
    if (h.contains("HWVersion")) {
      EXPECT_EQ(std::string(GetHWVersion()), h["HWVersion"].get<std::string>());
    }
    if (h.contains("ClientMark")) {
      EXPECT_EQ(std::string(GetClientMark()), h["ClientMark"].get<std::string>());
    }
    sdsim::DetachAll();
  }
}

TEST_F(CardValues, ReadCountsOfBothFormatsEqualTheCardsReads) {
  // usb.json carries native read counts (units of 255 reads), native.json
  // global ones (pairs plus a remainder byte: the exact number of reads).
  for (const char *file : {"usb.json", "native.json"}) {
    SCOPED_TRACE(file);
    sdsim::Card &card = AttachCard(LoadCardJson(file));
    Name(card);
    _FuncSel = 2;
    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    const bool global = card.HeaderSector(2).at(94) != 0;
    EXPECT_EQ(global, std::string(file) == "native.json");
    std::vector<unsigned> expected;
    for (auto reads : card.ReadCounts()) {
      if (reads == 0xFFFFFFFF)
        expected.push_back(0xFFFFE);
      else if (global)
        expected.push_back(reads);
      else
        expected.push_back(reads / 255 * 255);
    }
    EXPECT_EQ(Table(false), expected);
    EXPECT_TRUE(Table(true).empty()) << "erase counts were not asked for";
    ExpectAccessorsMatchCard(card, card.HeaderSector(2), kVendor, /*eraseTable=*/false);
    sdsim::DetachAll();
  }
}
