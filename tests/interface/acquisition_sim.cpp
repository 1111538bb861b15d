// The guards of GetSmartInfo against the virtual card: the unmodified library
// opens the card's node and talks to it through the same system calls as to
// hardware. (Whole acquisitions, their values and transcripts are shown by
// the acquisition tests.)
#include "session_fixture.h"

#include "sdsim/sdsim.h"
#include "sdsmart/sdsmart.h"

#include <sys/file.h>

#include <cstring>
#include <fstream>
#include <sstream>

using namespace sdsmart_test;

namespace {

using Sector = std::array<std::uint8_t, 512>;

std::string Describe(const std::vector<sdsim::Transfer> &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

size_t Writes(const std::vector<sdsim::Transfer> &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.op == "write";
  return n;
}

class AcquisitionSimTest : public SessionTest {
protected:
  void SetUp() override {
    SessionTest::SetUp();
    WriteConfig(dir.File("config"), {{L"Authorization", {{L"Vendor ID", L"7"}}},
                                     {L"SMART Entry", {{L"7", L"SDSMTEST"}}}});
  }
  void TearDown() override {
    sdsim::DetachAll();
    SessionTest::TearDown();
  }

  // Attaches a card and names its node with the scratch configuration.
  sdsim::Card &Attach(const std::string &json = "") {
    sdsim::Card &card = json.empty() ? sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json")
                                     : sdsim::AttachJson(json, SDSIM_CARDS_DIR);
    CwdGuard cwd;
    EXPECT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(SetDiskName(card.Node().c_str()), 0) << GetErrorMessage();
    before = card.ReadSector(0);
    return card;
  }

  ScratchDir dir;
  Sector before{};
};

TEST_F(AcquisitionSimTest, FailedBackupReadWritesNothing) {
  sdsim::Card &card = Attach();
  // A copy from an earlier run must not be written back.
  _MBRBuffer = Bulk<unsigned char>(512);
  std::memset(_MBRBuffer.Data(), 0xAA, 512);
  // The first transfer of the run - the backup read - fails.
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 1);

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 4098);
  EXPECT_STREQ(GetErrorMessage(), "USB Transaction Error (0)");
  EXPECT_EQ(Writes(card.Transcript()), 0u) << Describe(card.Transcript());
  EXPECT_EQ(card.ReadSector(0), before);
}

TEST_F(AcquisitionSimTest, PatternLeftInSectorZeroIsNotTakenForTheCardsOwn) {
  sdsim::Card &card = Attach();
  for (const char *entry : {"SDSMTEST", "OTHERENT"}) {
    // An enter pattern as a crashed run would have left it.
    Sector left{};
    for (int i = 0; i < 8; ++i)
      left[i] = left[255 - i] = static_cast<std::uint8_t>(entry[i]);
    left[256] = 2;
    left[257] = 1;
    left[510] = 1;
    left[511] = 2;
    card.WriteSector(0, left.data());
    card.ClearTranscript();
    EXPECT_EQ(GetSmartInfo(), 1);
    EXPECT_EQ(GetErrorCode(), -1);
    EXPECT_STREQ(GetErrorMessage(),
                 "Sector 0 holds a special-mode pattern; restore the saved sector 0 first.");
    EXPECT_EQ(Writes(card.Transcript()), 0u) << Describe(card.Transcript());
    EXPECT_EQ(card.ReadSector(0), left);
  }
}

TEST_F(AcquisitionSimTest, SecondAcquisitionOfTheSameCardIsRefused) {
  sdsim::Card &card = Attach();
  // Another acquisition holds the card (its own descriptor on the node).
  const int other = open(card.Node().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(other, -1);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  card.ClearTranscript();

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  EXPECT_EQ(std::string(GetErrorMessage()),
            "Device is busy: another acquisition is running on " + card.Node());
  EXPECT_TRUE(card.Transcript().empty()) << Describe(card.Transcript());
  close(other);
  // Released with its holder.
  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(card.ReadSector(0), before);
}

TEST_F(AcquisitionSimTest, CapacityFromTheUsbDriveIsNotCutTo32Bits) {
  // A version-1 header: the capacity comes from READ CAPACITY. 62333952
  // sectors x 512 passes 2^32 (cut to 32 bits it would read 1764 MiB).
  std::ifstream in(SDSIM_CARDS_DIR "/usb.json");
  std::stringstream text;
  text << in.rdbuf();
  std::string json = text.str();
  const std::string from = "\"HeaderVersion\": 2";
  const size_t at = json.find(from);
  ASSERT_NE(at, std::string::npos);
  sdsim::Card &card = Attach(json.replace(at, from.size(), "\"HeaderVersion\": 1"));
  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(GetHeaderVersion(), 1);
  EXPECT_STREQ(GetMPVersion(), "6459.7.3.12");

  // The drive cannot tell: no capacity (prefix 6437), and no error recorded.
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 0);
  EXPECT_STREQ(GetMPVersion(), "6437.7.3.12");
  EXPECT_EQ(GetErrorCode(), 0);
}

} // namespace
