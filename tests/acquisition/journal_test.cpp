// SPDX-License-Identifier: MIT
// The sector-0 journal (SetJournalDirectory) and the lock around a run, as a
// host sees them: a journal is applied only to the card it was taken from,
// and on no path does the library close a writable descriptor of a card
// whose sector 0 holds a pattern without holding the card's lock, or ask the
// kernel to re-read the partition table.
#include "virtual_card.h"

#include "sdsmart/crc.h"
#include "sdsmart/sector0_journal.h"
#include "smart/entry_sector.h"

#include <iostream>

using namespace sdtest;
using sdsim::FaultKind;

namespace {

// Events no path may show: udev would re-read a partition table that is a
// command pattern just then.
std::string Forbidden(const Seq &events) {
  std::string out;
  for (const auto &e : events)
    if (e.what == "close writable unlocked pattern" || e.what == "reread partitions")
      out += sdsim::ToString(e) + "\n";
  return out;
}

class Journal : public AcquisitionTest {
protected:
  void TearDown() override {
    SetJournalDirectory(nullptr);
    AcquisitionTest::TearDown();
  }
  // A card on an image in the scratch directory, its sectors kept across
  // attachments.
  sdsim::Card &Attach(Json json, const std::string &image) {
    json["image"] = File(image);
    return AttachNamed(json);
  }
  std::string JournalDir() {
    const std::string d = File("journal");
    mkdir(d.c_str(), 0700);
    return d;
  }
};

} // namespace

TEST_F(Journal, SetUpRefusesAMissingDirectoryAndNullTurnsItOff) {
  ExpectFailed(SetJournalDirectory(File("none").c_str()), SDSMART_E_UNCODED,
               "The journal directory " + File("none") +
                   " cannot be used: No such file or directory");
  EXPECT_EQ(SetJournalDirectory(JournalDir().c_str()), 0);
  EXPECT_EQ(SetJournalDirectory(""), 0);
  EXPECT_EQ(SetJournalDirectory(nullptr), 0);
}

// Card A's run fails with its restore failing too, which leaves A in special
// mode and its journal kept. Card B in the same node - another capacity, or
// another CID - is never given A's sector 0: whatever B's sector 0 holds, the
// run fails naming the journal and writes nothing. A itself gets it back.
TEST_F(Journal, AnotherCardsJournalIsNeverApplied) {
  const std::tuple<const char *, const char *, const char *> cases[] = {
      {"usb.json", "capacity_bytes", "67108864"},
      {"native.json", "CID", "035344534d544553548000000101719f"}};
  for (const auto &[file, key, other] : cases) {
    SCOPED_TRACE(file);
    Json a = LoadCardJson(file);
    a["capacity_bytes"] = 64 * 1024 * 1024 - 512 * 1024;
    a["header"]["CID"] = "035344534d54455354800000010171c3";
    const std::string image = std::string(file) + ".a.img";
    sdsim::Card *card = &Attach(a, image);
    ASSERT_EQ(SetJournalDirectory(JournalDir().c_str()), 0) << GetErrorMessage();
    const Sector original = card->ReadSector(0);
    // Past the reads of sector 0 and of the first partition's boot sector.
    card->SetFault(FaultKind::FailTransfer, card->TransferCount() + 3, 0);
    ASSERT_EQ(GetSmartInfo(), 1);
    const Sector pattern = card->ReadSector(0);
    ASSERT_NE(pattern, original) << "card A was left in special mode";
    const std::string path = CSectorJournal(JournalDir(), card->Node()).Path();
    ASSERT_TRUE(Exists(path));

    Json b = a;
    if (std::string(key) == "CID")
      b["header"]["CID"] = other;
    else
      b[key] = std::stoull(other);
    for (const Sector &held : {pattern, original}) {
      sdsim::DetachAll();
      card = &Attach(b, std::string(file) + ".b.img");
      card->WriteSector(0, held.data());
      card->ClearTranscript();
      EXPECT_EQ(GetSmartInfo(), 1);
      EXPECT_NE(std::string(GetErrorMessage()).find(path), std::string::npos) << GetErrorMessage();
      EXPECT_EQ(Writes(card->Transcript()), 0u) << Describe(card->Transcript());
      EXPECT_EQ(card->ReadSector(0), held);
      EXPECT_TRUE(Exists(path));
    }

    sdsim::DetachAll();
    card = &Attach(a, image);
    EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    EXPECT_EQ(card->ReadSector(0), original);
    EXPECT_FALSE(Exists(path));
    sdsim::DetachAll();
  }
}

// Journals written before the boot digest (version 1) stay readable: a card
// such a journal belongs to gets its sector 0 back.
TEST_F(Journal, AVersionOneJournalIsStillApplied) {
  Json json = LoadCardJson("usb.json");
  json["capacity_bytes"] = 64 * 1024 * 1024;
  sdsim::Card &card = Attach(json, "v1.img");
  ASSERT_EQ(SetJournalDirectory(JournalDir().c_str()), 0);
  const Sector original = card.ReadSector(0);
  std::string text = "sdsmart-sector0-journal 1\nnode " + card.Node() +
                     "\ncapacity-sectors 131072\ncid -\ntime 2026-01-01T00:00:00Z\nsector0 ";
  char hex[8];
  for (unsigned char byte : original) {
    std::snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  text += "\n";
  const unsigned crc = CCRC16().Generate(reinterpret_cast<const unsigned char *>(text.data()),
                                         static_cast<unsigned int>(text.size()));
  std::snprintf(hex, sizeof hex, "%04x", crc);
  const std::string path = CSectorJournal(JournalDir(), card.Node()).Path();
  WriteFile(path, text + "crc16 " + hex + "\n");
  Sector pattern{};
  EntrySector::BuildEnter(pattern.data(), reinterpret_cast<const unsigned char *>("SDSMTEST"),
                          false);
  card.WriteSector(0, pattern.data());
  EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
  EXPECT_EQ(card.ReadSector(0), original);
  EXPECT_FALSE(Exists(path));
}

// Every path of a run - success, each fault kind (once, and for good so that
// the restore fails too), the card vanishing, cancel, the host-file faults -
// on both transports and both methods, with and without a journal. The lock is taken before the
// first write and released after the last transfer of a successful run.
TEST_F(Journal, NoUnlockedCloseOverAPatternAndNoPartitionReread) {
  // A failed transfer and a damaged answer (the other kinds of each unwind
  // the same way).
  const FaultKind once[] = {FaultKind::FailTransfer, FaultKind::BadSignature};
  size_t runs = 0;
  for (const char *file : {"usb.json", "native.json"})
    for (int version : {2, 3}) {
      SCOPED_TRACE(std::string(file) + " v" + std::to_string(version));
      sdsim::Card *card = &Attach(LoadCardJson(file), std::string(file) + ".img");
      ASSERT_EQ(SetJournalDirectory(version == 3 ? JournalDir().c_str() : nullptr), 0);
      SetSmartVersion(static_cast<unsigned char>(version));
      const Sector original = card->ReadSector(0);

      const uint64_t t0 = card->TransferCount();
      card->ClearTranscript();
      ASSERT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
      const uint64_t t1 = card->TransferCount();
      const Seq clean = card->Transcript();
      uint64_t firstWrite = t0;
      for (const auto &t : clean) {
        if (t.op == "write" && t.what.rfind("file", 0) != 0)
          break;
        firstWrite += t.what.rfind("file", 0) != 0;
      }
      const Seq events = card->Events();
      auto at = [&](const char *what) {
        for (auto e = events.rbegin(); e != events.rend(); ++e)
          if (e->what == what)
            return e->lba;
        return 0xFFFFFFFFu;
      };
      EXPECT_LE(at("lock exclusive"), firstWrite) << Describe(events);
      EXPECT_EQ(at("unlock"), t1) << Describe(events);

      auto run = [&](const std::vector<sdsim::Fault> &faults, bool cancel) {
        card->ClearFaults();
        for (const auto &f : faults)
          card->AddFault(f);
        __atomic_store_n(&_Terminated, cancel, __ATOMIC_SEQ_CST);
        GetSmartInfo();
        __atomic_store_n(&_Terminated, false, __ATOMIC_SEQ_CST);
        ++runs;
        if (card->ReadSector(0) == original)
          return;
        // The restore failed. The next run closes this run's drive while
        // the pattern is there, then restores from the journal or refuses.
        card->ClearFaults();
        GetSmartInfo();
        if (card->ReadSector(0) != original) {
          card->WriteSector(0, original.data());
          std::remove(CSectorJournal(JournalDir(), card->Node()).Path().c_str());
        }
      };
      // Each fault kind where the card is about to enter special mode, in
      // the middle of the run and at the restoring write.
      const uint64_t transfers = t1 - t0;
      for (uint64_t k : {uint64_t{1}, transfers / 2, transfers - 1}) {
        for (FaultKind kind : once)
          run({{kind, card->TransferCount() + k, 1}}, false);
        run({{FaultKind::FailTransfer, card->TransferCount() + k, 0}}, false);
        EXPECT_EQ(Forbidden(card->Events()), "");
        sdsim::DetachAll();
        card = &Attach(LoadCardJson(file), std::string(file) + ".img");
        run({{FaultKind::Vanish, card->TransferCount() + k, 0}}, false);
        EXPECT_EQ(Forbidden(card->Events()), "");
        sdsim::DetachAll();
        card = &Attach(LoadCardJson(file), std::string(file) + ".img");
      }
      if (card->IsNative() && version == 2) // thousands of busy answers: once is enough
        run({{FaultKind::BusyForever, card->TransferCount() + 1, 0}}, false);
      for (FaultKind kind : {FaultKind::FileIoFail, FaultKind::NoFileAnswer})
        if (version == 3)
          run({{kind, card->FileStepCount() + 1, 1}}, false);
      run({}, true);
      run({}, false); // closes the last run's descriptors under the lock
      EXPECT_EQ(Forbidden(card->Events()), "");
      sdsim::DetachAll();
    }
  std::cout << "lock and close check: " << runs << " runs" << std::endl;
}
