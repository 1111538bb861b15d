// Cancelling, wrong configuration, damaged or hostile headers, a failed
// restore, and two processes acquiring one card: every failure leaves
// sector 0 as it was.
#include "acquisition_support.h"

#include <sys/file.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

using namespace acqtest;

namespace {

void SetTerminated(bool value) { __atomic_store_n(&_Terminated, value, __ATOMIC_SEQ_CST); }

} // namespace

class Cancel : public AcquisitionTest {};

TEST_F(Cancel, SetBeforeTheCallStopsAtTheFirstPoll) {
  for (const char *file : {"usb.json", "native.json"}) {
    SCOPED_TRACE(file);
    sdsim::Card &card = AttachCard(LoadCardJson(file));
    Name(card);
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();
    SetTerminated(true);
    EXPECT_EQ(GetSmartInfo(), 1);
    SetTerminated(false);
    EXPECT_EQ(GetErrorCode(), 36864);
    EXPECT_STREQ(GetErrorMessage(), "User terminated");
    // The first poll comes before the first header read: patterns only,
    // then the leave and the restoring write.
    const Seq expected = {R(0, "data"),   W0("enter v2"), W0("enter v2"), W0("leave"),
                          W0("enter v2"), W0("enter v2"), W0("leave"),    kRestore};
    EXPECT_EQ(card.Transcript(), expected) << Describe(card.Transcript());
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    sdsim::DetachAll();
  }
}

TEST_F(Cancel, FromAnotherThreadWhileTheCardAnswersBusy) {
  Json json = LoadCardJson("usb.json");
  const unsigned busy = 4000; // below the reader's bound of busy re-reads
  json["busy"]["header"] = busy;
  sdsim::Card &card = AttachCard(json);
  Name(card);
  const Sector before = card.ReadSector(0);
  card.ClearTranscript();
  const uint64_t start = card.TransferCount();
  std::atomic<bool> finished{false};
  std::thread host([&] {
    // backup read, three patterns, then well into the busy answers.
    while (card.TransferCount() < start + 5 + 300 && !finished)
      std::this_thread::yield();
    SetTerminated(true);
  });
  const int rc = GetSmartInfo();
  finished = true;
  host.join();
  SetTerminated(false);

  EXPECT_EQ(rc, 1);
  EXPECT_EQ(GetErrorCode(), 36864);
  EXPECT_STREQ(GetErrorMessage(), "User terminated");
  const Seq seen = card.Transcript();
  EXPECT_LT(Count(seen, "header 1"), busy) << "stopped before the card was ready";
  EXPECT_EQ(Count(seen, "detail") + Count(seen, "header 3"), 0u);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(Seq(seen.end() - 3, seen.end()), (Seq{W0("enter v2"), W0("leave"), kRestore}));
  EXPECT_EQ(card.ReadSector(0), before);
  EXPECT_FALSE(card.InSpecialMode());
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
      // U = 100 / 1024 = 0: the entry count wraps.
      {"more VBs per unit than VBs",
       {},
       R"({"TotalVBCount": 100, "VBsPerUnit": 1024, "ExtraVBEntriesPerUnit": 1024})"},
      // 0xFFFFFC00 + 1024 x 3 wraps to 2048 in 32 bits: the card serves 2048
      // entries but the header claims four thousand million.
      {"huge base entry count",
       {},
       R"({"BaseVBEntryCount": "0xFFFFFC00", "TotalVBCount": 4096, "VBsPerUnit": 1024,
           "ExtraVBEntriesPerUnit": 1024})"},
      // 0xFFFF entries added by each of 0xFFFFFFFF units.
      {"huge entries per unit",
       {},
       R"({"BaseVBEntryCount": "0x20000", "TotalVBCount": "0xFFFFFFFF", "VBsPerUnit": 1,
           "ExtraVBEntriesPerUnit": "0xFFFF"})"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Json json = LoadCardJson("usb.json");
    WriteConfig(File("config"), StandardConfig(c.header ? kEntry : "WRONGENT"));
    if (!c.fault && c.header) {
      json["header"].update(Json::parse(c.header));
      // Tables that fit whatever entry count the card ends up with.
      json["erase_counts"] = Json::array();
      json["runtime_status"] = Json::array();
      json["read_counts"] = {{"format", "native"}, {"values", Json::array()}};
    }
    sdsim::Card &card = AttachCard(json);
    Name(card);
    const Sector before = card.ReadSector(0);
    card.ClearTranscript();
    if (c.fault)
      card.SetFault(*c.fault, 0, 0);
    EXPECT_EQ(GetSmartInfo(), 1);
    if (c.fault == sdsim::FaultKind::WrongDetailType) {
      EXPECT_EQ(GetErrorCode(), 12289);
      EXPECT_STREQ(GetErrorMessage(), "Type to indicated detail data is mismatched.");
    } else {
      EXPECT_EQ(GetErrorCode(), 12288);
      EXPECT_STREQ(GetErrorMessage(), "Incorrect S.M.A.R.T contents.");
    }
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
  sdsim::Card &card = AttachCard(LoadCardJson("usb.json"));
  Name(card);
  const Sector before = card.ReadSector(0);
  const uint64_t start = card.TransferCount();
  card.AddFault({sdsim::FaultKind::FailTransfer, start + 5, 1});
  card.AddFault({sdsim::FaultKind::FailTransfer, start + 8, 1});
  card.ClearTranscript();
  EXPECT_EQ(GetSmartInfo(), 1);
  const Seq seen = card.Transcript();
  ASSERT_EQ(seen.size(), 9u) << Describe(seen);
  EXPECT_EQ(seen[5].what, "failed") << Describe(seen);
  EXPECT_EQ(seen[8].what, "failed") << Describe(seen);
  // The write error replaces the read error that caused the restore.
  EXPECT_EQ(GetErrorCode(), 4098);
  EXPECT_STREQ(GetErrorMessage(), "USB Transaction Error (1)");
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_NE(card.ReadSector(0), before) << "the leave pattern is still there";

  // A retry does not take the pattern for the card's sector 0, and it must
  // not throw away the copy the failed restore left: it is the only copy
  // the host has to put back.
  card.ClearTranscript();
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  EXPECT_STREQ(GetErrorMessage(),
               "Sector 0 holds a special-mode pattern; restore the saved sector 0 first.");
  EXPECT_EQ(Writes(card.Transcript()), 0u);
  ASSERT_EQ(_MBRBuffer.Size(), 512u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), _MBRBuffer.Data()));
}

namespace {

// Runs GetSmartInfo in a child process, whose exit status says how it went:
// 0 acquired (and wrote), 1 refused as busy having sent nothing, 2 else.
pid_t AcquireInChild(sdsim::Card &card) {
  const pid_t pid = fork();
  if (pid != 0)
    return pid;
  card.ClearTranscript();
  const int rc = GetSmartInfo();
  const std::string busy = "Device is busy: another acquisition is running on " + card.Node();
  if (rc == 0 && Writes(card.Transcript()) > 0)
    _exit(0);
  if (rc == 1 && GetErrorCode() == -1 && GetErrorMessage() == busy && card.Transcript().empty())
    _exit(1);
  std::fprintf(stderr, "child: rc %d, %d %s\n", rc, GetErrorCode(), GetErrorMessage());
  _exit(2);
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True once another open file description holds the node's lock.
bool LockedElsewhere(const std::string &node) {
  const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1)
    return false;
  const bool taken = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd); // releases the probe's own lock, if it got one
  return taken;
}

} // namespace

TEST_F(AcquisitionTest, SecondProcessOnOneCardFailsHavingWrittenNothing) {
  Json json = LoadCardJson("usb.json");
  json["image"] = File("card.img");
  // Each header answers busy long enough (with the reader's pauses after its
  // first re-reads) to keep the first process on the card well past the
  // second one's wait for the lock.
  json["busy"]["header"] = 2400;
  sdsim::Card &card = AttachCard(json);
  Name(card);
  const Sector before = card.ReadSector(0);

  const pid_t first = AcquireInChild(card);
  ASSERT_GT(first, 0);
  // Wait until the first child holds the card (or has given up on it).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!LockedElsewhere(card.Node()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const pid_t second = AcquireInChild(card);
  ASSERT_GT(second, 0);
  EXPECT_EQ(ExitStatus(second), 1) << "the second acquisition is refused, having sent nothing";
  EXPECT_EQ(ExitStatus(first), 0) << "the first acquisition succeeds";
  EXPECT_EQ(card.ReadSector(0), before);
}
