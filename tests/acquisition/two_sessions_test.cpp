// SPDX-License-Identifier: MIT
// Two card sessions in one process: a card behind a USB reader and a card on
// a native SD host, read in turn, each through its own session. Nothing
// process-wide may pick the drive: after the other session has run, each
// session's channel still reaches its own card.
#include "acquisition_support.h"

#include "interface/card_session.h"
#include "sdsmart/convert.h"
#include "sdsmart/special_mode2_cmd.h"

#include <memory>

using namespace sdtest;

namespace {

class TwoSessions : public AcquisitionTest {
protected:
  std::unique_ptr<CCardSession> Open(const sdsim::Card &card) {
    auto s = std::make_unique<CCardSession>(card.Node(), TransportOfNode(card.Node()));
    s->Entry = ToWideString(kEntry);
    s->ConfigPath = ToWideString(File("config"));
    s->JournalDirectory = ""; // no journal
    return s;
  }
};

struct Side {
  sdsim::Card *card;
  std::unique_ptr<CCardSession> session;
  Identity id;
  Sector sector0;
};

void ExpectOwnCard(const Side &side) {
  const CCardResults &r = side.session->Results;
  const Bytes h = side.card->HeaderSector(3); // select 5: run-time bad blocks last
  EXPECT_EQ(r.FlashId, side.id.flashId);
  EXPECT_EQ(r.FlashType, side.id.flashType);
  EXPECT_EQ(static_cast<unsigned>(r.Header.TotalVBCount), Be32(h, 78));
  EXPECT_EQ(static_cast<unsigned>(r.Header.PowerCycleCount), Be32(h, 65));
  EXPECT_EQ(r.EraseCounts, ExpectedEraseCounts(*side.card));
  EXPECT_EQ(r.EccUncorrectable, ExpectedEccErrors(*side.card));
  EXPECT_FALSE(side.card->InSpecialMode());
  EXPECT_EQ(side.card->ReadSector(0), side.sector0);
}

} // namespace

TEST_F(TwoSessions, EachSessionReadsItsOwnCardWhateverTheOtherDid) {
  Side sides[] = {{&AttachCard(LoadCardJson("usb.json")), nullptr, kUsbIdentity, {}},
                  {&AttachCard(LoadCardJson("native.json")), nullptr, kNativeIdentity, {}}};
  ASSERT_NE(TransportOfNode(sides[0].card->Node()), TransportOfNode(sides[1].card->Node()));
  ASSERT_NE(sides[0].card->EraseCounts(), sides[1].card->EraseCounts());
  for (Side &side : sides) {
    side.session = Open(*side.card);
    side.sector0 = side.card->ReadSector(0);
  }

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
