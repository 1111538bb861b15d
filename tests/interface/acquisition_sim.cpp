// GetSmartInfo end to end against the virtual card: the unmodified library
// opens the card's node and talks to it through the same system calls as to
// hardware.
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

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
  const size_t at = text.find(from);
  if (at == std::string::npos)
    throw std::runtime_error("card file has no " + from);
  return text.replace(at, from.size(), to);
}

std::string Describe(const std::vector<sdsim::Transfer> &ts) {
  std::string s;
  for (const auto &t : ts)
    s += sdsim::ToString(t) + "\n";
  return s;
}

// Writes to sector 0 that carry user data (not command patterns).
size_t DataWritesToSector0(const std::vector<sdsim::Transfer> &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    if (t.op == "write" && t.lba == 0 && t.what == "data")
      ++n;
  return n;
}

size_t Writes(const std::vector<sdsim::Transfer> &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    if (t.op == "write")
      ++n;
  return n;
}

Sector EnterPattern(const char *entry) {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[i] = static_cast<std::uint8_t>(entry[i]);
    s[255 - i] = static_cast<std::uint8_t>(entry[i]);
  }
  s[256] = 2;
  s[257] = 1;
  s[510] = 1;
  s[511] = 2;
  return s;
}

class AcquisitionSimTest : public SessionTest {
protected:
  void SetUp() override {
    SessionTest::SetUp();
    WriteConfig(dir.File("config"),
                {{L"Authorization", {{L"Vendor ID", L"7"}}},
                 {L"SMART Entry", {{L"7", L"SDSMTEST"}}},
                 {L"Flash Type Name",
                  {{L"98 3a 98 a3 76 51", L"15nm TLC"}, {L"45 de 94 93 76 51", L"19nm MLC"}}}});
  }
  void TearDown() override {
    sdsim::DetachAll();
    SessionTest::TearDown();
  }

  // Names the card's node with the scratch configuration.
  void Name(const sdsim::Card &card) {
    CwdGuard cwd;
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    ASSERT_EQ(SetDiskName(card.Node().c_str()), 0) << GetErrorMessage();
  }

  ScratchDir dir;
};

TEST_F(AcquisitionSimTest, UsbCardEndToEnd) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  EXPECT_EQ(_IsUsbDevice, 1);
  const Sector before = card.ReadSector(0);

  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage() << "\n" << Describe(card.Transcript());
  EXPECT_EQ(GetErrorCode(), 0);
  EXPECT_STREQ(GetErrorMessage(), "");
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.ReadSector(0), before);
  // Sector 0 was read first; the leave pattern stayed in it, so the final
  // check read it and wrote the copy back once.
  const auto ts = card.Transcript();
  ASSERT_GE(ts.size(), 3u);
  EXPECT_EQ(ts.front(), (sdsim::Transfer{"read", 0, 1, "data"})) << Describe(ts);
  EXPECT_EQ(ts[ts.size() - 2], (sdsim::Transfer{"read", 0, 1, "data"})) << Describe(ts);
  EXPECT_EQ(ts.back(), (sdsim::Transfer{"write", 0, 1, "data"})) << Describe(ts);
  EXPECT_EQ(DataWritesToSector0(ts), 1u);

  EXPECT_EQ(GetPECycleCount(), 3000u);
  EXPECT_EQ(GetPowerCycleCount(), 812u);
  EXPECT_EQ(GetAbnormalShutdownCount(), 3u);
  EXPECT_EQ(GetInitialBadBlockCount(), 12u);
  EXPECT_EQ(GetLaterBadBlockCount(), 8u);
  EXPECT_EQ(GetMinSpareBlockCount(), 160u);
  EXPECT_EQ(GetTotalCECount(), 8u);
  EXPECT_EQ(GetTotalVBCountOfFlash(), 4096u);
  EXPECT_EQ(GetTotalPhysicalBlockCountOfFlash(), 16384u);
  EXPECT_EQ(GetECCCapacity(), 72);
  EXPECT_EQ(GetHeaderVersion(), 2);
  EXPECT_STREQ(GetHWVersion(), "SM2708-SDSIM");
  EXPECT_STREQ(GetFWVersion(), "FW1.07.22");
  EXPECT_STREQ(GetClientMark(), "SDSIM VIRTUAL CARD");
  EXPECT_STREQ(GetFlashID(), "98 3A 98 A3 76 51 ");
  EXPECT_STREQ(GetFlashType(), "15nm TLC");
  // 31914983424 bytes: far above 2048 MiB.
  EXPECT_STREQ(GetMPVersion(), "6459.7.3.12");

  // Erase counts (selector 5 asks for them) in host order, one per VB entry.
  unsigned int bytes = 0;
  EXPECT_EQ(GetDetailEraseCount(nullptr, 0, bytes), 1);
  EXPECT_EQ(bytes, card.EraseCounts().size() * 4);
  std::vector<char> table(bytes);
  EXPECT_EQ(GetDetailEraseCount(table.data(), bytes, bytes), 0);
  EXPECT_EQ(std::memcmp(table.data(), _EraseCount.data(), bytes), 0);
  EXPECT_GT(GetMaxEraseCount(), 0u);
  EXPECT_LE(GetMinEraseCount(), GetMaxEraseCount());
  const double life = GetLifeMonitor();
  EXPECT_NEAR(life, 100.0 * GetTotalEraseCount() / 4 / (3000.0 * 4096), 1e-9);

  // The same card again: the same 18-character flash ID.
  const std::string firstId = GetFlashID();
  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(std::string(GetFlashID()), firstId);
  EXPECT_EQ(firstId.size(), 18u);
  EXPECT_EQ(card.ReadSector(0), before);
}

TEST_F(AcquisitionSimTest, SelectorChoosesTheDetailTables) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  const struct {
    unsigned int selector;
    bool erase, read;
  } cases[] = {{2, false, true}, {1, true, false}, {0x103, true, true}, {0, false, false}};
  for (const auto &c : cases) {
    _FuncSel = c.selector;
    ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    unsigned int eraseBytes = 0, readBytes = 0;
    GetDetailEraseCount(nullptr, 0, eraseBytes);
    GetDetailReadCount(nullptr, 0, readBytes);
    EXPECT_EQ(eraseBytes != 0, c.erase) << c.selector;
    EXPECT_EQ(readBytes != 0, c.read) << c.selector;
    EXPECT_EQ(GetPowerCycleCount(), 812u);
  }
}

TEST_F(AcquisitionSimTest, NativeCardEndToEnd) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/native.json");
  Name(card);
  EXPECT_EQ(_IsUsbDevice, 0);
  const Sector before = card.ReadSector(0);

  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage() << "\n" << Describe(card.Transcript());
  EXPECT_EQ(GetErrorCode(), 0);
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.ReadSector(0), before);
  EXPECT_EQ(GetPECycleCount(), 10000u);
  EXPECT_EQ(GetPowerCycleCount(), 240u);
  EXPECT_EQ(GetTotalVBCountOfFlash(), 2000u);
  EXPECT_STREQ(GetHWVersion(), "NV6461-SDSIM");
  EXPECT_STREQ(GetClientMark(), "SDSIM NATIVE CARD");
  EXPECT_STREQ(GetFlashID(), "45 DE 94 93 76 51 ");
  EXPECT_STREQ(GetFlashType(), "19nm MLC");
  // A version-1 header: the capacity comes from the native drive.
  EXPECT_STREQ(GetMPVersion(), "6461.7.2.7");
}

TEST_F(AcquisitionSimTest, FailureAfterTheBackupRestoresSectorZero) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  const Sector before = card.ReadSector(0);
  card.SetFault(sdsim::FaultKind::BadSignature, 0, 0);

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 12288);
  EXPECT_STREQ(GetErrorMessage(), "Incorrect S.M.A.R.T contents.");
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.ReadSector(0), before);
  const auto ts = card.Transcript();
  ASSERT_FALSE(ts.empty());
  EXPECT_EQ(ts.back(), (sdsim::Transfer{"write", 0, 1, "data"})) << Describe(ts);
}

TEST_F(AcquisitionSimTest, CancelledRunRestoresSectorZero) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  const Sector before = card.ReadSector(0);
  _Terminated = true;
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 36864);
  EXPECT_STREQ(GetErrorMessage(), "User terminated");
  EXPECT_FALSE(card.InSpecialMode());
  EXPECT_EQ(card.ReadSector(0), before);
  _Terminated = false;
  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
}

TEST_F(AcquisitionSimTest, FailedBackupReadWritesNothing) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  const Sector before = card.ReadSector(0);
  // A copy from an earlier run must not be written back.
  _MBRBuffer = Bulk<unsigned char>(512);
  std::memset(_MBRBuffer.Data(), 0xAA, 512);
  // The first transfer of the run - the backup read - fails.
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 1);

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), 4098);
  EXPECT_STREQ(GetErrorMessage(), "USB Transaction Error (0)");
  const auto ts = card.Transcript();
  EXPECT_EQ(Writes(ts), 0u) << Describe(ts);
  EXPECT_EQ(card.ReadSector(0), before);
}

TEST_F(AcquisitionSimTest, PatternLeftInSectorZeroIsNotTakenForTheCardsOwn) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  for (const char *entry : {"SDSMTEST", "OTHERENT"}) {
    const Sector left = EnterPattern(entry);
    card.WriteSector(0, left.data());
    card.ClearTranscript();
    EXPECT_EQ(GetSmartInfo(), 1);
    EXPECT_EQ(GetErrorCode(), -1);
    EXPECT_STREQ(GetErrorMessage(),
                 "Sector 0 holds a special-mode pattern; restore the saved sector 0 first.");
    const auto ts = card.Transcript();
    EXPECT_EQ(Writes(ts), 0u) << Describe(ts);
    EXPECT_EQ(card.ReadSector(0), left);
  }
}

TEST_F(AcquisitionSimTest, SecondAcquisitionOfTheSameCardIsRefused) {
  sdsim::Card &card = sdsim::AttachFile(SDSIM_CARDS_DIR "/usb.json");
  Name(card);
  // Another acquisition holds the card (its own descriptor on the node).
  const int other = open(card.Node().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(other, -1);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  card.ClearTranscript();

  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), -1);
  EXPECT_EQ(std::string(GetErrorMessage()),
            "Device is busy: another acquisition is running on " + card.Node());
  EXPECT_EQ(Writes(card.Transcript()), 0u) << Describe(card.Transcript());
  close(other);

  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
}

TEST_F(AcquisitionSimTest, CapacityFromTheUsbDriveIsNotCutTo32Bits) {
  // A version-1 header: the capacity comes from READ CAPACITY. 62333952
  // sectors x 512 passes 2^32 (cut to 32 bits it would read 1764 MiB).
  const std::string json = Replace(ReadFile(SDSIM_CARDS_DIR "/usb.json"), "\"HeaderVersion\": 2",
                                   "\"HeaderVersion\": 1");
  sdsim::Card &card = sdsim::AttachJson(json, SDSIM_CARDS_DIR);
  Name(card);
  ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(GetHeaderVersion(), 1);
  EXPECT_STREQ(GetMPVersion(), "6459.7.3.12");

  // The drive cannot tell: no capacity (prefix 6437), and no error recorded.
  card.SetFault(sdsim::FaultKind::FailTransfer, card.TransferCount(), 0);
  EXPECT_STREQ(GetMPVersion(), "6437.7.3.12");
  EXPECT_EQ(GetErrorCode(), 0);
}

} // namespace
