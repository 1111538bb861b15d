// SPDX-License-Identifier: MIT
// Hostile input through the exported functions: device names and
// configuration paths a careless or hostile host could hand over. Each must
// end in a clear error (result 1, a code and a message), and change nothing
// on disk or on the card.
#include "config.h"

#include "sdsim/sdsim.h"
#include "sdsmart/sdsmart.h"

#include <csignal>
#include <vector>

using namespace sdtest;

namespace {

// Every entry of a tree with its type, size and (for small files) contents:
// equal snapshots mean nothing was created, removed or rewritten.
std::map<std::string, std::string> Snapshot(const std::string &dir) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st;
    if (ec || lstat(it->path().c_str(), &st) != 0)
      continue;
    std::string what = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode) && st.st_size < (1 << 20))
      what += ":" + ReadFile(it->path());
    out[it->path().string()] = what;
  }
  return out;
}

using HostileName = std::pair<const char *, std::string>; // what it is, the text

class FrontDoor : public ::testing::Test {
protected:
  void SetUp() override {
    card = &sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
    config = scratch.File("config");
    WriteConfig(config, CardConfig());
    ASSERT_EQ(SetConfigPath(config.c_str()), 0) << GetErrorMessage();
    sector0 = card->ReadSector(0);
    card->ClearTranscript();
    before = Snapshot(scratch.path);
  }
  void TearDown() override {
    sdsim::DetachAll();
    SetSmartVersion(2);
  }

  // Result 1 with a code and a message. (Errors made from a text alone, such
  // as a file that cannot be read, carry code -1; the message tells which.)
  static void ExpectClearError(int result, const std::string &what) {
    EXPECT_EQ(result, 1) << what;
    EXPECT_NE(GetErrorCode(), 0) << what;
    ASSERT_NE(GetErrorMessage(), nullptr) << what;
    EXPECT_STRNE(GetErrorMessage(), "") << what;
  }

  void ExpectNothingChanged(const std::string &what) {
    EXPECT_TRUE(card->Transcript().empty()) << what << ": the card was reached";
    EXPECT_EQ(card->ReadSector(0), sector0) << what;
    EXPECT_FALSE(card->InSpecialMode()) << what;
    EXPECT_EQ(Snapshot(scratch.path), before) << what << ": files changed";
  }

  ScratchDir scratch;
  std::string config;
  sdsim::Card *card = nullptr;
  Sector sector0{};
  std::map<std::string, std::string> before;
};

TEST_F(FrontDoor, HostileDeviceNamesGiveAnErrorAndTouchNothing) {
  const std::string mark = scratch.File("pwned");
  // Things that are no card: a disk image (whose bytes must stay as they
  // are) and character devices.
  const std::string image = scratch.File("disk.img");
  WriteFile(image, std::string(64 * 512, '\x5A'));
  before = Snapshot(scratch.path);
  const std::vector<HostileName> names = {
      {"empty", ""},
      {"very long", "/dev/" + std::string(70000, 's')},
      {"semicolon", "/dev/sdx; touch " + mark},
      {"glob", "/dev/sd*"},
      {"invalid UTF-8", "/dev/\xFF\xFE\x80sdx"},
      {"card node with a cut UTF-8 tail", "/dev/sdx\xC3"},
      {"relative", "sdx"},
      {"directory", scratch.path},
      {"disk image", image},
      {"null device", "/dev/null"},
  };
  for (const auto &[label, name] : names) {
    for (unsigned char version : {2, 3}) {
      const std::string what = std::string(label) + ", version " + std::to_string(version);
      // Naming is accepted or refused, but never crashes.
      const int named = SetDiskName(name.c_str());
      EXPECT_TRUE(named == 0 || named == 1) << what;
      SetSmartVersion(version);
      ExpectClearError(GetSmartInfo(), what);
      ExpectNothingChanged(what);
      struct stat st;
      EXPECT_NE(lstat(mark.c_str(), &st), 0) << what << ": a shell ran the name";
    }
  }
}

// A FIFO as the card or as the configuration: opening one for reading waits
// for a writer that never comes, so the library must refuse what is not a
// device or a regular file instead of hanging the host. Run in a child so
// that a hang fails the test instead of the suite.
TEST_F(FrontDoor, FifosDoNotHang) {
  const std::string fifo = scratch.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  before = Snapshot(scratch.path);
  for (int use : {2, 3, 0}) { // the card with SMART version 2 or 3; the configuration
    const int status = RunInChild(
        [&] {
          if (use == 0)
            return SetConfigPath(fifo.c_str()) == 1 && GetErrorCode() != 0 ? 0 : 1;
          if (SetDiskName(fifo.c_str()) != 0)
            return 3;
          SetSmartVersion(static_cast<unsigned char>(use));
          return GetSmartInfo() == 1 && GetErrorCode() != 0 ? 0 : 1;
        },
        60); // a guard against a hang, not a measure of speed
    EXPECT_NE(status, -SIGALRM) << "a FIFO blocks, use " << use;
    EXPECT_EQ(status, 0) << "no clear error, use " << use;
  }
  ExpectNothingChanged("fifo");
}

// After each bad configuration path the good one still works: the card is
// read end to end, so a failed load left nothing half-set that breaks it. A
// configuration of 100 MiB is no configuration: it is refused with a clear
// code rather than read whole into memory (as wide text, four bytes for
// every two of the file) at every SetDiskName, SetConfigPath and
// acquisition. That file is well-formed: the real configuration followed by
// one comment that fills the rest, scrambled as the vendor tool stores it.
TEST_F(FrontDoor, BadConfigurationPathsGiveAnError) {
  const std::string empty = scratch.File("empty");
  WriteFile(empty, "");
  const std::string huge = scratch.File("huge");
  CIniFile ini;
  ini.WriteInteger(L"Authorization", L"Vendor ID", kVendor);
  ini.WriteString(L"SMART Entry", std::to_wstring(kVendor), L"SDSMTEST");
  std::wstring text = ini.ToText() + L"/*";
  text.resize((100u << 20) / 2 - 5, L' '); // UTF-16 units after the mark
  WriteIniText(huge, text + L"*/\r\n", true);
  before = Snapshot(scratch.path);

  const std::vector<HostileName> paths = {
      {"directory", scratch.path},
      {"0-byte file", empty},
      // What cannot be read (a symlink loop, a dangling link, a path through
      // a file, a file the host may not read) is missing to the library.
      {"missing", scratch.File("missing")},
      {"empty path", ""},
      {"very long", "/" + std::string(70000, 'c')},
      {"invalid UTF-8", scratch.File("\xFF\xFE")},
      {"100 MiB configuration", huge},
  };
  for (const auto &[label, path] : paths) {
    ExpectClearError(SetConfigPath(path.c_str()), label);
    ExpectNothingChanged(label);
  }

  ASSERT_EQ(SetConfigPath(config.c_str()), 0) << GetErrorMessage();
  ASSERT_EQ(SetDiskName(card->Node().c_str()), 0) << GetErrorMessage();
  SetSmartVersion(2);
  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(card->ReadSector(0), sector0);
  EXPECT_FALSE(card->InSpecialMode());
}

} // namespace
