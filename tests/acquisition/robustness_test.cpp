// Cancelling, wrong configuration, damaged or hostile headers, and two
// processes acquiring one card: every failure leaves sector 0 as it was.
#include "acquisition_support.h"

#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include <cstring>
#include <thread>

using namespace acqtest;

namespace {

size_t Count(const Seq &ts, const std::string &prefix) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.what.rfind(prefix, 0) == 0;
  return n;
}

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
                          W0("enter v2"), W0("enter v2"), W0("leave"),    {"write", 0, 1, "data"}};
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
  EXPECT_EQ(Count(seen, "detail"), 0u);
  EXPECT_EQ(Count(seen, "header 3"), 0u);
  ASSERT_GE(seen.size(), 3u);
  const Seq tail(seen.end() - 3, seen.end());
  EXPECT_EQ(tail, (Seq{W0("enter v2"), W0("leave"), {"write", 0, 1, "data"}})) << Describe(tail);
  EXPECT_EQ(card.ReadSector(0), before);
  EXPECT_FALSE(card.InSpecialMode());
}

class DamagedAnswers : public AcquisitionTest {};

TEST_F(DamagedAnswers, WrongEntryStringNeverEntersSpecialMode) {
  WriteConfig(dir.File("config"), StandardConfig("WRONGENT"));
  sdsim::Card &card = AttachCard(LoadCardJson("usb.json"));
  Name(card);
  const Sector before = card.ReadSector(0);
  card.ClearTranscript();
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 12288);
  EXPECT_STREQ(GetErrorMessage(), "Incorrect S.M.A.R.T contents.");
  const Seq seen = card.Transcript();
  EXPECT_EQ(Count(seen, "enter"), 0u) << Describe(seen);
  EXPECT_EQ(Count(seen, "header"), 0u) << Describe(seen);
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.ReadSector(0), before);
}

TEST_F(DamagedAnswers, DamagedOrHostileHeadersAreRefusedAndSectorZeroRestored) {
  struct Case {
    const char *what;
    Json header; // changes to usb.json's header
    bool fault;  // inject `kind` at every header read
    sdsim::FaultKind kind;
    int code;
    const char *text;
  };
  const char *contents = "Incorrect S.M.A.R.T contents.";
  const Case cases[] = {
      {"damaged signature", Json::object(), true, sdsim::FaultKind::BadSignature, 12288, contents},
      {"wrong detail type", Json::object(), true, sdsim::FaultKind::WrongDetailType, 12289,
       "Type to indicated detail data is mismatched."},
      // U = 100 / 1024 = 0: the entry count wraps.
      {"more VBs per unit than VBs",
       {{"TotalVBCount", 100}, {"VBsPerUnit", 1024}, {"ExtraVBEntriesPerUnit", 1024}},
       false,
       sdsim::FaultKind::FailTransfer,
       12288,
       contents},
      // 0xFFFFFC00 + 1024 x 3 wraps to 2048 in 32 bits: the card serves 2048
      // entries but the header claims four thousand million.
      {"huge base entry count",
       {{"BaseVBEntryCount", "0xFFFFFC00"},
        {"TotalVBCount", 4096},
        {"VBsPerUnit", 1024},
        {"ExtraVBEntriesPerUnit", 1024}},
       false,
       sdsim::FaultKind::FailTransfer,
       12288,
       contents},
      // 0xFFFF entries added by each of 0xFFFFFFFF units.
      {"huge entries per unit",
       {{"BaseVBEntryCount", "0x20000"},
        {"TotalVBCount", "0xFFFFFFFF"},
        {"VBsPerUnit", 1},
        {"ExtraVBEntriesPerUnit", "0xFFFF"}},
       false,
       sdsim::FaultKind::FailTransfer,
       12288,
       contents},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Json json = LoadCardJson("usb.json");
    for (const auto &field : c.header.items())
      json["header"][field.key()] = field.value();
    if (!c.header.empty()) {
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
      card.SetFault(c.kind, 0, 0);
    EXPECT_EQ(GetSmartInfo(), 1);
    EXPECT_EQ(GetErrorCode(), c.code);
    EXPECT_STREQ(GetErrorMessage(), c.text);
    const Seq seen = card.Transcript();
    EXPECT_EQ(Count(seen, "detail"), 0u) << "no table sized from a bad header";
    EXPECT_EQ(card.ReadSector(0), before);
    EXPECT_FALSE(card.InSpecialMode());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (sdsim::Transfer{"write", 0, 1, "data"})) << Describe(seen);
    sdsim::DetachAll();
  }
}

class TwoProcesses : public AcquisitionTest {};

namespace {

struct ChildReport {
  int rc = -100;
  int code = 0;
  unsigned writes = 0;
  unsigned transfers = 0;
  char message[200] = {};
};

// Runs GetSmartInfo in a child process and sends what it saw back.
pid_t AcquireInChild(sdsim::Card &card, int &readEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    card.ClearTranscript();
    ChildReport report;
    report.rc = GetSmartInfo();
    report.code = GetErrorCode();
    std::strncpy(report.message, GetErrorMessage(), sizeof report.message - 1);
    const Seq seen = card.Transcript();
    report.writes = static_cast<unsigned>(Writes(seen));
    report.transfers = static_cast<unsigned>(seen.size());
    const ssize_t n = write(fds[1], &report, sizeof report);
    _exit(n == static_cast<ssize_t>(sizeof report) ? 0 : 3);
  }
  close(fds[1]);
  readEnd = fds[0];
  return pid;
}

ChildReport Collect(pid_t pid, int readEnd) {
  ChildReport report;
  const ssize_t n = read(readEnd, &report, sizeof report);
  close(readEnd);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(n, static_cast<ssize_t>(sizeof report));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return report;
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

TEST_F(TwoProcesses, SecondAcquisitionOfOneCardFailsHavingWrittenNothing) {
  Json json = LoadCardJson("usb.json");
  json["image"] = dir.File("card.img");
  // Each header answers busy long enough (with the reader's pauses after its
  // first re-reads) to keep the first process on the card well past the
  // second one's wait for the lock.
  json["busy"]["header"] = 2400;
  sdsim::Card &card = AttachCard(json);
  Name(card);
  const Sector before = card.ReadSector(0);

  int firstPipe = -1, secondPipe = -1;
  const pid_t first = AcquireInChild(card, firstPipe);
  ASSERT_GT(first, 0);
  // Wait until the first child holds the card (or has given up on it).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!LockedElsewhere(card.Node()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const pid_t second = AcquireInChild(card, secondPipe);
  ASSERT_GT(second, 0);
  const ChildReport b = Collect(second, secondPipe);
  const ChildReport a = Collect(first, firstPipe);

  EXPECT_EQ(a.rc, 0) << a.message;
  EXPECT_EQ(a.code, 0);
  EXPECT_EQ(b.rc, 1);
  EXPECT_EQ(b.code, -1);
  EXPECT_EQ(std::string(b.message),
            "Device is busy: another acquisition is running on " + card.Node());
  EXPECT_EQ(b.writes, 0u);
  EXPECT_EQ(b.transfers, 0u);
  EXPECT_GT(a.writes, 0u);
  EXPECT_EQ(card.ReadSector(0), before);
}

class FailedRestore : public AcquisitionTest {
protected:
  // A run whose first header read fails and whose restoring write fails as
  // well: backup read (0), enter (1), enter and leave (2, 3), enter (4), the
  // header (5); then the leave (6, 7) and the restoring write (8).
  void FailTwice(sdsim::Card &card) {
    const uint64_t start = card.TransferCount();
    card.AddFault({sdsim::FaultKind::FailTransfer, start + 5, 1});
    card.AddFault({sdsim::FaultKind::FailTransfer, start + 8, 1});
    card.ClearTranscript();
    EXPECT_EQ(GetSmartInfo(), 1);
    const Seq seen = card.Transcript();
    ASSERT_EQ(seen.size(), 9u) << Describe(seen);
    EXPECT_EQ(seen[5].what, "failed") << Describe(seen);
    EXPECT_EQ(seen[8].what, "failed") << Describe(seen);
  }
};

TEST_F(FailedRestore, TheRestoringWritesErrorIsReportedAndTheCardIsNotReusedBlindly) {
  sdsim::Card &card = AttachCard(LoadCardJson("usb.json"));
  Name(card);
  const Sector before = card.ReadSector(0);
  FailTwice(card);
  // The write error replaces the read error that caused the restore.
  EXPECT_EQ(GetErrorCode(), 4098);
  EXPECT_STREQ(GetErrorMessage(), "USB Transaction Error (1)");
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_NE(card.ReadSector(0), before) << "the leave pattern is still there";
  ASSERT_EQ(_MBRBuffer.Size(), 512u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), _MBRBuffer.Data()))
      << "the copy of sector 0 is kept for the host";

  // A retry does not take the pattern for the card's sector 0.
  card.ClearTranscript();
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  EXPECT_EQ(Writes(card.Transcript()), 0u);
}

// A refused retry must not throw away the copy of sector 0 that the failed
// restore left: it is the only copy the host has to put back.
TEST_F(FailedRestore, RefusedRetryKeepsTheCopyOfSectorZero) {
  sdsim::Card &card = AttachCard(LoadCardJson("usb.json"));
  Name(card);
  const Sector before = card.ReadSector(0);
  FailTwice(card);
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  ASSERT_EQ(_MBRBuffer.Size(), 512u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), _MBRBuffer.Data()));
}
