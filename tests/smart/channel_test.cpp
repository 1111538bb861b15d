// SPDX-License-Identifier: MIT
// The special-mode command channel's sector transfers: whole sectors only.
// (Its patterns are checked by the card in every device-path test.)
#include "virtual_card.h"

#include <functional>

using namespace sdtest;

class Channel : public CardTest {
protected:
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  std::unique_ptr<Acquisition> a = std::make_unique<Acquisition>(card, 2);
  CSpecialMode2Cmd &c = *a->channel;
  void TearDown() override {
    a.reset(); // closes the drive while the card is still attached
    CardTest::TearDown();
  }
};

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
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(CatchError(cases[i].call), (Caught{SDSMART_E_BUFFER_SIZE, cases[i].text})) << i;
  EXPECT_EQ(DataEvents(card.Transcript()),
            (Seq{{"read", 5, 2, "data"}, {"write", 9, 2, "data"}, {"write", 11, 1, "data"}}));
}
