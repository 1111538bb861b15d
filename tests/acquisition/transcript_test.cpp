// SPDX-License-Identifier: MIT
// The exact transfers one GetSmartInfo sends, for every function select and
// both methods. The long ones are golden files, tests/data/transcripts/*.txt
// (regenerated as support.h says, with --gtest_filter='Transcripts.*').
#include "acquisition_support.h"

using namespace sdtest;

namespace {

Json WithHeaderVersion(unsigned version, unsigned firstDetailBusy) {
  Json j = LoadCardJson("usb.json");
  j["header"]["HeaderVersion"] = version;
  j["busy"]["first_detail"] = firstDetailBusy;
  return j;
}

} // namespace

class Transcripts : public AcquisitionTest {};

TEST_F(Transcripts, EachFunctionSelectSendsItsSequence) {
  struct Case {
    const char *name; // of the golden file
    Json card;
    unsigned select;
  };
  const Json usb = LoadCardJson("usb.json");
  const Json native = LoadCardJson("native.json");
  const std::vector<Case> cases = {
      {"usb-select5", usb, 5},
      {"native-select5", native, 5},
      {"sdsc-header-version0-select5", LoadCardJson("native_sdsc.json"), 5},
      {"usb-header-version1-busy-detail-select5", WithHeaderVersion(1, 3), 5},
      {"usb-header-version0-busy-detail-select5", WithHeaderVersion(0, 2), 5},
      {"usb-select0", usb, 0},
      {"native-select0", native, 0},
      {"usb-select1", usb, 1},
      {"usb-native-read-counts-select2", usb, 2},
      {"native-global-read-counts-select2", native, 2},
      {"usb-select4", usb, 4},
      {"usb-select7", usb, 7},
      {"usb-pmt-clean-select8", usb, 8},
      {"native-pmt-clean-select8", native, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sdsim::Card &card = AttachCard(c.card);
    Name(card);
    _FuncSel = c.select;
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();

    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage() << "\n" << Describe(card.Transcript());
    ExpectGolden("transcripts/" + std::string(c.name) + ".txt", Describe(card.Transcript()));
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    EXPECT_EQ(card.PmtCleanCount(), c.select == 8 ? 1u : 0u);
    sdsim::DetachAll();
  }
}

TEST_F(Transcripts, UnconfirmedPmtCleanGivesUpAfterItsPolls) {
  const Json json = LoadCardJson("usb.json");
  sdsim::Card &card = AttachCard(json);
  Name(card);
  _FuncSel = 8;
  const Sector before = card.ReadSector(0);
  card.ClearTranscript();
  const unsigned headerBusy = json["busy"].value("header", 0u);
  // backup read, enter, the header with its busy answers: then every poll
  // answers busy.
  card.SetFault(sdsim::FaultKind::BusyForever, card.TransferCount() + 2 + headerBusy + 1, 0);

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  EXPECT_STREQ(GetErrorMessage(), "Force Erase PMT Fail.");
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

// Version 3 on a card mounted read-write: the marked enter pattern, the
// host file written, two commands each read back, the leave patterns.
TEST_F(Transcripts, HostFileMethodOnAWritableMountedCard) {
  for (bool large : {false, true}) {
    SCOPED_TRACE(large ? "64 GiB card, version from the configuration" : "SetSmartVersion(3)");
    if (large) {
      ConfigSections config = CardConfig();
      config[L"Version"][L"SMART Version Support"] = L"3";
      WriteConfig(File("config"), config);
    }
    Json json = LoadCardJson("usb.json");
    if (large)
      json["capacity_bytes"] = 64ull << 30;
    sdsim::Card &card = AttachCard(json);
    Name(card);
    if (!large)
      SetSmartVersion(3);
    ASSERT_EQ(_SmartVerSupport, 3);
    ASSERT_FALSE(card.MountPoint().empty());
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();

    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage() << "\n" << Describe(card.Transcript());
    // Above 33 GiB the size query gives the 1024-sector unit. The file
    // holds 4 units, and 2 units are read back after each command.
    const unsigned unit = large ? 1024 : 128;
    const Seq expected = {
        R(0, "data"),
        W0("enter v3"),
        {"write", 0, 4 * unit, "file write"},
        {"write", 0, 1, "file command 0x101"},
        {"read", 0, 2 * unit, "file readback"},
        {"write", 0, 1, "file command 0x103"},
        {"read", 0, 2 * unit, "file readback"},
        W0("enter v3"),
        W0("leave"),
        R(0, "data"),
        kRestore,
    };
    EXPECT_EQ(card.Transcript(), expected) << Describe(card.Transcript());
    EXPECT_FALSE(Exists(card.HostFilePath())) << card.HostFilePath();
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    ExpectAccessorsMatchCard(card, card.HeaderSector(3), kUsbIdentity);
    EXPECT_EQ(Table(true), ExpectedEraseCounts(card));
    sdsim::DetachAll();
    ResetSession();
  }
}
