// The direct (version 2) method against the virtual card: exact transfer
// sequences, busy answers, cancellation and damaged headers.
#include "sim_fixture.h"

#include <gmock/gmock.h>

#include <thread>

using namespace smarttest;
using sdsim::Transfer;

namespace {

using Seq = std::vector<Transfer>;

void Add(Seq &s, const Seq &more) { s.insert(s.end(), more.begin(), more.end()); }
Seq Enter() { return {W("enter v2")}; }
Seq Leave() { return {W("enter v2"), W("leave")}; }
Seq Header(unsigned t, unsigned times = 1) {
  return Seq(times, R(t, "header " + std::to_string(t)));
}
Seq Details(unsigned t, unsigned n, unsigned firstTimes = 1) {
  Seq s;
  for (unsigned k = 0; k < n; ++k)
    for (unsigned i = 0; i < (k == 0 ? firstTimes : 1); ++i)
      s.push_back(
          R(256 * (k + 1) + 128 + t, "detail " + std::to_string(t) + " " + std::to_string(k)));
  return s;
}

std::vector<unsigned> ExpectedErase(const sdsim::Card &card, unsigned offset) {
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : (v + offset <= 100000 ? v + offset : v));
  return out;
}

unsigned EccErrors(const sdsim::Card &card) {
  unsigned n = 0;
  for (auto v : card.RuntimeStatus())
    n += v == 2;
  return n;
}

// Packed header fields are copied before comparison.
template <typename T> T V(T v) { return v; }

} // namespace

class DirectMethod : public SimTest {};

TEST_F(DirectMethod, SelectFiveReadsExactlyTheDocumentedSequence) {
  for (const char *node : {"/dev/sdx", "/dev/mmcblk7"}) {
    SCOPED_TRACE(node);
    sdsim::Card &card = Attach(CardJson(node,
                                        "\"busy\": {\"header\": 2}, \"runtime_status\": "
                                        "{\"generate\": {\"ecc_errors\": 5, \"other\": 3}}",
                                        "\"EraseCountOffset\": 7, \"WPStatus\": 4"));
    Acquisition a(card, 2);
    card.ClearTranscript();
    ASSERT_EQ(a.Execute(5), 0);

    Seq expected;
    Add(expected, Enter());
    Add(expected, Leave());
    Add(expected, Enter());
    Add(expected, Header(1, 3));
    Add(expected, Details(1, 2));
    Add(expected, Leave());
    Add(expected, Enter());
    Add(expected, Header(3, 3));
    Add(expected, Details(3, 2));
    Add(expected, Leave());
    const Seq seen = SectorTransfers(card);
    EXPECT_EQ(seen, expected) << Describe(seen);
    EXPECT_FALSE(card.InSpecialMode());

    EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card, 7));
    EXPECT_EQ(a.reader->GetECCUncorrectableCnt(), EccErrors(card));
    ASSERT_EQ(a.reader->GetRuntimeBadStatus().size(), 300u);
    EXPECT_TRUE(a.reader->GetDetailReadCount().empty()) << "not requested";
    EXPECT_EQ(V(a.reader->GetHeader()->DetailType), 3);
    EXPECT_EQ(V(a.reader->GetHeader()->WPStatus), 4);
    EXPECT_EQ(a.reader->GetWPStatus(), 4);
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, EachFunctionSelectReadsItsPages) {
  struct Case {
    const char *what;
    unsigned char select;
    std::string extra;
    Seq expected;
    std::string header = "";
  };
  const std::string global =
      "\"read_counts\": {\"format\": \"global\", \"generate\": {\"none\": 0.2}}";
  // 300 entries: 2 sectors per table; the global format names 240 or so VBs
  // (one pair) and adds one remainder sector.
  std::vector<Case> cases;
  {
    Seq s = Enter();
    Add(s, Header(0));
    Add(s, Leave());
    cases.push_back({"header only", 0, "", s});
  }
  {
    Seq s = Enter();
    Add(s, Leave());
    Add(s, Enter());
    Add(s, Header(1));
    Add(s, Details(1, 2));
    Add(s, Leave());
    cases.push_back({"erase counts", 1, "", s});
    // 300 entries announced through the one-byte count (the wide one 0xFFFF).
    cases.push_back(
        {"erase counts, short sector count", 1, "", s, "\"UseDetailSectorCountEx\": false"});
  }
  {
    Seq s = Enter();
    Add(s, Header(2));
    Add(s, Details(2, 2));
    Add(s, Leave());
    cases.push_back({"native read counts", 2, "", s});
    Seq g = Enter();
    Add(g, Header(2));
    Add(g, Details(2, 3)); // index, value, remainder
    Add(g, Leave());
    cases.push_back({"global read counts", 2, global, g});
  }
  {
    Seq s = Enter();
    Add(s, Header(3));
    Add(s, Details(3, 2));
    Add(s, Leave());
    cases.push_back({"run-time bad blocks", 4, "", s});
  }
  {
    Seq s = Enter();
    Add(s, Leave());
    Add(s, Enter());
    Add(s, Header(1));
    Add(s, Details(1, 2));
    Add(s, Leave());
    Add(s, Enter());
    Add(s, Header(2));
    Add(s, Details(2, 2));
    Add(s, Leave());
    Add(s, Enter());
    Add(s, Header(3));
    Add(s, Details(3, 2));
    Add(s, Leave());
    cases.push_back({"all three, PMT bit ignored", 15, "", s});
  }

  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", c.extra, c.header));
    Acquisition a(card, 2);
    card.ClearTranscript();
    ASSERT_EQ(a.Execute(c.select), 0);
    const Seq seen = SectorTransfers(card);
    EXPECT_EQ(seen, c.expected) << Describe(seen);
    EXPECT_FALSE(card.InSpecialMode());
    if (c.select & 2) {
      std::vector<unsigned> expected;
      for (auto r : card.ReadCounts()) {
        if (r == 0xFFFFFFFF)
          expected.push_back(0xFFFFEu);
        else if (c.extra.empty())
          expected.push_back(std::min(r / 255, 0xFFFDu) * 255);
        else
          expected.push_back(r); // pair value x 255 plus the remainder byte
      }
      EXPECT_EQ(a.reader->GetDetailReadCount(), expected);
      EXPECT_EQ(a.reader->IsGlobalReadCount(), !c.extra.empty());
    }
    if (c.select & 1) {
      EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card, 0));
    }
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, PmtCleanConfirmedAfterBusyPolls) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx", "\"busy\": {\"pmt\": 3}"));
  Acquisition a(card, 2);
  card.ClearTranscript();
  ASSERT_EQ(a.Execute(8), 0);
  Seq expected = Enter();
  Add(expected, Header(16));
  for (unsigned i = 0; i < 4; ++i)
    expected.push_back(R(256 * (i + 1) + 0x90, "pmt poll"));
  Add(expected, Leave());
  const Seq seen = SectorTransfers(card);
  EXPECT_EQ(seen, expected) << Describe(seen);
  EXPECT_EQ(card.PmtCleanCount(), 1u);
}

TEST_F(DirectMethod, PmtCleanNotConfirmedGivesUpAfter5000Polls) {
  // The last poll address, 256 x 5000 + 0x90, lies beyond a small card.
  std::string json = CardJson("/dev/sdx");
  json.replace(json.find("65536"), 5, "2000000");
  sdsim::Card &card = Attach(json);
  Acquisition a(card, 2);
  card.ClearTranscript();
  // enter, header 16, then every poll answers busy.
  card.SetFault(sdsim::FaultKind::BusyForever, card.TransferCount() + 2, 0);
  std::wstring text;
  EXPECT_EQ(a.Execute(8, &text), -1);
  EXPECT_EQ(text, L"Force Erase PMT Fail.");
  const Seq seen = SectorTransfers(card);
  ASSERT_EQ(seen.size(), 2u + 5000u + 2u);
  for (unsigned i = 0; i < 5000; ++i)
    ASSERT_EQ(seen[2 + i], R(256 * (i + 1) + 0x90, "pmt poll")) << i;
  EXPECT_EQ(Seq(seen.end() - 2, seen.end()), Leave());
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.PmtCleanCount(), 0u);
}

TEST_F(DirectMethod, WrongOrDamagedHeadersFailAfterLeaving) {
  struct Case {
    sdsim::FaultKind fault;
    unsigned char select;
    int64_t code;
    const wchar_t *text;
  };
  const Case cases[] = {
      {sdsim::FaultKind::WrongDetailType, 8, 0x3001,
       L"Type to indicated detail data is mismatched."},
      {sdsim::FaultKind::WrongDetailType, 1, 0x3001,
       L"Type to indicated detail data is mismatched."},
      {sdsim::FaultKind::BadSignature, 1, 0x3000, L"Incorrect S.M.A.R.T contents."},
  };
  for (const Case &c : cases) {
    sdsim::Card &card = Attach(CardJson("/dev/sdx"));
    Acquisition a(card, 2);
    card.ClearTranscript();
    card.SetFault(c.fault, 0, 0);
    std::wstring text;
    EXPECT_EQ(a.Execute(c.select, &text), c.code);
    EXPECT_EQ(text, c.text);
    if (c.fault == sdsim::FaultKind::WrongDetailType && c.select == 1) {
      EXPECT_EQ(V(a.reader->GetHeader()->DetailType), 3) << "the received header is kept";
    }
    const Seq seen = SectorTransfers(card);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(Seq(seen.end() - 2, seen.end()), Leave()) << Describe(seen);
    EXPECT_FALSE(card.InSpecialMode());
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, OldHeaderVersionsWaitOutABusyFirstDetailSector) {
  for (unsigned version : {0u, 1u}) {
    SCOPED_TRACE(version);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", "\"busy\": {\"first_detail\": 3}",
                                        "\"HeaderVersion\": " + std::to_string(version)));
    Acquisition a(card, 2);
    card.ClearTranscript();
    ASSERT_EQ(a.Execute(5), 0);
    Seq expected = Enter();
    Add(expected, Leave());
    Add(expected, Enter());
    Add(expected, Header(1));
    Add(expected, Details(1, 2, 4));
    Add(expected, Leave());
    Add(expected, Enter());
    Add(expected, Header(3));
    Add(expected, Details(3, 2, 4));
    Add(expected, Leave());
    const Seq seen = SectorTransfers(card);
    EXPECT_EQ(seen, expected) << Describe(seen);
    EXPECT_TRUE(a.reader->IsWaitFirstDetailBusy());
    EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card, 0));
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, BusyWaitIsBounded) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  card.ClearTranscript();
  // Select 1: enter, enter + leave, enter, then the header answers busy for ever.
  card.SetFault(sdsim::FaultKind::BusyForever, card.TransferCount() + 4, 0);
  std::wstring text;
  EXPECT_EQ(a.Execute(1, &text), -1);
  EXPECT_EQ(text, L"Header is busy.");
  const Seq seen = SectorTransfers(card);
  ASSERT_EQ(seen.size(), 4u + 5001u + 2u);
  EXPECT_EQ(Seq(seen.begin() + 4, seen.begin() + 4 + 5001), Header(1, 5001));
  EXPECT_EQ(Seq(seen.end() - 2, seen.end()), Leave());
  EXPECT_FALSE(card.InSpecialMode());
}

TEST_F(DirectMethod, CancelFromAnotherThreadStopsTheBusyWait) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  card.ClearTranscript();
  const uint64_t start = card.TransferCount();
  card.SetFault(sdsim::FaultKind::BusyForever, start + 4, 0);
  std::thread host([&] {
    while (card.TransferCount() < start + 50)
      std::this_thread::yield();
    __atomic_store_n(&a.terminated, true, __ATOMIC_SEQ_CST);
  });
  std::wstring text;
  const int64_t code = a.Execute(1, &text);
  host.join();
  EXPECT_EQ(code, 0x9000);
  EXPECT_EQ(text, L"User terminated");
  const Seq seen = SectorTransfers(card);
  EXPECT_LT(seen.size(), 4u + 1000u) << "stopped long before the bound";
  EXPECT_EQ(Seq(seen.end() - 2, seen.end()), Leave());
  EXPECT_FALSE(card.InSpecialMode());
}

TEST_F(DirectMethod, CancelBeforeStartReadsNothing) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 2);
  a.terminated = true;
  card.ClearTranscript();
  EXPECT_EQ(a.Execute(5), 0x9000);
  Seq expected = Enter();
  Add(expected, Leave());
  Add(expected, Enter());
  Add(expected, Leave());
  EXPECT_EQ(SectorTransfers(card), expected) << Describe(SectorTransfers(card));
}

TEST_F(DirectMethod, CancelWhileTheFirstIndexSectorIsBusy) {
  // HeaderVersion 1: the first index sector of the global read counts keeps
  // answering busy for a while, and the host gives up meanwhile.
  sdsim::Card &card = Attach(CardJson(
      "/dev/sdx", "\"busy\": {\"first_detail\": 4000}, \"read_counts\": {\"format\": \"global\"}",
      "\"HeaderVersion\": 1", 2000));
  Acquisition a(card, 2);
  card.ClearTranscript();
  const uint64_t start = card.TransferCount();
  std::thread host([&] {
    // enter, header 2, then a few busy answers of detail 2 0.
    while (card.TransferCount() < start + 2 + 10)
      std::this_thread::yield();
    __atomic_store_n(&a.terminated, true, __ATOMIC_SEQ_CST);
  });
  const int64_t code = a.Execute(2);
  host.join();
  EXPECT_EQ(code, 0x9000);
  const Seq seen = SectorTransfers(card);
  EXPECT_LT(seen.size(), 2u + 4000u) << "stopped before the card cleared the flag";
  for (const auto &t : seen)
    EXPECT_NE(t.what, "detail 2 1") << "nothing read after the stop";
  EXPECT_EQ(a.reader->GetDetailReadCount().size(), 2000u) << "table sized before the stop";
  EXPECT_EQ(Seq(seen.end() - 2, seen.end()), Leave());
  EXPECT_FALSE(card.InSpecialMode());
}

TEST_F(DirectMethod, HeadersAnnouncingTooFewDetailSectorsAreRejected) {
  struct Case {
    const char *what;
    std::string header;
    unsigned entries;
  };
  const Case cases[] = {
      // 65536 entries need 256 sectors; the count byte can say 255 at most.
      {"short sector count", "\"UseDetailSectorCountEx\": false", 65536},
      // TotalVBCount below VBsPerUnit: U = 0, and the count wraps.
      {"zero units", "\"TotalVBCount\": 10, \"VBsPerUnit\": 1024, \"ExtraVBEntriesPerUnit\": 1",
       2000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", "", c.header, c.entries));
    Acquisition a(card, 2);
    card.ClearTranscript();
    std::wstring text;
    EXPECT_EQ(a.Execute(1, &text), 0x3000);
    EXPECT_EQ(text, L"Incorrect S.M.A.R.T contents.");
    for (const auto &t : SectorTransfers(card))
      EXPECT_EQ(t.what.find("detail"), std::string::npos) << "no detail read";
    EXPECT_TRUE(a.reader->GetDetailEraseCount().empty());
    EXPECT_FALSE(card.InSpecialMode());
    sdsim::DetachAll();
  }
}

TEST_F(DirectMethod, UnknownSmartVersionTouchesNothing) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx"));
  Acquisition a(card, 4);
  card.ClearTranscript();
  std::wstring text;
  EXPECT_EQ(a.Execute(5, &text), -1);
  EXPECT_EQ(text, L"Smart Version 4 is not correct");
  EXPECT_TRUE(SectorTransfers(card).empty());
}
