// The special-mode command channel: the patterns it writes to sector 0 and the
// size checks of its sector transfers.
#include "sim_fixture.h"

#include <array>
#include <functional>

using namespace smarttest;
using sdsim::Transfer;

namespace {

using Bytes = std::array<std::uint8_t, 512>;

Bytes EnterPattern(const std::string &e, bool v3) {
  Bytes p{};
  for (int i = 0; i < 8; ++i) {
    p[i] = static_cast<std::uint8_t>(e[i]);
    p[255 - i] = static_cast<std::uint8_t>(e[i]);
  }
  p[256] = 0x02, p[257] = 0x01;
  if (v3)
    p[268] = 0xDE, p[269] = 0xAD, p[270] = 0xBE, p[271] = 0xEF;
  p[510] = 0x01, p[511] = 0x02;
  return p;
}

Bytes LeavePattern(const std::string &e) {
  Bytes p{};
  for (int i = 0; i < 8; ++i) {
    p[7 - i] = static_cast<std::uint8_t>(e[i]);
    p[248 + i] = static_cast<std::uint8_t>(e[i]);
  }
  p[256] = 0x02, p[262] = 0x01, p[263] = 0x02;
  p[504] = 0x02, p[505] = 0x01;
  return p;
}

std::vector<Transfer> Writes(const sdsim::Card &card) {
  std::vector<Transfer> out;
  for (const auto &t : SectorTransfers(card))
    if (t.op == "write")
      out.push_back(t);
  return out;
}

} // namespace

class Channel : public SimTest {};

TEST_F(Channel, EnterAndLeavePatternsReachSectorZero) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  card.ClearTranscript();

  a.channel->EnterSpecialMode2(0, 2);
  EXPECT_EQ(card.ReadSector(0), EnterPattern(kEntry, false));
  EXPECT_EQ(card.SpecialModeVersion(), 2);
  a.channel->LeaveSpecialMode2(0);
  EXPECT_EQ(card.ReadSector(0), LeavePattern(kEntry));

  a.channel->EnterSpecialMode2(0, 3);
  EXPECT_EQ(card.ReadSector(0), EnterPattern(kEntry, true));
  EXPECT_EQ(card.SpecialModeVersion(), 3);
  card.ClearTranscript();
  a.channel->LeaveSpecialMode2(0);
  // The enter pattern of the last enter (marker included), then the leave.
  EXPECT_EQ(Writes(card), (std::vector<Transfer>{W("enter v3"), W("leave")}));
  EXPECT_EQ(card.ReadSector(0), LeavePattern(kEntry));
  EXPECT_FALSE(card.InSpecialMode());
}

TEST_F(Channel, EveryWriteMethodWritesOneSectorZero) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  for (unsigned method : {0u, 1u, 2u, 7u}) {
    card.ClearTranscript();
    a.channel->EnterSpecialMode2(method, 2);
    a.channel->LeaveSpecialMode2(method);
    EXPECT_EQ(Writes(card), (std::vector<Transfer>{W("enter v2"), W("enter v2"), W("leave")}))
        << "method " << method;
  }
}

TEST_F(Channel, ShortEntryStringIsPaddedWithZeroBytes) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  a.channel->SetEntryPattern(L"AB");
  Bulk<unsigned char> pattern(512);
  a.channel->CreateMode2LeavePattern(pattern);
  EXPECT_EQ(std::memcmp(pattern.Data(), LeavePattern(std::string("AB\0\0\0\0\0\0", 8)).data(), 512),
            0);

  Bulk<unsigned char> small(256);
  std::memset(small.Data(), 0xA5, 256);
  a.channel->CreateMode2EnterPattern(small);
  a.channel->CreateMode2LeavePattern(small);
  for (unsigned i = 0; i < 256; ++i)
    ASSERT_EQ(small[i], 0xA5) << i;
}

TEST_F(Channel, SectorTransfersMoveWholeSectors) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  std::vector<unsigned char> buf(1024);
  card.ClearTranscript();
  a.channel->Cmd18(5, buf.data(), 1024);
  a.channel->Cmd25(9, buf.data(), 1536 - 512);
  a.channel->Cmd27(11, buf.data(), 512);
  EXPECT_EQ(SectorTransfers(card),
            (std::vector<Transfer>{
                {"read", 5, 2, "data"}, {"write", 9, 2, "data"}, {"write", 11, 1, "data"}}));
}

TEST_F(Channel, BufferSizesAreCheckedBeforeTheCard) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  std::vector<unsigned char> buf(2048);
  struct Case {
    const char *what;
    std::function<void()> call;
    const wchar_t *text;
  };
  CSpecialMode2Cmd &c = *a.channel;
  const Case cases[] = {
      {"read 511", [&] { c.Cmd18(0, buf.data(), 511); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 289"},
      {"read 513", [&] { c.Cmd18(0, buf.data(), 513); },
       L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 292"},
      {"write 511", [&] { c.Cmd25(0, buf.data(), 511); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 259"},
      {"write 513", [&] { c.Cmd25(0, buf.data(), 513); },
       L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 262"},
      {"write 0", [&] { c.Cmd25(buf.data(), 0); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 259"},
      {"single 1024", [&] { c.Cmd27(0, buf.data(), 1024); },
       L"[Error] : Buffer size < 512 at SpecialMode2Cmd, Line = 251"},
  };
  card.ClearTranscript();
  for (const Case &k : cases) {
    try {
      k.call();
      ADD_FAILURE() << k.what << ": no error";
    } catch (const CError &e) {
      EXPECT_EQ(e.GetCode(), 45056) << k.what;
      EXPECT_EQ(e.GetText(), k.text) << k.what;
    }
  }
  EXPECT_TRUE(SectorTransfers(card).empty()) << "nothing reached the card";
}
