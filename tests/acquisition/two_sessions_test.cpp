// SPDX-License-Identifier: MIT
// Two card sessions in one process: a card behind a USB reader and a card on
// a native SD host, read in turn, each through its own session. Nothing
// process-wide may pick the drive: after the other session has run, each
// session's channel still reaches its own card.
#include "virtual_card.h"

#include "interface/card_session.h"

using namespace sdtest;

namespace {

// What one card alone gives through the documented interface.
struct Alone {
  std::vector<unsigned> erase;
  unsigned ecc = 0, vbs = 0, powerCycles = 0;
  std::string flashId, flashType;
};

struct Side {
  sdsim::Card *card;
  std::unique_ptr<CCardSession> session;
  Alone alone;
  Sector sector0;
};

class TwoSessions : public AcquisitionTest {
protected:
  std::unique_ptr<CCardSession> Open(const sdsim::Card &card) {
    auto s = std::make_unique<CCardSession>(card.Node(), TransportOfNode(card.Node()));
    s->Entry = ToWideString(kEntry);
    s->ConfigPath = ToWideString(File("config"));
    s->JournalDirectory = ""; // no journal
    return s;
  }
  Alone ReadAlone(const sdsim::Card &card) {
    Name(card);
    EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    Alone a{Table(true),
            GetECCUncorrectableCount(),
            GetTotalVBCountOfFlash(),
            GetPowerCycleCount(),
            GetFlashID(),
            GetFlashType()};
    ResetSession();
    return a;
  }
};

void ExpectOwnCard(const Side &side) {
  const CCardResults &r = side.session->Results;
  EXPECT_EQ(r.FlashId, side.alone.flashId);
  EXPECT_EQ(r.FlashType, side.alone.flashType);
  EXPECT_EQ(static_cast<unsigned>(r.Header.TotalVBCount), side.alone.vbs);
  EXPECT_EQ(static_cast<unsigned>(r.Header.PowerCycleCount), side.alone.powerCycles);
  EXPECT_EQ(r.EraseCounts, side.alone.erase);
  EXPECT_EQ(r.EccUncorrectable, side.alone.ecc);
  EXPECT_FALSE(side.card->InSpecialMode());
  EXPECT_EQ(side.card->ReadSector(0), side.sector0);
}

} // namespace

TEST_F(TwoSessions, EachSessionReadsItsOwnCardWhateverTheOtherDid) {
  Side sides[] = {{&Attach(LoadCardJson("usb.json")), nullptr, {}, {}},
                  {&Attach(LoadCardJson("native.json")), nullptr, {}, {}}};
  ASSERT_NE(TransportOfNode(sides[0].card->Node()), TransportOfNode(sides[1].card->Node()));
  for (Side &side : sides) {
    side.alone = ReadAlone(*side.card);
    side.session = Open(*side.card);
    side.sector0 = side.card->ReadSector(0);
  }
  ASSERT_NE(sides[0].alone.erase, sides[1].alone.erase);
  ASSERT_NE(sides[0].alone.flashId, sides[1].alone.flashId);

  for (int round = 0; round < 2; ++round)
    for (Side &side : sides) {
      SCOPED_TRACE(side.card->Node() + " round " + std::to_string(round));
      ASSERT_NO_THROW(side.session->Acquire());
      ExpectOwnCard(side);
      // The other session's channel, built before this run, still reaches
      // its own card.
      Side &other = &side == &sides[0] ? sides[1] : sides[0];
      if (other.session->Channel) {
        Sector seen{};
        other.session->Channel->Cmd18(0, seen.data(), seen.size());
        EXPECT_EQ(seen, other.sector0);
      }
    }
  // Nothing of either run reached the record the exported interface shows.
  EXPECT_TRUE(_EraseCount.empty());
  EXPECT_EQ(_UsbDrive, nullptr);
  EXPECT_EQ(_MmcDrive, nullptr);
}
