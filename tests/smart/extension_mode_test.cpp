// The host-file method (version 3) against the virtual card, its fall-backs
// to the direct method, and the handling of hostile mount tables and paths.
#include "sim_fixture.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace smarttest;
using sdsim::Transfer;

namespace {

using Seq = std::vector<Transfer>;

// Sector transfers and host-file events, without status commands.
Seq DataEvents(const sdsim::Card &card) {
  Seq out;
  for (const auto &t : card.Transcript())
    if (t.op == "read" || t.op == "write")
      out.push_back(t);
  return out;
}

bool Contains(const Seq &s, const std::string &what) {
  for (const auto &t : s)
    if (t.what == what)
      return true;
  return false;
}

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string MountJson(const std::string &options = "rw,nosuid,nodev,relatime",
                      const std::string &point = "auto") {
  return "\"mount\": {\"point\": \"" + point + "\", \"options\": \"" + options + "\"}";
}

std::vector<unsigned> ExpectedErase(const sdsim::Card &card) {
  std::vector<unsigned> out;
  for (auto v : card.EraseCounts())
    out.push_back(v == 0xFFFE ? 0xFFFFFFFEu : v);
  return out;
}

// A private scratch directory, removed with everything in it.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char tmpl[] = "/tmp/sdsmart-smart-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

} // namespace

class ExtensionMode : public SimTest {};

TEST_F(ExtensionMode, SelectFiveExchangesTwoCommandsThroughTheHostFile) {
  sdsim::Card &card = Attach(CardJson(
      "/dev/sdx", MountJson() + ", \"runtime_status\": {\"generate\": {\"ecc_errors\": 4}}"));
  Acquisition a(card, 3);
  card.ClearTranscript();
  ASSERT_EQ(a.Execute(5), 0);
  const Seq expected = {
      {"write", 0, 1, "enter v3"},           {"write", 0, 512, "file write"},
      {"write", 0, 1, "file command 0x101"}, {"read", 0, 256, "file readback"},
      {"write", 0, 1, "file command 0x103"}, {"read", 0, 256, "file readback"},
      {"write", 0, 1, "enter v3"},           {"write", 0, 1, "leave"},
  };
  const Seq seen = DataEvents(card);
  EXPECT_EQ(seen, expected) << Describe(seen);
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_FALSE(Exists(card.HostFilePath())) << "host file removed";
  EXPECT_EQ(a.reader->GetSmartFilePath(), ToWideString(card.HostFilePath()));
  EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
  EXPECT_EQ(a.reader->GetECCUncorrectableCnt(), 4u);
  EXPECT_EQ(a.reader->GetRuntimeBadStatus().size(), 300u);
}

TEST_F(ExtensionMode, ReadCountsAndHeaderOnlyRequests) {
  for (const char *format : {"native", "global"}) {
    SCOPED_TRACE(format);
    sdsim::Card &card = Attach(
        CardJson("/dev/sdx", MountJson() + ", \"read_counts\": {\"format\": \"" + format + "\"}"));
    Acquisition a(card, 3);
    card.ClearTranscript();
    ASSERT_EQ(a.Execute(2), 0);
    EXPECT_TRUE(Contains(DataEvents(card), "file command 0x102"));
    std::vector<unsigned> expected;
    for (auto r : card.ReadCounts())
      expected.push_back(r == 0xFFFFFFFF                   ? 0xFFFFEu
                         : std::string(format) == "global" ? r
                                                           : std::min(r / 255, 0xFFFDu) * 255);
    EXPECT_EQ(a.reader->GetDetailReadCount(), expected);
    sdsim::DetachAll();
  }
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson()));
  Acquisition a(card, 3);
  ASSERT_EQ(a.Execute(0), 0);
  EXPECT_TRUE(Contains(DataEvents(card), "file command 0x0"));
  EXPECT_EQ(a.reader->GetHeader()->DetailType, 0);
}

TEST_F(ExtensionMode, HostFileIsPrivateNewAndRemovable) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson()));
  Acquisition a(card, 3);
  a.reader->CheckUnFormatAndWriteProtected();
  a.reader->InitParameter();
  a.reader->CreateFileForSpecialMode2ExtensionMode();
  struct stat st;
  ASSERT_EQ(lstat(card.HostFilePath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 512 * 512);
  a.reader->DeleteSmartFile();
  EXPECT_FALSE(Exists(card.HostFilePath()));
  EXPECT_NO_THROW(a.reader->DeleteSmartFile()) << "a missing file is not an error";
}

TEST_F(ExtensionMode, MountStateDecidesTheMethod) {
  struct Case {
    const char *what;
    std::string mount;
    int64_t code;
    bool v3, v2;
  };
  const Case cases[] = {
      {"not mounted: direct method at once", "", 0, false, true},
      {"read-only", MountJson("ro,nosuid,nodev"), 0xA000, false, false},
      {"ro at the end of a long option list",
       MountJson("rw,nosuid,nodev,noexec,relatime,uid=1000,gid=1000,fmask=0022,dmask=0022,"
                 "codepage=437,iocharset=ascii,shortname=mixed,showexec,utf8,flush,"
                 "errors=remount-ro,ro"),
       0xA000, false, false},
      {"remount-ro is not ro", MountJson("rw,errors=remount-ro"), 0, true, false},
      {"rw", MountJson("rw,relatime"), 0, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", c.mount));
    Acquisition a(card, 3);
    card.ClearTranscript();
    std::wstring text;
    EXPECT_EQ(a.Execute(1, &text), c.code);
    const Seq seen = DataEvents(card);
    EXPECT_EQ(Contains(seen, "enter v3"), c.v3) << Describe(seen);
    EXPECT_EQ(Contains(seen, "enter v2"), c.v2) << Describe(seen);
    if (c.code == 0xA000) {
      EXPECT_EQ(text, L"Card Write Protected");
      EXPECT_TRUE(seen.empty()) << "nothing written";
      EXPECT_TRUE(a.reader->IsWriteProtected());
    } else {
      EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
    }
    EXPECT_EQ(a.reader->IsUnformatted(), c.mount.empty());
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, NoAnswerInTheFileFallsBackToTheDirectMethod) {
  for (auto fault : {sdsim::FaultKind::NoFileAnswer, sdsim::FaultKind::FileIoFail}) {
    SCOPED_TRACE(sdsim::FaultName(fault));
    sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson()));
    Acquisition a(card, 3);
    card.ClearTranscript();
    card.SetFault(fault, 0, 0);
    ASSERT_EQ(a.Execute(1), 0);
    const Seq seen = DataEvents(card);
    EXPECT_TRUE(Contains(seen, "enter v3"));
    EXPECT_TRUE(Contains(seen, "enter v2")) << Describe(seen);
    EXPECT_FALSE(a.reader->IsFileHeaderFound());
    EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
    EXPECT_FALSE(card.InSpecialMode());
    EXPECT_FALSE(Exists(card.HostFilePath()));
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, AnswersFoundInTheFileAreFinal) {
  struct Case {
    const char *what;
    sdsim::FaultKind fault;
    unsigned entries;
    int64_t code;
    const wchar_t *text;
  };
  const Case cases[] = {
      {"only busy headers", sdsim::FaultKind::BusyForever, 300, -1, L"Header is busy."},
      {"wrong type", sdsim::FaultKind::WrongDetailType, 300, 0x3001,
       L"Type to indicated detail data is mismatched"},
      // 65536 entries need 256 detail sectors: they cannot all follow the
      // answer inside the 256 sectors read back.
      {"detail beyond the read-back", sdsim::FaultKind::FailTransfer, 65536, 0x3000,
       L"Incorrect S.M.A.R.T contents."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson(), "", c.entries));
    Acquisition a(card, 3);
    card.ClearTranscript();
    if (c.fault != sdsim::FaultKind::FailTransfer)
      card.SetFault(c.fault, 0, 0);
    std::wstring text;
    EXPECT_EQ(a.Execute(1, &text), c.code);
    EXPECT_EQ(text, c.text);
    const Seq seen = DataEvents(card);
    EXPECT_FALSE(Contains(seen, "enter v2")) << "no fall-back\n" << Describe(seen);
    EXPECT_EQ(Seq(seen.end() - 2, seen.end()),
              (Seq{{"write", 0, 1, "enter v3"}, {"write", 0, 1, "leave"}}));
    EXPECT_TRUE(a.reader->IsFileHeaderFound());
    EXPECT_TRUE(a.reader->GetDetailEraseCount().empty());
    EXPECT_FALSE(card.InSpecialMode());
    EXPECT_FALSE(Exists(card.HostFilePath()));
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, UnitFollowsTheCardCapacity) {
  struct Case {
    unsigned long long bytes;
    unsigned unit;
  };
  for (const Case &c : {Case{35433480192ull, 1024}, Case{35433480192ull - 512, 128}}) {
    SCOPED_TRACE(c.bytes);
    std::string json = CardJson("/dev/sdx", MountJson());
    json.replace(json.find("\"capacity_sectors\": 65536"), 25,
                 "\"capacity_bytes\": " + std::to_string(c.bytes));
    sdsim::Card &card = Attach(json);
    Acquisition a(card, 3);
    card.ClearTranscript();
    ASSERT_EQ(a.Execute(1), 0);
    EXPECT_EQ(a.reader->GetExtensionUnit(), c.unit);
    const Seq seen = DataEvents(card);
    EXPECT_TRUE(Contains(seen, "file command 0x101")) << "the card took the command";
    EXPECT_FALSE(Contains(seen, "enter v2"));
    EXPECT_EQ(seen.at(1), (Transfer{"write", 0, 4 * c.unit, "file write"}));
    EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, DeviceNameIsNeverHandedToAShell) {
  ScratchDir dir;
  const std::string marker = dir.path + "/ran";
  // No plain spaces (a mount source never holds one unescaped); the shell
  // would still split at ${IFS}.
  const std::string node = "/dev/sdx;touch${IFS}" + marker + ";$(touch${IFS}" + marker +
                           ")|`touch${IFS}" + marker + "`&&touch${IFS}" + marker;
  sdsim::Card &card = Attach(CardJson(node, MountJson()));
  Acquisition a(card, 3);
  ASSERT_EQ(a.Execute(1), 0);
  EXPECT_FALSE(Exists(marker));
  EXPECT_TRUE(Contains(DataEvents(card), "file command 0x101")) << "its mount entry was found";
}

TEST_F(ExtensionMode, MountPointWithASpace) {
  ScratchDir dir;
  const std::string point = dir.path + "/SD card";
  ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson("rw", point)));
  Acquisition a(card, 3);
  ASSERT_EQ(a.Execute(1), 0);
  EXPECT_EQ(a.reader->GetSmartFilePath(), ToWideString(point + "/SmartFile6459.txt"));
  EXPECT_TRUE(Contains(DataEvents(card), "file command 0x101"));
  EXPECT_FALSE(Exists(point + "/SmartFile6459.txt"));
}

TEST_F(ExtensionMode, LinkAtTheHostFilePathIsNotFollowed) {
  ScratchDir dir;
  const std::string point = dir.path + "/card";
  const std::string target = dir.path + "/precious";
  ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
  { std::ofstream(target) << "keep me"; }
  ASSERT_EQ(symlink(target.c_str(), (point + "/SmartFile6459.txt").c_str()), 0);
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson("rw", point)));
  Acquisition a(card, 3);
  ASSERT_EQ(a.Execute(1), 0) << "falls back to the direct method";
  EXPECT_TRUE(Contains(DataEvents(card), "enter v2"));
  std::ifstream in(target);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");
  EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
}

TEST_F(ExtensionMode, NoDescriptorLeaksOnAnyPath) {
  ScratchDir dir;
  const std::string linked = dir.path + "/linked";
  ASSERT_EQ(mkdir(linked.c_str(), 0700), 0);
  ASSERT_EQ(symlink("/dev/null", (linked + "/SmartFile6459.txt").c_str()), 0);
  struct Case {
    const char *what;
    std::string mount;
    bool fault;
    sdsim::FaultKind kind;
    unsigned entries;
  };
  const Case cases[] = {
      {"success", MountJson(), false, sdsim::FaultKind::FailTransfer, 300},
      {"no answer", MountJson(), true, sdsim::FaultKind::NoFileAnswer, 300},
      {"file I/O fails", MountJson(), true, sdsim::FaultKind::FileIoFail, 300},
      {"busy only", MountJson(), true, sdsim::FaultKind::BusyForever, 300},
      {"read-only", MountJson("ro"), false, sdsim::FaultKind::FailTransfer, 300},
      {"link at the file path", MountJson("rw", linked), false, sdsim::FaultKind::FailTransfer,
       300},
      {"detail beyond the read-back", MountJson(), false, sdsim::FaultKind::FailTransfer, 65536},
      {"card vanishes", MountJson(), true, sdsim::FaultKind::Vanish, 300},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", c.mount, "", c.entries));
    const int before = OpenDescriptorCount();
    {
      Acquisition a(card, 3);
      if (c.fault)
        card.SetFault(c.kind, c.kind == sdsim::FaultKind::Vanish ? card.TransferCount() + 1 : 0, 0);
      a.Execute(1);
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, OnlyTheCardsOwnPartitionsCount) {
  // mmcblk12's partition must not be taken for one of mmcblk1.
  std::string other = CardJson("/dev/mmcblk12", MountJson());
  other.insert(other.size() - 1, ", \"mmc_host\": 5");
  sdsim::Card &mounted = Attach(other);
  sdsim::Card &card = Attach(CardJson("/dev/mmcblk1", "\"mmc_host\": 6"));
  {
    Acquisition a(card, 3);
    ASSERT_EQ(a.Execute(1), 0);
    EXPECT_TRUE(a.reader->IsUnformatted());
    EXPECT_FALSE(Contains(DataEvents(card), "enter v3"));
  }
  Acquisition b(mounted, 3);
  ASSERT_EQ(b.Execute(1), 0);
  EXPECT_TRUE(Contains(DataEvents(mounted), "file command 0x101")) << "mmcblk12p1 is its own";
  EXPECT_EQ(b.reader->GetDetailEraseCount(), ExpectedErase(mounted));
}

TEST_F(ExtensionMode, BusyHeadersAheadOfTheAnswerArePassedOver) {
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson() + ", \"busy\": {\"file\": 2}"));
  Acquisition a(card, 3);
  card.ClearTranscript();
  ASSERT_EQ(a.Execute(1), 0);
  EXPECT_FALSE(Contains(DataEvents(card), "enter v2"));
  EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
}

// A mount point the locale cannot convert must not turn into a path somewhere
// else (such as "/SmartFile6459.txt"): the direct method is used instead.
TEST_F(ExtensionMode, MountPointTheLocaleCannotCarryFallsBackToTheDirectMethod) {
  ScratchDir dir;
  const std::string point = dir.path + "/carte-\xC3\xA9";
  ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
  const char *saved = std::getenv("LC_ALL");
  const std::string savedValue = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson("rw", point)));
  Acquisition a(card, 3);
  const int64_t code = a.Execute(1);
  if (saved)
    setenv("LC_ALL", savedValue.c_str(), 1);
  else
    unsetenv("LC_ALL");
  ASSERT_EQ(code, 0);
  EXPECT_TRUE(a.reader->IsUnformatted());
  EXPECT_FALSE(Contains(DataEvents(card), "enter v3"));
  EXPECT_TRUE(a.reader->GetSmartFilePath().empty());
  EXPECT_EQ(a.reader->GetDetailEraseCount(), ExpectedErase(card));
}
