// SPDX-License-Identifier: MIT
// Every value and identity accessor after a successful GetSmartInfo equals
// what the card defines: numbers come from the headers and tables the
// virtual card serves, composed texts are written down per card.
#include "acquisition_support.h"

using namespace sdtest;

namespace {

struct CardCase {
  const char *what;
  const char *file;
  void (*edit)(Json &); // changes to the shipped card, applied before it is attached
  Identity id;
};

void Unchanged(Json &) {}

// An erase-count offset that is added to some VBs and not to those it would
// lift past 100000, run-time statuses whose low byte is 2 without being 2,
// a write-protect status, and a TLC card rated for many cycles.
void OffsetAndStatuses(Json &j) {
  j["header"]["EraseCountOffset"] = 65000;
  j["erase_counts"] = {
      {"generate", {{"seed", 3}, {"mean", 35000}, {"spread", 400}, {"unused", 0.02}}}};
  j["header"]["WPStatus"] = 1;
  j["header"]["PECycleCount"] = 40000;
  std::vector<unsigned> statuses(64, 0);
  statuses[1] = statuses[20] = 2;
  statuses[7] = 0x0102;
  statuses[9] = 0x0202;
  statuses[33] = 1;
  j["runtime_status"] = statuses;
}

// An MLC maker whose type name is refined by the cycle count.
void PseudoSlc(Json &j) {
  j["header"]["FlashTypeCode"] = 1;
  j["header"]["PECycleCount"] = 30000;
  j["header"]["CID"] = "03 53 44 53 43 33 32 47 80 12 34 56 78 00 F3 01";
}

} // namespace

class CardValues : public AcquisitionTest {};

TEST_F(CardValues, AccessorsEqualWhatTheCardDefines) {
  const CardCase cases[] = {
      {"usb reader card", "usb.json", Unchanged, kUsbIdentity},
      {"native host card", "native.json", Unchanged, kNativeIdentity},
      {"standard-capacity native card",
       "native_sdsc.json",
       Unchanged,
       {"98 3A 98 A3 76 51 ", "15nm TLC", "6437.7.3.12", "March 2025"}},
      {"usb card, offset and statuses",
       "usb.json",
       OffsetAndStatuses,
       {"98 3A 98 A3 76 51 ", "15nm TLC sTLC", "6459.7.3.12", "March 2025"}},
      {"native card, pSLC naming",
       "native.json",
       PseudoSlc,
       {"45 DE 94 93 76 51 ", "19nm sMLC", "6461.7.2.7", "March 2015"}},
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
    ExpectAccessorsMatchCard(card, card.HeaderSector(3), c.id);
    EXPECT_EQ(Table(true), ExpectedEraseCounts(card));
    EXPECT_TRUE(Table(false).empty()) << "read counts were not asked for";
    // A few fields straight from the card file, so that a header the card
    // builds wrongly cannot agree with itself unnoticed.
    const Json &h = json["header"];
    EXPECT_EQ(GetPowerCycleCount(), h.value("PowerCycleCount", GetPowerCycleCount()));
    EXPECT_EQ(GetTotalVBCountOfFlash(), h["TotalVBCount"].get<unsigned>());
    EXPECT_EQ(std::string(GetHWVersion()), h["HWVersion"].get<std::string>());
    const unsigned offset = Be16(card.HeaderSector(1), 144);
    if (offset != 0) { // the card must exercise both sides of the 100000 rule
      unsigned lifted = 0, kept = 0;
      for (auto v : card.EraseCounts())
        if (v != 0xFFFE)
          (v + offset <= 100000 ? lifted : kept) += 1;
      EXPECT_GT(lifted, 0u);
      EXPECT_GT(kept, 0u);
      EXPECT_EQ(GetECCUncorrectableCount(), 2u);
    }
    sdsim::DetachAll();
  }
}

TEST_F(CardValues, ReadCountsOfBothFormatsEqualTheCardsReads) {
  // usb.json carries native read counts (units of 255 reads), native.json
  // global ones (pairs plus a remainder byte: the exact number of reads).
  for (bool global : {false, true}) {
    sdsim::Card &card = AttachCard(LoadCardJson(global ? "native.json" : "usb.json"));
    Name(card);
    _FuncSel = 2;
    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    ASSERT_EQ(card.HeaderSector(2).at(94) != 0, global);
    std::vector<unsigned> expected;
    for (auto reads : card.ReadCounts())
      expected.push_back(reads == 0xFFFFFFFF ? 0xFFFFE : global ? reads : reads / 255 * 255);
    EXPECT_EQ(Table(false), expected);
    EXPECT_TRUE(Table(true).empty()) << "erase counts were not asked for";
    ExpectAccessorsMatchCard(card, card.HeaderSector(2), global ? kNativeIdentity : kUsbIdentity,
                             /*eraseTable=*/false);
    sdsim::DetachAll();
  }
}
