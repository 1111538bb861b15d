// SPDX-License-Identifier: MIT
// The direct (version 2) method at the reader level. Whole acquisitions of
// every function select are checked transfer by transfer in the acquisition
// area; here what that cannot reach or does not show.
#include "virtual_card.h"

#include <tuple>

using namespace sdtest;

namespace {

const Seq kLeave = {W0("enter v2"), W0("leave")};
Seq Tail(const Seq &s, size_t n) { return Seq(s.end() - std::min(n, s.size()), s.end()); }

} // namespace

class DirectMethod : public CardTest {};

// The PMT page's header is checked like the tables' (those are checked end to
// end in the acquisition area): no poll, no clean, and the card is left.
TEST_F(DirectMethod, DamagedPmtHeaderFailsAfterLeaving) {
  for (auto [fault, code, text] :
       {std::tuple{sdsim::FaultKind::WrongDetailType, SDSMART_E_DETAIL_TYPE_MISMATCH,
                   L"Type to indicated detail data is mismatched."},
        std::tuple{sdsim::FaultKind::BadSignature, SDSMART_E_SMART_CONTENTS,
                   L"Incorrect S.M.A.R.T contents."}}) {
    sdsim::Card &card = Attach(CardJson("/dev/sdx"));
    const Outcome o = RunReader(card, 2, 8, &fault);
    EXPECT_EQ(o.code, code);
    EXPECT_EQ(o.text, text);
    EXPECT_EQ(o.seen, (Seq{W0("enter v2"), R(16, "header 16"), W0("enter v2"), W0("leave")}))
        << Describe(o.seen);
    EXPECT_EQ(card.PmtCleanCount(), 0u);
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, BusyWaitIsBounded) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  // Select 1: enter, enter + leave, enter, then the header answers busy for ever.
  const sdsim::FaultKind busy = sdsim::FaultKind::BusyForever;
  const Outcome o = RunReader(card, 2, 1, &busy, 4);
  EXPECT_EQ(o.code, -1);
  EXPECT_EQ(o.text, L"Header is busy.");
  ASSERT_EQ(o.seen.size(), 4u + 5001u + 2u);
  EXPECT_EQ(Seq(o.seen.begin() + 4, o.seen.begin() + 4 + 5001), Seq(5001, R(1, "header 1")));
  EXPECT_EQ(Tail(o.seen, 2), kLeave);
}

TEST_F(DirectMethod, UnknownSmartVersionTouchesNothing) {
  const Outcome o = RunReader(Attach(CardJson("/dev/sdx")), 4, 5);
  EXPECT_EQ(o.code, -1);
  EXPECT_EQ(o.text, L"Smart Version 4 is not correct");
  EXPECT_TRUE(o.seen.empty());
}

// The global read-count format is sparse: 8192 VBs with one index/value pair
// and one remainder sector. VBs no pair names keep "no count"; the remainder
// byte of VB v is byte v mod 512.
TEST_F(DirectMethod, GlobalReadCountsOfManyVBsFromOnePairAndOneRemainderSector) {
  const std::map<unsigned, unsigned> reads = {
      {3, 2 * 255 + 10}, {600, 7 * 255 + 5}, {8191, 100 * 255 + 200}};
  Json values = Json::array();
  for (unsigned v = 0; v < 8192; ++v)
    values.push_back(reads.count(v) ? Json(reads.at(v)) : Json());
  sdsim::Card &card = Attach(CardJson(
      "/dev/sdx",
      {{"read_counts", {{"format", "global"}, {"remainder_sectors", 1}, {"values", values}}}},
      8192));
  const Outcome o = RunReader(card, 2, 2);
  ASSERT_EQ(o.code, 0) << Describe(o.seen);
  EXPECT_TRUE(o.global);
  std::vector<unsigned> expected(8192, 0xFFFFE);
  for (const auto &[vb, count] : reads)
    expected[vb] = count;
  EXPECT_EQ(o.reads, expected);
  EXPECT_TRUE(Contains(o.seen, "detail 2 2")) << "the remainder sector follows the one pair";
}
