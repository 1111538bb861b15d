// SPDX-License-Identifier: MIT
// The exact transfers one GetSmartInfo sends, for every function select and
// both methods. The long ones are golden files, tests/data/transcripts/*.txt
// (regenerated as support.h says, with --gtest_filter='Transcripts*').
#include "virtual_card.h"

using namespace sdtest;

struct TranscriptCase {
  const char *name; // of the golden file
  const char *cardFile;
  unsigned select;
  int headerVersion = -1, firstDetailBusy = 0; // -1: the card file's own header
  unsigned char smartVersion = 2;
  uint64_t capacityBytes = 0; // 0: the card file's own
};

void PrintTo(const TranscriptCase &c, std::ostream *os) { *os << c.name; }

class EachTranscript : public AcquisitionTest,
                       public ::testing::WithParamInterface<TranscriptCase> {};

TEST_P(EachTranscript, FunctionSelectSendsItsSequence) {
  const TranscriptCase &c = GetParam();
  Json json = LoadCardJson(c.cardFile);
  if (c.headerVersion >= 0)
    json["header"]["HeaderVersion"] = c.headerVersion,
    json["busy"]["first_detail"] = c.firstDetailBusy;
  if (c.capacityBytes)
    json["capacity_bytes"] = c.capacityBytes;
  sdsim::Card &card = AttachNamed(json);
  SetSmartVersion(c.smartVersion);
  _FuncSel = c.select;
  const Sector before = card.ReadSector(0);
  card.ClearTranscript();

  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage() << "\n" << Describe(card.Transcript());
  ExpectGolden("transcripts/" + std::string(c.name) + ".txt", Describe(card.Transcript()));
  EXPECT_EQ(card.ReadSector(0), before);
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_FALSE(Exists(card.HostFilePath()));
  EXPECT_EQ(card.PmtCleanCount(), c.select == 8 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, EachTranscript,
    ::testing::Values(
        TranscriptCase{"usb-select5", "usb.json", 5},
        TranscriptCase{"native-select5", "native.json", 5},
        TranscriptCase{"sdsc-header-version0-select5", "native_sdsc.json", 5},
        TranscriptCase{"usb-header-version1-busy-detail-select5", "usb.json", 5, 1, 3},
        TranscriptCase{"usb-header-version0-busy-detail-select5", "usb.json", 5, 0, 2},
        TranscriptCase{"usb-select0", "usb.json", 0}, TranscriptCase{"usb-select1", "usb.json", 1},
        TranscriptCase{"usb-native-read-counts-select2", "usb.json", 2},
        TranscriptCase{"native-global-read-counts-select2", "native.json", 2},
        TranscriptCase{"usb-select4", "usb.json", 4}, TranscriptCase{"usb-select7", "usb.json", 7},
        TranscriptCase{"usb-pmt-clean-select8", "usb.json", 8},
        // Version 3 on a card mounted read-write: the marked enter pattern,
        // the host file written (4 units), two commands each read back (2
        // units), the leave patterns. Above 33 GiB the unit is 1024 sectors,
        // not 128.
        TranscriptCase{"usb-host-file-select5", "usb.json", 5, -1, 0, 3},
        TranscriptCase{"usb-64gib-host-file-select5", "usb.json", 5, -1, 0, 3, 64ull << 30}),
    [](const ::testing::TestParamInfo<TranscriptCase> &info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST_F(AcquisitionTest, UnconfirmedPmtCleanGivesUpAfterItsPolls) {
  const Json json = LoadCardJson("usb.json");
  sdsim::Card &card = AttachNamed(json);
  _FuncSel = 8;
  const Sector before = card.ReadSector(0);
  card.ClearTranscript();
  const unsigned headerBusy = json["busy"].value("header", 0u);
  // backup read, enter, the header with its busy answers: then every poll
  // answers busy.
  card.SetFault(sdsim::FaultKind::BusyForever, card.TransferCount() + 2 + headerBusy + 1, 0);

  ExpectRunFails(SDSMART_E_UNCODED, "Force Erase PMT Fail.");
  Seq expected = {R(0, "data"), W0("enter v2")};
  Add(expected, Seq(headerBusy + 1, R(16, "header 16")));
  for (unsigned i = 0; i < 5000; ++i)
    expected.push_back(R(256 * (i + 1) + 0x90, "pmt poll"));
  Add(expected, {W0("enter v2"), W0("leave"), kRestore});
  const Seq seen = card.Transcript();
  ASSERT_EQ(seen.size(), expected.size());
  EXPECT_TRUE(seen == expected) << Describe(Seq(seen.end() - 8, seen.end()));
  EXPECT_EQ(card.PmtCleanCount(), 0u);
  EXPECT_EQ(card.ReadSector(0), before);
  EXPECT_FALSE(card.InSpecialMode());
}
