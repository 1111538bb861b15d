// The special-mode command channel: the patterns it writes to sector 0 and the
// size checks of its sector transfers.
#include "sim_fixture.h"

#include <array>
#include <functional>

using namespace smarttest;

namespace {

using Bytes = std::array<std::uint8_t, 512>;

Bytes EnterPattern(const std::string &e, bool v3) {
  Bytes p{};
  for (int i = 0; i < 8; ++i)
    p[i] = p[255 - i] = static_cast<std::uint8_t>(e[i]);
  p[256] = 0x02, p[257] = 0x01;
  if (v3)
    p[268] = 0xDE, p[269] = 0xAD, p[270] = 0xBE, p[271] = 0xEF;
  p[510] = 0x01, p[511] = 0x02;
  return p;
}

Bytes LeavePattern(const std::string &e) {
  Bytes p{};
  for (int i = 0; i < 8; ++i)
    p[7 - i] = p[248 + i] = static_cast<std::uint8_t>(e[i]);
  p[256] = 0x02, p[262] = 0x01, p[263] = 0x02;
  p[504] = 0x02, p[505] = 0x01;
  return p;
}

} // namespace

class Channel : public SimTest {
protected:
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  std::unique_ptr<Acquisition> a = std::make_unique<Acquisition>(card, 2);
  CSpecialMode2Cmd &c = *a->channel;
  void TearDown() override {
    a.reset(); // closes the drive while the card is still attached
    SimTest::TearDown();
  }
};

TEST_F(Channel, EnterAndLeavePatternsReachSectorZero) {
  c.EnterSpecialMode2(0, 2);
  EXPECT_EQ(card.ReadSector(0), EnterPattern(kEntry, false));
  EXPECT_EQ(card.SpecialModeVersion(), 2);
  c.LeaveSpecialMode2(0);
  EXPECT_EQ(card.ReadSector(0), LeavePattern(kEntry));

  c.EnterSpecialMode2(0, 3);
  EXPECT_EQ(card.ReadSector(0), EnterPattern(kEntry, true));
  EXPECT_EQ(card.SpecialModeVersion(), 3);
  card.ClearTranscript();
  c.LeaveSpecialMode2(0);
  // The enter pattern of the last enter (marker included), then the leave.
  EXPECT_EQ(DataEvents(card), (Seq{W("enter v3"), W("leave")}));
  EXPECT_EQ(card.ReadSector(0), LeavePattern(kEntry));
  EXPECT_FALSE(card.InSpecialMode());

  for (unsigned method : {0u, 1u, 2u, 7u}) { // every write method writes one sector 0
    card.ClearTranscript();
    c.EnterSpecialMode2(method, 2);
    c.LeaveSpecialMode2(method);
    EXPECT_EQ(DataEvents(card), (Seq{W("enter v2"), W("enter v2"), W("leave")})) << method;
  }
}

TEST_F(Channel, ShortEntryStringIsPaddedAndShortBuffersAreLeftAlone) {
  c.SetEntryPattern(L"AB");
  Bulk<unsigned char> pattern(512);
  c.CreateMode2LeavePattern(pattern);
  EXPECT_EQ(std::memcmp(pattern.Data(), LeavePattern(std::string("AB\0\0\0\0\0\0", 8)).data(), 512),
            0);
  Bulk<unsigned char> small(256);
  std::memset(small.Data(), 0xA5, 256);
  c.CreateMode2EnterPattern(small);
  c.CreateMode2LeavePattern(small);
  for (unsigned i = 0; i < 256; ++i)
    ASSERT_EQ(small[i], 0xA5) << i;
}

// Whole sectors move; any other size is refused before it reaches the card.
TEST_F(Channel, SectorTransfersMoveWholeSectorsOnly) {
  std::vector<unsigned char> buf(2048);
  card.ClearTranscript();
  c.Cmd18(5, buf.data(), 1024);
  c.Cmd25(9, buf.data(), 1024);
  c.Cmd27(11, buf.data(), 512);
  struct Case {
    std::function<void()> call;
    const wchar_t *text;
  };
  const Case cases[] = {
      {[&] { c.Cmd18(0, buf.data(), 511); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 289"},
      {[&] { c.Cmd18(0, buf.data(), 513); },
       L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 292"},
      {[&] { c.Cmd25(0, buf.data(), 511); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 259"},
      {[&] { c.Cmd25(0, buf.data(), 513); },
       L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 262"},
      {[&] { c.Cmd25(buf.data(), 0); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 259"},
      {[&] { c.Cmd27(0, buf.data(), 1024); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 251"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    try {
      cases[i].call();
      ADD_FAILURE() << "case " << i << ": no error";
    } catch (const CError &e) {
      EXPECT_EQ(e.GetCode(), 45056) << i;
      EXPECT_EQ(e.GetText(), cases[i].text) << i;
    }
  }
  EXPECT_EQ(DataEvents(card),
            (Seq{{"read", 5, 2, "data"}, {"write", 9, 2, "data"}, {"write", 11, 1, "data"}}));
}
