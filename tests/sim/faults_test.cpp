// Faults on demand on both transports: failed, errored and cut-short
// transfers, a card that vanishes, and misbehaving SMART answers. (A process
// killed mid-way is in launcher_test.cpp.)
#include "sim_test_util.h"

#include <algorithm>
#include <linux/fs.h>
#include <sys/stat.h>

using namespace simtest;

namespace {

using Faults = CardTest;
const char *const kBoth[] = {"usb.json", "native.json"};

TEST_F(Faults, FailedTransfersAreIoErrorsAndOnlyThose) {
  for (const char *file : kBoth) {
    Attach(file);
    card_->SetFault(sdsim::FaultKind::FailTransfer, 1, 2);
    Sector s{};
    EXPECT_EQ(Rw(false, 10, 1, s.data()).rc, 0) << file;
    for (int i = 0; i < 2; ++i) {
      const Result r = Rw(false, 10, 1, s.data());
      EXPECT_EQ(r.rc, -1) << file;
      EXPECT_EQ(r.err, EIO) << file;
    }
    EXPECT_EQ(Rw(false, 10, 1, s.data()).rc, 0) << file;
    EXPECT_EQ(card_->Transcript()[1], (sdsim::Transfer{"read", 10, 1, "failed"})) << file;
  }
}

TEST_F(Faults, ErrorStatusMovesNoData) {
  for (const char *file : kBoth) {
    Attach(file);
    const Sector before = card_->ReadSector(20);
    Sector put{}, got{};
    put.fill(0x42);
    got.fill(0xEE);
    card_->SetFault(sdsim::FaultKind::ErrorStatus, 0, 2);
    const Result w = Rw(true, 20, 1, put.data());
    const Result r = Rw(false, 20, 1, got.data());
    EXPECT_EQ(w.rc, 0) << file;
    EXPECT_EQ(r.rc, 0) << file;
    EXPECT_EQ(card_->ReadSector(20), before) << file;
    EXPECT_EQ(got[0], 0xEE) << file;
    EXPECT_EQ(card_->Transcript().back().what, "error status");
    if (card_->IsNative()) {
      const std::uint32_t error_ecc = 1u << 19 | 1u << 21; // ERROR, CARD_ECC_FAILED
      EXPECT_EQ(w.cmd.response[0] & error_ecc, error_ecc);
      EXPECT_EQ(r.cmd.response[0] & error_ecc, error_ecc);
    } else {
      EXPECT_EQ(w.hdr.status, 0x02);
      EXPECT_EQ(w.sense[2] & 0x0F, 0x03); // MEDIUM ERROR
      EXPECT_EQ(w.sense[12], 0x0C);       // write error
      EXPECT_EQ(w.hdr.resid, 512);
      EXPECT_EQ(r.sense[12], 0x11); // unrecovered read error
    }
  }
}

TEST_F(Faults, ShortTransfersMoveHalfTheBlocks) {
  std::vector<std::uint8_t> put(4 * 512);
  for (std::size_t i = 0; i < put.size(); ++i)
    put[i] = static_cast<std::uint8_t>(1 + i / 512);
  for (const char *file : kBoth) {
    Attach(file);
    card_->SetFault(sdsim::FaultKind::ShortTransfer, 0);
    const Result w = Rw(true, 40, 4, put.data());
    if (card_->IsNative()) { // the data phase breaks off
      EXPECT_EQ(w.rc, -1);
      EXPECT_EQ(w.err, EIO);
    } else { // GOOD, with the rest in resid
      EXPECT_EQ(w.rc, 0);
      EXPECT_EQ(w.hdr.status, 0);
      EXPECT_EQ(w.hdr.resid, 1024);
    }
    EXPECT_EQ(card_->ReadSector(41)[0], 2) << file;
    EXPECT_EQ(card_->ReadSector(42)[0], 0) << file;
    EXPECT_EQ(card_->Transcript().back().what, "data (short)") << file;
  }
}

// The disk's other commands take the error and short faults as READ and
// WRITE do: CHECK CONDITION with MEDIUM ERROR and nothing moved, or half the
// reply with the rest in resid.
TEST_F(Faults, ScsiDiskCommandsTakeErrorAndShortFaults) {
  Attach("usb.json");
  const struct {
    std::vector<unsigned char> cdb;
    unsigned len, reply; // dxfer_len, reply bytes without a fault
    const char *what;
  } commands[] = {
      {{0, 0, 0, 0, 0, 0}, 0, 0, "test unit ready"},
      {{0x12, 0, 0, 0, 96, 0}, 96, 36, "inquiry"},
      {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 8, "capacity"},
  };
  for (const auto &c : commands) {
    for (auto kind : {sdsim::FaultKind::ErrorStatus, sdsim::FaultKind::ShortTransfer}) {
      SCOPED_TRACE(std::string(c.what) + " " + sdsim::FaultName(kind));
      std::vector<unsigned char> buf(96, 0xEE);
      card_->SetFault(kind, card_->TransferCount());
      const Result r = Scsi(fd_, c.cdb, SG_DXFER_FROM_DEV, c.len ? buf.data() : nullptr, c.len);
      ASSERT_EQ(r.rc, 0);
      const bool error = kind == sdsim::FaultKind::ErrorStatus;
      const unsigned moved = error ? 0 : c.reply / 2;
      EXPECT_EQ(r.hdr.resid, static_cast<int>(c.len - moved));
      EXPECT_EQ(std::count(buf.begin(), buf.end(), 0xEE), static_cast<long>(96 - moved));
      if (error) {
        EXPECT_EQ(r.hdr.status, 0x02);
        EXPECT_EQ(r.hdr.driver_status, 0x08);
        EXPECT_EQ(r.sense[2] & 0x0F, 0x03); // MEDIUM ERROR
        EXPECT_EQ(r.sense[12], 0x11);
        EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"cmd", 0, 0, "error status"}));
      } else {
        EXPECT_EQ(r.hdr.status, 0);
        EXPECT_EQ(card_->Transcript().back(),
                  (sdsim::Transfer{"cmd", 0, 0, std::string(c.what) + " (short)"}));
      }
      // One command long: the next answers in full.
      const Result next = Scsi(fd_, c.cdb, SG_DXFER_FROM_DEV, c.len ? buf.data() : nullptr, c.len);
      EXPECT_EQ(next.rc | next.hdr.status, 0);
      EXPECT_EQ(next.hdr.resid, static_cast<int>(c.len - c.reply));
    }
  }
  // The capacity cut short keeps the last LBA, not the block length.
  unsigned char reply[8] = {};
  card_->SetFault(sdsim::FaultKind::ShortTransfer, card_->TransferCount());
  Scsi(fd_, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SG_DXFER_FROM_DEV, reply, 8);
  EXPECT_EQ(Be(reply, 4), card_->CapacitySectors() - 1);
  EXPECT_EQ(Be(reply + 4, 4), 0u);
}

// The native card's commands without data: an error status is the ERROR bit
// of the R1 answer; there is nothing to cut short.
TEST_F(Faults, MmcCommandsWithoutDataAnswerErrorInTheStatus) {
  Attach("native.json");
  const struct {
    unsigned opcode, arg, flags;
    const char *what;
  } commands[] = {{13, 0xAAAAu << 16, kR1Ac, "status"},
                  {12, 0, kR1bAc, "stop"},
                  {23, 8, kR1bAc, "set block count"}};
  for (const auto &c : commands) {
    SCOPED_TRACE(c.what);
    card_->SetFault(sdsim::FaultKind::ErrorStatus, card_->TransferCount());
    Result r = Mmc(fd_, c.opcode, c.arg, c.flags, false, 0, nullptr);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.cmd.response[0], 0x900u | 1u << 19); // ERROR
    EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"cmd", 0, 0, "error status"}));
    card_->SetFault(sdsim::FaultKind::ShortTransfer, card_->TransferCount());
    r = Mmc(fd_, c.opcode, c.arg, c.flags, false, 0, nullptr);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.cmd.response[0], 0x900u);
    EXPECT_EQ(card_->Transcript().back(),
              (sdsim::Transfer{"cmd", 0, 0, std::string(c.what) + " (short)"}));
    card_->SetFault(sdsim::FaultKind::FailTransfer, card_->TransferCount());
    r = Mmc(fd_, c.opcode, c.arg, c.flags, false, 0, nullptr);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, EIO);
    EXPECT_EQ(card_->Transcript().back(), (sdsim::Transfer{"cmd", 0, 0, "failed"}));
  }
}

// All the data moves, then the command ends with an error status; commands
// without sectors do not take the fault.
TEST_F(Faults, ErrorWithDataMovesEverythingAndReportsTheError) {
  for (const char *file : kBoth) {
    SCOPED_TRACE(file);
    Attach(file);
    Sector stored{}, got{}, put{};
    stored.fill(0x5C);
    card_->WriteSector(30, stored.data());
    put.fill(0x42);
    card_->SetFault(sdsim::FaultKind::ErrorStatusWithData, 0, 2);
    if (card_->IsNative())
      EXPECT_EQ(Mmc(fd_, 13, 0xAAAAu << 16, kR1Ac, false, 0, nullptr).cmd.response[0], 0x900u);
    else
      EXPECT_EQ(Scsi(fd_, {0, 0, 0, 0, 0, 0}, SG_DXFER_NONE, nullptr, 0).hdr.status, 0);
    const Result r = Rw(false, 30, 1, got.data());
    const Result w = Rw(true, 31, 1, put.data());
    EXPECT_EQ(got, stored);
    EXPECT_EQ(card_->ReadSector(31), put);
    for (const Result *x : {&r, &w}) {
      EXPECT_EQ(x->rc, 0);
      if (card_->IsNative()) {
        const std::uint32_t error_ecc = 1u << 19 | 1u << 21;
        EXPECT_EQ(x->cmd.response[0] & error_ecc, error_ecc);
      } else {
        EXPECT_EQ(x->hdr.status, 0x02);
        EXPECT_EQ(x->hdr.resid, 0);
        EXPECT_EQ(x->sense[2] & 0x0F, 0x03); // MEDIUM ERROR
      }
    }
    if (!card_->IsNative()) {
      EXPECT_EQ(r.sense[12], 0x11);
      EXPECT_EQ(w.sense[12], 0x0C);
    }
    const auto seen = card_->Transcript();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], (sdsim::Transfer{"read", 30, 1, "data (error status)"}));
    EXPECT_EQ(seen[2], (sdsim::Transfer{"write", 31, 1, "data (error status)"}));
    // The firmware saw the sectors: an enter pattern answered this way
    // still enters special mode.
    card_->SetFault(sdsim::FaultKind::ErrorStatusWithData, card_->TransferCount());
    Sector enter = EnterPattern(card_->EntryString(), false);
    EXPECT_EQ(Rw(true, 0, 1, enter.data()).rc, 0);
    EXPECT_TRUE(card_->InSpecialMode());
    EXPECT_EQ(card_->Transcript().back().what, "enter v2 (error status)");
  }
}

TEST_F(Faults, VanishedCardFailsEverythingIncludingReopen) {
  for (const char *file : kBoth) {
    Attach(file);
    card_->SetFault(sdsim::FaultKind::Vanish, 2);
    Sector s{};
    ASSERT_EQ(Rw(false, 0, 1, s.data()).rc, 0);
    ASSERT_EQ(Rw(false, 1, 1, s.data()).rc, 0);
    for (int i = 0; i < 3; ++i) {
      const Result r = Rw(false, 0, 1, s.data());
      EXPECT_EQ(r.rc, -1) << file;
      EXPECT_EQ(r.err, ENODEV) << file;
    }
    std::uint64_t bytes = 0;
    EXPECT_EQ(::ioctl(fd_, BLKGETSIZE64, &bytes), -1);
    EXPECT_EQ(::pread(fd_, s.data(), 512, 0), -1);
    errno = 0;
    EXPECT_EQ(OpenNode(card_->Node()), -1);
    EXPECT_EQ(errno, ENOENT) << file;
    struct stat st {};
    EXPECT_EQ(::stat(card_->Node().c_str(), &st), -1);
    EXPECT_EQ(errno, ENOENT) << file;
    EXPECT_EQ(::access(card_->Node().c_str(), F_OK), -1);
    EXPECT_EQ(card_->TransferCount(), 2u) << file;
  }
}

TEST_F(Faults, BusyForeverAndDamagedHeaders) {
  Attach("usb.json");
  Enter(); // transfer 0
  card_->SetFault(sdsim::FaultKind::BusyForever, 1);
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(IsBusyHeader(Read(1).data()));
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(IsBusyHeader(Read(256 * (i + 1) + 0x90).data())); // PMT never done
  card_->ClearFaults();
  // The configured busy answer was given while the card stayed busy.
  card_->SetFault(sdsim::FaultKind::BadSignature, card_->TransferCount());
  const Sector s = Read(1);
  EXPECT_EQ(std::string(s.begin(), s.begin() + 3), "SI1");
  EXPECT_TRUE(SignatureOk(Read(1).data())); // once only
  card_->SetFault(sdsim::FaultKind::WrongDetailType, card_->TransferCount());
  EXPECT_EQ(DetailType(Read(1).data()), 3u);
  EXPECT_EQ(DetailType(Read(3).data()), 3u);
}

TEST(FaultNames, AreTheLaunchersNames) {
  using K = sdsim::FaultKind;
  const std::pair<K, const char *> names[] = {{K::FailTransfer, "fail"},
                                              {K::ErrorStatus, "error"},
                                              {K::ShortTransfer, "short"},
                                              {K::Vanish, "vanish"},
                                              {K::Kill, "kill"},
                                              {K::BusyForever, "busy-forever"},
                                              {K::BadSignature, "bad-signature"},
                                              {K::WrongDetailType, "wrong-type"},
                                              {K::NoFileAnswer, "no-file-answer"},
                                              {K::FileIoFail, "file-fail"},
                                              {K::ErrorStatusWithData, "error-with-data"},
                                              {K::FileKill, "file-kill"}};
  K kind{};
  for (const auto &n : names) {
    EXPECT_STREQ(sdsim::FaultName(n.first), n.second);
    ASSERT_TRUE(sdsim::ParseFaultName(n.second, kind)) << n.second;
    EXPECT_EQ(kind, n.first);
  }
  EXPECT_FALSE(sdsim::ParseFaultName("explode", kind));
}

} // namespace
