// SPDX-License-Identifier: MIT
// Recovering a card: sector 0 rebuilt from the file systems on images that
// sfdisk and mkfs made, journals found by the card whatever its node is
// called, failed restores that say so, and the guard on both actions.
#include "run/run_status.h"
#include "tool_run.h"

#include <ctime>

using namespace sdtest;

namespace {

class Recovery : public ToolTest {
protected:
  // A card file NAME.json: the shipped USB card on IMAGE at NODE.
  std::string Card(const std::string &name, const std::string &node, const std::string &image,
                   uint64_t bytes) {
    return run.Card(name, [&](nlohmann::json &card) {
      card["node"] = node;
      card["capacity_bytes"] = bytes;
      card["image"] = dir.File(image);
      card["sysfs"] = {{"kind", "usb-removable"}, {"partitions", 1}};
      card.erase("mount");
    });
  }
  Result Tool(const std::string &card, const std::string &args, const std::string &sim = "") {
    return run.Run("--card " + card + " " + sim, args);
  }
  std::string Sector0(const std::string &image) { return ReadFile(dir.File(image)).substr(0, 512); }
  std::string Sh(const std::string &script) {
    std::string out;
    EXPECT_EQ(RunShell("cd " + dir.path + " && (" + script + ") 2>&1", &out), 0) << script << out;
    return out;
  }
  // Kills a run in special mode: sector 0 holds the enter pattern; the
  // journal lost with it, as when it lay on the card's own root.
  void KillInSpecialMode(const std::string &card, bool loseJournal = false) {
    ASSERT_EQ(Tool(card, "/dev/sdx", "--kill 10").Status, 128 + 9);
    if (loseJournal)
      RunShell("rm -f " + dir.File("state/*.journal"));
  }
  // card.img of 64 MiB with one FAT partition in a DOS table, as /dev/sdx.
  std::string DosCard() {
    Sh("truncate -s 64M card.img && printf 'label: dos\\nstart=2048,type=c\\n' | sfdisk -q "
       "card.img");
    return Card("sd", "/dev/sdx", "card.img", 64 << 20);
  }
  const ScratchDir &dir = run.dir;
};

// Images as card formatters and system images lay them out. Each step names
// the partition images p1.img, p2.img; `place` writes them into card.img.
struct Layout {
  const char *name;
  unsigned mib;
  const char *table;  // sfdisk input
  const char *make;   // the file systems
  const char *diskId; // --disk-id, or "" to recover it from the card
};
const char kPlace[] = "dd if=p1.img of=card.img bs=512 seek=$S1 conv=notrunc status=none && "
                      "{ [ ! -f p2.img ] || dd if=p2.img of=card.img bs=512 seek=$S2 "
                      "conv=notrunc status=none; }";
const char kCmdline[] = "echo 'console=tty1 root=PARTUUID=1234abcd-02 rootwait' > cmdline.txt && "
                        "mcopy -i p1.img cmdline.txt ::";
const char kFstab[] = "printf 'PARTUUID=1234abcd-02 / ext4 defaults 0 1\\n' > fstab && "
                      "printf 'mkdir etc\\ncd etc\\nwrite fstab fstab\\n' > cmds && "
                      "debugfs -w -f cmds p2.img";
const char kSbcTable[] =
    "label: dos\nlabel-id: 0x1234abcd\nstart=8192,size=131072,type=c\nstart=139264,type=83\n";
const char kSbcMake[] = "S1=8192 S2=139264; mkfs.vfat -F 32 -s 1 -n BOOT -C p1.img 65536 && "
                        "mkfs.ext4 -q -F p2.img 94208k";

TEST_F(Recovery, RebuildGivesBackTheTableSfdiskWroteAndNeverWritesOverData) {
  const std::string sbcCmdline = std::string(kSbcMake) + " && " + kCmdline;
  const std::string sbcFstab = std::string(kSbcMake) + " && " + kFstab;
  const Layout layouts[] = {
      {"FAT32 card as sold", 64, "label: dos\nlabel-id: 0x0badcafe\nstart=8192,type=c\n",
       "S1=8192; mkfs.vfat -F 32 -s 1 -C p1.img 61440", "0badcafe"},
      {"SBC, PARTUUID in cmdline.txt", 160, kSbcTable, sbcCmdline.c_str(), ""},
      {"SBC, PARTUUID in /etc/fstab", 160, kSbcTable, sbcFstab.c_str(), ""},
      {"exFAT", 64, "label: dos\nlabel-id: 0x00c0ffee\nstart=32768,type=7\n",
       "S1=32768; truncate -s 48M p1.img && mkfs.exfat p1.img", "c0ffee"},
      {"FAT16 small card", 32, "label: dos\nlabel-id: 0x0000f16f\nstart=2048,type=6\n",
       "S1=2048; mkfs.vfat -F 16 -C p1.img 31744", "f16f"},
  };
  for (const Layout &l : layouts) {
    SCOPED_TRACE(l.name);
    Sh("rm -f *.img && truncate -s " + std::to_string(l.mib) + "M card.img && printf '" + l.table +
       "' | sfdisk -q card.img && " + l.make + " && " + kPlace +
       " && sfdisk --dump card.img > before.dump && cp card.img before.img");
    const std::string card = Card("sd", "/dev/sdx", "card.img", l.mib << 20);
    KillInSpecialMode(card, true);
    const std::string pattern = Sector0("card.img");
    const std::string id = *l.diskId ? std::string(" --disk-id ") + l.diskId : "";
    ExpectRun(Tool(card, "--rebuild-sector0" + id + " /dev/sdx"), 0,
              *l.diskId ? "(--disk-id)" : "found as PARTUUID in ");
    EXPECT_EQ(Sector0("card.img"), pattern) << "written without --force";
    ExpectRun(Tool(card, "--rebuild-sector0 --force" + id + " /dev/sdx"), 0);
    // The table sfdisk wrote, and not a byte changed beyond sector 0.
    Sh("sfdisk --dump card.img | diff before.dump - && cmp -i 512 before.img card.img");
    const std::string table = Sector0("card.img");
    ExpectRun(Tool(card, "--rebuild-sector0 --force /dev/sdx"), 4, "holds no command pattern");
    EXPECT_EQ(Sector0("card.img"), table);
  }
}

// A GPT card (sfdisk's, with FAT and ext4 on it) gets back the protective
// MBR sfdisk wrote, never a DOS table: with both headers intact, or with one
// of them (or the entry array its CRC covers) damaged; with both damaged
// nothing is written.
TEST_F(Recovery, RebuildOnGptGivesBackTheProtectiveMbr) {
  const char *damage = "printf XXXX | dd of=card.img bs=1 conv=notrunc status=none seek=";
  const std::string primary = std::string(damage) + "$((512 + 56))";  // the disk GUID
  const std::string entries = std::string(damage) + "$((1024 + 16))"; // a partition's GUID
  const std::string backup = std::string(damage) + "$((64 * 2048 * 512 - 512 + 56))";
  const struct {
    const char *name;
    std::string damage;
    const char *said; // what the run says of the headers
    bool writes;
  } cases[] = {
      {"both headers intact", "true", "primary header intact at LBA 1, backup intact", true},
      {"primary header damaged", primary, "the primary GPT header of /dev/sdx fails", true},
      {"primary entry array damaged", entries, "the primary GPT header of /dev/sdx fails", true},
      {"backup header damaged", backup, "the backup GPT header of /dev/sdx fails", true},
      {"both damaged", primary + " && " + backup, "no table is written over a damaged GPT", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Sh("rm -f *.img && truncate -s 64M card.img && printf 'label: gpt\nstart=2048,size=65536,"
       "type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\nstart=67584,type=0FC63DAF-8483-4772-8E79-"
       "3D69D8E47DE4\n' | sfdisk -q card.img && S1=2048 S2=67584 && mkfs.vfat -C p1.img 32768 "
       ">/dev/null && mkfs.ext4 -q -F p2.img 30720k && " +
       std::string(kPlace) + " && sfdisk --dump card.img > before.dump");
    const std::string table = Sector0("card.img");
    const std::string card = Card("sd", "/dev/sdx", "card.img", 64 << 20);
    KillInSpecialMode(card, true);
    Sh(c.damage);
    const std::string pattern = Sector0("card.img");
    ExpectRun(Tool(card, "--rebuild-sector0 --force /dev/sdx"), c.writes ? 0 : 4, c.said);
    EXPECT_EQ(Sector0("card.img"), c.writes ? table : pattern)
        << "the protective MBR sfdisk wrote, byte for byte, or nothing";
    if (c.damage == "true") {
      EXPECT_NE(Sh("sfdisk --dump card.img | diff before.dump - && sgdisk -v card.img")
                    .find("No problems found."),
                std::string::npos);
    }
  }
}

// The same card killed as /dev/sdx comes back as /dev/sdy: the next run and
// --restore-sector0 find its journal by its identity; another card's
// journal is refused without --force, and neither action writes to a
// partition or a fixed disk.
TEST_F(Recovery, JournalFollowsTheCardAndOnlyTheCard) {
  Sh(std::string("truncate -s 160M card.img && printf '") + kSbcTable + "' | sfdisk -q card.img");
  const std::string table = Sector0("card.img");
  const std::string sdx = Card("sdx", "/dev/sdx", "card.img", 160 << 20);
  const std::string sdy = Card("sdy", "/dev/sdy", "card.img", 160 << 20);
  for (const char *next : {"/dev/sdy", "--restore-sector0 /dev/sdy"}) {
    SCOPED_TRACE(next);
    KillInSpecialMode(sdx);
    ASSERT_NE(Sector0("card.img"), table);
    Result r = Tool(sdy, next);
    EXPECT_EQ(r.Status & 7, 0) << r.All();
    EXPECT_EQ(Sector0("card.img"), table);
    EXPECT_EQ(RunShell("ls " + dir.File("state/*.journal") + " >/dev/null 2>&1"), 2)
        << "the journal goes once sector 0 is back";
  }
  // A journal of this card, offered to a card of another capacity.
  KillInSpecialMode(sdx);
  Sh("cp state/sector0-dev_sdx.journal other.journal && cp card.img big.img && "
     "truncate -s 192M big.img");
  const std::string big = Card("big", "/dev/sdz", "big.img", 192 << 20);
  const std::string before = Sector0("big.img");
  ExpectRun(Tool(big, "--restore-sector0 --journal " + dir.File("other.journal") + " /dev/sdz"), 4,
            "belongs to another card");
  EXPECT_EQ(Sector0("big.img"), before);
  // Both actions take the device guard (what it refuses:
  // tools.Sandbox.DeviceGuardWritesOnlyToCards).
  for (const char *action :
       {"--restore-sector0 /dev/sdx1", "--rebuild-sector0 --force /dev/sdx1"}) {
    ExpectRun(Tool(sdx, action), 2, "/dev/sdx1 is not an SD card: it is partition 1 of /dev/sdx");
    EXPECT_NE(Sector0("card.img"), table) << "nothing was written";
  }
}

// A run whose restore the card does not take keeps the journal and says in
// one sentence where it is and what restores it, with its exit bit, the
// JSON field and the textfile series.
TEST_F(Recovery, AFailedRestoreSaysSoAndKeepsTheJournal) {
  const std::string card = DosCard(), table = Sector0("card.img");
  // Where the failure path's restore write and its read-back fall.
  Tool(card, "/dev/sdx", "--fail 10 --transcript " + dir.File("transcript"));
  const auto transfers = Transfers(dir.File("transcript"));
  size_t restoreWrite = 0;
  for (size_t i = 0; i < transfers.size(); ++i)
    if (transfers[i]["op"] == "write" && transfers[i]["what"] == "data")
      restoreWrite = i;
  ASSERT_GT(restoreWrite, 10u);
  const std::string prom = dir.File("sdsmart.prom");
  const struct {
    const char *name;
    std::string faults;
  } cases[] = {{"card pulled", "--vanish 10"},
               {"restore write fails", "--fail 10 --fail " + std::to_string(restoreWrite)},
               {"read-back fails", "--fail 10 --fail " + std::to_string(restoreWrite + 1)}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Result r = Tool(card, "--json --prometheus=" + prom + " /dev/sdx", c.faults);
    const std::string journal = dir.File("state/sector0-dev_sdx.journal");
    ExpectRun(r, sdsmart_tool::kExitAcquisition | sdsmart_tool::kExitSector0,
              "partition table is overwritten by a command pattern until sdsmart "
              "--restore-sector0 /dev/sdx writes back the copy kept in " +
                  journal);
    EXPECT_EQ(nlohmann::json::parse(r.Out).at("sector0").at("intact"), false);
    EXPECT_NE(ReadFile(prom).find("sdsmart_sector0_intact{device=\"/dev/sdx\"} 0"),
              std::string::npos);
    ASSERT_TRUE(Exists(journal)) << "the journal stays until sector 0 reads back as saved";
    EXPECT_EQ(Tool(card, "--restore-sector0 /dev/sdx").Status, 0);
    EXPECT_EQ(Sector0("card.img"), table);
  }
}

// The restore of sector 0 from the journal of a killed run is news: said on
// standard error and in the JSON messages with the journal's time, as
// sector0.recovered and a textfile series, and as the --on-change event
// "sector0-restored" (again after a failed command, once after a good one).
TEST_F(Recovery, ARestoreFromTheJournalIsSaid) {
  const std::string card = DosCard();
  WriteFile(dir.File("hook"), "#!/bin/sh\ncd " + dir.path +
                                  "\necho \"$SDSMART_EVENTS $SDSMART_SECTOR0_RESTORED\" >> events\n"
                                  "exit $(cat status)\n");
  Sh("chmod +x hook");
  const std::string table = Sector0("card.img");
  const std::string prom = dir.File("sdsmart.prom");
  const std::string args =
      "--json --prometheus=" + prom + " --on-change " + dir.File("hook") + " /dev/sdx";
  KillInSpecialMode(card);
  const std::string journal = ReadFile(dir.File("state/sector0-dev_sdx.journal"));
  const size_t at = journal.find("\ntime ") + 6;
  const std::string time = journal.substr(at, journal.find('\n', at) - at);
  std::tm taken{};
  ASSERT_NE(strptime(time.c_str(), "%Y-%m-%dT%H:%M:%SZ", &taken), nullptr) << journal;
  const struct {
    int hookStatus;
    bool restores, said, announced;
  } runs[] = {{1, true, true, true}, {0, false, false, true}, {0, false, false, false}};
  for (const auto &run : runs) {
    SCOPED_TRACE(&run - runs);
    Sh("echo " + std::to_string(run.hookStatus) + " > status && rm -f events");
    Result r = Tool(card, args);
    EXPECT_EQ(r.Status & 7, 0) << r.All();
    EXPECT_EQ(Sector0("card.img"), table);
    const std::string said = "sector 0 of /dev/sdx held a command pattern that an interrupted "
                             "run had left; the card's own copy from the journal, taken " +
                             time + ", was written back before this run";
    EXPECT_EQ(r.All().find("warning: " + said) != std::string::npos, run.said) << r.All();
    const auto json = nlohmann::json::parse(r.Out);
    EXPECT_EQ(json.at("sdsmart").at("messages").dump().find(said) != std::string::npos, run.said);
    EXPECT_EQ(json.value(nlohmann::json::json_pointer("/sector0/recovered/journal_time"), ""),
              run.said ? time : "");
    const std::string text = ReadFile(prom);
    EXPECT_EQ(text.find("sdsmart_sector0_recovered_timestamp_seconds{device=\"/dev/sdx\"} " +
                        std::to_string(timegm(&taken))) != std::string::npos,
              run.said)
        << text;
    EXPECT_EQ(Exists(dir.File("events")) &&
                  ReadFile(dir.File("events")).find("sector0-restored " + time) !=
                      std::string::npos,
              run.announced);
  }
}

// A journal is given only to its own card: of two cards with the same
// capacity and no CID whose first partitions differ only in their volume
// serial, one's journal is refused for the other by the next run and by
// --restore-sector0, which write nothing; a card whose mounted FAT only
// changed its state byte is still recovered.
TEST_F(Recovery, TheBootDigestTellsCardsWithoutCidApart) {
  for (const char *name : {"a", "b"})
    Sh(std::string("S1=2048 && truncate -s 64M card.img && printf 'label: dos\\nlabel-id: "
                   "0x5eed0001\\nstart=2048,type=6\\n' | sfdisk -q card.img && mkfs.vfat -F 16 "
                   "-i ") +
       (*name == 'a' ? "a1a1a1a1" : "b2b2b2b2") + " -C p1.img 61440 >/dev/null && " + kPlace +
       " && mv card.img " + name + ".img && rm p1.img");
  const std::string a = Card("a", "/dev/sdx", "a.img", 64 << 20);
  const std::string b = Card("b", "/dev/sdx", "b.img", 64 << 20);
  const std::string tableA = Sector0("a.img");
  ASSERT_EQ(tableA, Sector0("b.img")) << "only the boot sectors differ";
  KillInSpecialMode(a);
  Sh("cp state/sector0-dev_sdx.journal a.journal");
  ASSERT_EQ(Tool(a, "--restore-sector0 /dev/sdx").Status, 0);
  KillInSpecialMode(b);
  Sh("cp a.journal state/sector0-dev_sdx.journal");
  const std::string patternB = Sector0("b.img");
  for (const char *next : {"/dev/sdx", "--restore-sector0 /dev/sdx"}) {
    SCOPED_TRACE(next);
    Result r = Tool(b, next);
    EXPECT_EQ(r.Status & 4, 4) << r.All();
    EXPECT_NE(r.All().find("belongs to another card"), std::string::npos) << r.All();
    EXPECT_EQ(Sector0("b.img"), patternB) << "nothing written";
  }
  // Card A, its FAT16 marked dirty (the state byte, 0x25) while it was out.
  KillInSpecialMode(a);
  Sh("printf '\\001' | dd of=a.img bs=1 seek=$((2048 * 512 + 37)) conv=notrunc status=none");
  Result r = Tool(a, "/dev/sdx");
  EXPECT_EQ(r.Status & 7, 0) << r.All();
  EXPECT_EQ(Sector0("a.img"), tableA);
}

// Two cards only their capacity tells apart (no CID, no partition to
// digest), killed and then swapped between nodes: neither node's copy is
// guessed while the other's fits too; the one named is taken.
TEST_F(Recovery, CardsOnlyTheCapacityTellsApartAreNotGuessed) {
  Sh("truncate -s 64M a.img b.img && echo a | dd of=a.img conv=notrunc status=none");
  const std::string ownA = Sector0("a.img");
  KillInSpecialMode(Card("b", "/dev/sdx", "b.img", 64 << 20));
  Sh("mv state/sector0-dev_sdx.journal state/sector0-dev_sdy.journal");
  KillInSpecialMode(Card("a", "/dev/sdx", "a.img", 64 << 20));
  const std::string a = Card("a", "/dev/sdy", "a.img", 64 << 20), patternA = Sector0("a.img");
  for (const auto &[next, status] :
       {std::pair{"/dev/sdy", 4 | 64}, {"--restore-sector0 /dev/sdy", 4}}) {
    ExpectRun(Tool(a, next), status, "both fit");
    EXPECT_EQ(Sector0("a.img"), patternA) << next;
  }
  ExpectRun(Tool(a, "--restore-sector0 --journal " + dir.File("state/sector0-dev_sdx.journal") +
                        " /dev/sdy"),
            0);
  EXPECT_EQ(Sector0("a.img"), ownA);
}

// Clones that nothing tells apart (no CID, no reader serial) are never
// skipped for one another. (One run without a header switching no card off:
// tools.Sandbox.UnsupportedCardIsWrittenToTwice.)
TEST_F(Recovery, ACloneNeverSkipsASupportedCard) {
  const std::string both = run.Card("foreign", [](nlohmann::json &c) {
    c["entry"] = "NOTOURS1";
  }) + " --card " + run.Card("clone", [](nlohmann::json &c) { c["node"] = "/dev/sdy"; });
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Tool(both, "-H /dev/sdy").Status & 7, 0);
    Result unsupported = Tool(both, "-H /dev/sdx");
    EXPECT_EQ(unsupported.Status, 4);
    EXPECT_EQ(unsupported.All().find("remembered since"), std::string::npos) << unsupported.All();
  }
}

} // namespace
