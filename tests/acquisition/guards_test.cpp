// SPDX-License-Identifier: MIT
// Cancelling, wrong configuration, damaged or hostile headers, a failed
// backup read or restore, and a card another acquisition holds: every
// failure leaves sector 0 as it was.
#include "virtual_card.h"

#include "sdsmart/unique_fd.h"

#include <sys/file.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

using namespace sdtest;

namespace {

void SetTerminated(bool value) { __atomic_store_n(&_Terminated, value, __ATOMIC_SEQ_CST); }

} // namespace

class Cancel : public AcquisitionTest {};

// The flag set before the call: the first poll comes before the first header
// read, so only the patterns, the leave and the restoring write are sent.
TEST_F(Cancel, SetBeforeTheCallStopsAtTheFirstPoll) {
  for (const char *file : {"usb.json", "native.json"}) {
    SCOPED_TRACE(file);
    sdsim::Card &card = AttachNamed(LoadCardJson(file));
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();
    SetTerminated(true);
    ExpectRunFails(SDSMART_E_USER_TERMINATED, "User terminated");
    SetTerminated(false);
    const Seq expected = {R(0, "data"),   W0("enter v2"), W0("enter v2"), W0("leave"),
                          W0("enter v2"), W0("enter v2"), W0("leave"),    kRestore};
    EXPECT_EQ(card.Transcript(), expected) << Describe(card.Transcript());
    EXPECT_EQ(card.ReadSector(0), before);
    sdsim::DetachAll();
  }
}

// The flag set by another thread while the card keeps answering busy where
// the reader waits for it: the thread waits until the card has seen the
// transfers that put the reader there (past its first 100 immediate re-reads,
// into the paced ones), however long that takes.
TEST_F(Cancel, WhileTheCardAnswersBusyAtEachPoll) {
  const unsigned busy = 4900; // below the reader's bound of busy re-reads
  struct Case {
    const char *what, *busyAt, *busyWhat;
    unsigned select, headerVersion, reached; // transfers that put the reader there
  } const cases[] = {
      {"header", "header", "header 1", 5, 2, 5 + 100},
      {"first detail sector", "first_detail", "detail 1 0", 1, 1, 7 + 100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Json json = LoadCardJson("usb.json");
    json["busy"] = {{"header", 1}};
    json["busy"][c.busyAt] = busy;
    json["header"]["HeaderVersion"] = c.headerVersion;
    sdsim::Card &card = AttachNamed(json);
    _FuncSel = c.select;
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();
    const uint64_t start = card.TransferCount();
    std::atomic<bool> finished{false};
    std::thread host([&] {
      while (card.TransferCount() < start + c.reached && !finished)
        std::this_thread::yield();
      SetTerminated(true);
    });
    ExpectRunFails(SDSMART_E_USER_TERMINATED, "User terminated");
    finished = true;
    host.join();
    SetTerminated(false);
    const Seq seen = card.Transcript();
    EXPECT_GT(Count(seen, c.busyWhat), 50u) << Describe(Seq(seen.begin(), seen.begin() + 10));
    EXPECT_LT(Count(seen, c.busyWhat), busy) << "stopped before the card was ready";
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(Seq(seen.end() - 3, seen.end()), (Seq{W0("enter v2"), W0("leave"), kRestore}));
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    sdsim::DetachAll();
  }
}

class DamagedAnswers : public AcquisitionTest {};

TEST_F(DamagedAnswers, WrongEntryOrDamagedHeadersAreRefusedAndSectorZeroRestored) {
  struct Case {
    const char *what;
    std::optional<sdsim::FaultKind> fault; // at every header read
    const char *header; // changes to usb.json's header; null: a wrong entry string
  };
  const Case cases[] = {
      // The card takes the patterns for ordinary data and never answers.
      {"wrong entry string", {}, nullptr},
      {"damaged signature", sdsim::FaultKind::BadSignature, "{}"},
      {"wrong detail type", sdsim::FaultKind::WrongDetailType, "{}"},
      // 0xFFFF entries added by each of 0xFFFFFFFF units (the other sizing
      // overflows are the parsers', in tests/smart/parser_test.cpp).
      {"huge entries per unit",
       {},
       R"({"BaseVBEntryCount": "0x20000", "TotalVBCount": "0xFFFFFFFF", "VBsPerUnit": 1,
           "ExtraVBEntriesPerUnit": "0xFFFF"})"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Json json = LoadCardJson("usb.json");
    WriteConfig(File("config"), CardConfig(c.header ? kEntry : "WRONGENT"));
    if (!c.fault && c.header) {
      json["header"].update(Json::parse(c.header));
      // Tables that fit whatever entry count the card ends up with.
      json["erase_counts"] = Json::array();
      json["runtime_status"] = Json::array();
      json["read_counts"] = {{"format", "native"}, {"values", Json::array()}};
    }
    sdsim::Card &card = AttachNamed(json);
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();
    if (c.fault)
      card.SetFault(*c.fault, 0, 0);
    if (c.fault == sdsim::FaultKind::WrongDetailType)
      ExpectRunFails(SDSMART_E_DETAIL_TYPE_MISMATCH,
                     "Type to indicated detail data is mismatched.");
    else
      ExpectRunFails(SDSMART_E_SMART_CONTENTS, "Incorrect S.M.A.R.T contents.");
    const Seq seen = card.Transcript();
    EXPECT_EQ(Count(seen, "detail"), 0u) << "no table sized from a bad header";
    if (!c.header) {
      EXPECT_EQ(Count(seen, "enter") + Count(seen, "header"), 0u) << Describe(seen);
    }
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), kRestore) << Describe(seen);
    sdsim::DetachAll();
  }
}

// A run whose first header read fails and whose restoring write fails as
// well: backup read (0), enter (1), enter and leave (2, 3), enter (4), the
// header (5); then the leave (6, 7) and the restoring write (8).
TEST_F(AcquisitionTest, FailedRestoreIsReportedAndARefusedRetryKeepsTheCopyOfSectorZero) {
  sdsim::Card &card = AttachNamed(LoadCardJson("usb.json"));
  const Sector before = card.ReadSector(0);
  const uint64_t start = card.TransferCount();
  card.AddFault({sdsim::FaultKind::FailTransfer, start + 5, 1});
  card.AddFault({sdsim::FaultKind::FailTransfer, start + 8, 1});
  card.ClearTranscript();
  // The write error replaces the read error that caused the restore.
  ExpectRunFails(SDSMART_E_USB_TRANSACTION, "USB Transaction Error (1)");
  const Seq seen = card.Transcript();
  ASSERT_EQ(seen.size(), 9u) << Describe(seen);
  EXPECT_EQ(seen[5].what, "failed") << Describe(seen);
  EXPECT_EQ(seen[8].what, "failed") << Describe(seen);
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_NE(card.ReadSector(0), before) << "the leave pattern is still there";

  // A retry does not take the pattern for the card's sector 0, and it must
  // not throw away the copy the failed restore left: it is the only copy
  // the host has to put back.
  card.ClearTranscript();
  ExpectRunFails(SDSMART_E_UNCODED,
                 "Sector 0 holds a special-mode pattern; restore the saved sector 0 first.");
  EXPECT_EQ(Writes(card.Transcript()), 0u);
  ASSERT_EQ(_MBRBuffer.Size(), 512u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), _MBRBuffer.Data()));
}

// The first of the guards before anything is written: the backup read. When
// it fails, nothing is written, not even a copy from an earlier run.
TEST_F(AcquisitionTest, FailedBackupReadWritesNothing) {
  sdsim::Card &card = AttachNamed(LoadCardJson("usb.json"));
  const Sector before = card.ReadSector(0);
  _MBRBuffer = Bulk<unsigned char>(512);
  std::memset(_MBRBuffer.Data(), 0xAA, 512);
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 1);
  card.ClearTranscript();
  ExpectRunFails(SDSMART_E_USB_TRANSACTION, "USB Transaction Error (0)");
  EXPECT_EQ(Writes(card.Transcript()), 0u) << Describe(card.Transcript());
  EXPECT_EQ(card.ReadSector(0), before);
}

// Another acquisition holds the card (the lock on its node): this one is
// refused having sent nothing, and goes ahead once the lock is released.
TEST_F(AcquisitionTest, SecondAcquisitionOfTheSameCardIsRefused) {
  sdsim::Card &card = AttachNamed(LoadCardJson("usb.json"));
  const Sector before = card.ReadSector(0);
  {
    const CUniqueFd other(open(card.Node().c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(other.IsOpen());
    ASSERT_EQ(flock(other.Get(), LOCK_EX | LOCK_NB), 0);
    card.ClearTranscript();
    ExpectRunFails(SDSMART_E_UNCODED,
                   "Device is busy: another acquisition is running on " + card.Node());
    EXPECT_TRUE(card.Transcript().empty()) << Describe(card.Transcript());
  }
  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(card.ReadSector(0), before);
}

// A version-1 header: the capacity comes from READ CAPACITY; 62333952
// sectors x 512 passes 2^32 (cut to 32 bits it would read 1764 MiB).
TEST_F(AcquisitionTest, CapacityFromTheUsbDriveIsNotCutTo32Bits) {
  Json json = LoadCardJson("usb.json");
  json["header"]["HeaderVersion"] = 1;
  sdsim::Card &card = AttachNamed(json);
  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_STREQ(GetMPVersion(), "6459.7.3.12");
  // The drive cannot tell: no capacity (prefix 6437), and no error recorded.
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 0);
  EXPECT_STREQ(GetMPVersion(), "6437.7.3.12");
  EXPECT_EQ(GetErrorCode(), 0);
}
