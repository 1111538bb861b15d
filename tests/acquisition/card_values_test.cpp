// SPDX-License-Identifier: MIT
// Every value and identity accessor after a successful GetSmartInfo, written
// down per card in golden files (regenerated as support.h says, with
// --gtest_filter='CardValues.*').
#include "virtual_card.h"

using namespace sdtest;

namespace {

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

// tests/data/accessors/NAME.txt: what each accessor answers after a run of
// select 5 (the last header read is the run-time one).
TEST_F(CardValues, AccessorsAnswerWhatTheCardHolds) {
  const std::tuple<const char *, const char *, void (*)(Json &)> cases[] = {
      {"usb", "usb.json", Unchanged},
      {"native", "native.json", Unchanged},
      {"native-sdsc", "native_sdsc.json", Unchanged},
      {"usb-offset-and-statuses", "usb.json", OffsetAndStatuses},
      {"native-pslc-naming", "native.json", PseudoSlc},
  };
  for (const auto &[name, file, edit] : cases) {
    SCOPED_TRACE(name);
    Json json = LoadCardJson(file);
    edit(json);
    sdsim::Card &card = AttachNamed(json);
    const Sector before = card.ReadSector(0);

    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    EXPECT_EQ(GetErrorCode(), SDSMART_E_NONE);
    EXPECT_STREQ(GetErrorMessage(), "");
    EXPECT_FALSE(card.InSpecialMode());
    EXPECT_EQ(card.ReadSector(0), before);
    ExpectGolden("accessors/" + std::string(name) + ".txt", AccessorReport());
    sdsim::DetachAll();
  }
}

// usb.json carries native read counts (units of 255 reads), native.json
// global ones (pairs plus a remainder byte: the exact number of reads).
TEST_F(CardValues, ReadCountsOfBothFormats) {
  for (const char *name : {"usb", "native"}) {
    AttachNamed(LoadCardJson(name + std::string(".json")));
    _FuncSel = 2;
    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    ExpectGolden("accessors/" + std::string(name) + "-read-counts.txt", AccessorReport());
    sdsim::DetachAll();
  }
}
