// SPDX-License-Identifier: MIT
// The built sdsmart tool run against the virtual card (sdsim): what a user
// sees (golden files), its exit bits, and that the card's sector 0 survives
// interruptions.
//
// Regenerate the golden files after a deliberate change of the output:
//   SDSMART_REGENERATE=1 ctest --test-dir build-asan -R tools.Sandbox.GoldenOutputs
#include "sandbox.h"

#include <chrono>
#include <csignal>
#include <sys/sysmacros.h>
#include <thread>

namespace sdsmart_tool {
namespace {

// The per-VB tables on one line each, so that the golden document stays
// readable.
std::string GoldenJson(const std::string &out) {
  nlohmann::ordered_json j = nlohmann::ordered_json::parse(out);
  for (const char *table : {"per_vb_erase_counts", "per_vb_read_counts"})
    j[table] = j[table].dump();
  return j.dump(2) + "\n";
}

TEST_F(Sandbox, GoldenOutputs) {
  const std::string usb = "--card " + kUsb, native = "--card " + kNative,
                    hostile = "--card " + run.Card("hostile", [](json &c) {
                      c["header"]["FWVersion"] = "F\"1\\\n\u00e9";
                      c["header"]["ClientMark"] = "} 1\n# x\u0001";
                    });
  // bare: without the folder's configuration and state (argv is in the JSON).
  const std::tuple<const char *, std::string, std::string, int, bool> cases[] = {
      {"report_usb.txt", usb, "/dev/sdx", 0, false},
      {"report_native.txt", native, "/dev/mmcblk7", 16, false},
      {"health_usb.txt", usb, "-H /dev/sdx", 0, false},
      {"report_usb.json", usb, "--json /dev/sdx", 0, false},
      {"metrics_usb.prom", usb, "--prometheus /dev/sdx", 0, false},
      // Texts of the card's own that must not break the report or the metrics.
      {"report_hostile.txt", hostile, "/dev/sdx", 0, false},
      {"metrics_hostile.prom", hostile, "--prometheus /dev/sdx", 0, false},
      {"scan.txt", usb + " " + native, "--scan /dev/sdx /dev/mmcblk7", 0, true},
      {"scan.json", usb, "--scan -j /dev/sdx /dev/sdnothere", 2, true},
      {"help.txt", "", "--help", 0, true}};
  ::setenv("COLUMNS", "72", 1);
  for (const auto &[name, sim, args, status, bare] : cases) {
    SCOPED_TRACE(name);
    Result r = bare ? Bare(sim, args) : run.Run(sim, args);
    EXPECT_EQ(r.Status, status) << r.Err;
    sdtest::ExpectGolden(
        "tools/" + std::string(name),
        sdtest::Normalised(name == std::string("report_usb.json") ? GoldenJson(r.Out) : r.Out,
                           Dir));
  }
  ::unsetenv("COLUMNS");
  EXPECT_TRUE(NoJournal()) << "the journal is removed after a verified run";
}

// -H and the exit bits on cards made healthy, worn and failed. The bundled
// card averages about 120 erases per block: 3000 rated cycles is a healthy
// card, 125 a worn one (about 5 % left), 100 one past its rating.
TEST_F(Sandbox, HealthVerdictAndExitBitsOnCards) {
  const std::tuple<const char *, int, int, int, std::string, int, std::string> cases[] = {
      {"ecc", 3000, 0, 3, "", 16, "WARNING\n  - 3 uncorrectable ECC errors"},
      {"worn", 125, 0, 0, "", 16, "WARNING\n  - remaining life 5.17 % is at or below the warning"},
      {"worn_out", 100, 0, 0, "", 8, "FAILED\n  - remaining life -"},
      {"write_protected", 3000, 1, 0, "", 8, "FAILED\n  - the card reports itself write-"},
      {"limits", 3000, 0, 0, "--warn-life 99 --fail-life 98 ", 8, "FAILED"}};
  for (const auto &[name, peCycles, wp, ecc, limits, status, verdict] : cases) {
    const std::string card = run.Card(name, [&, pe = peCycles, wp = wp, ecc = ecc](json &c) {
      c["header"]["PECycleCount"] = pe;
      c["header"]["WPStatus"] = wp;
      c["runtime_status"]["generate"]["ecc_errors"] = ecc;
    });
    ExpectRun(run.Run("--card " + card, limits + "-H /dev/sdx"), status,
              "SMART overall-health self-assessment: " + verdict);
  }
}

TEST_F(Sandbox, FailuresSetTheirBitsAndSayWhy) {
  ExpectRun(run.Run("--card " + kUsb, "/dev/sdnothere"), 2, "no such device");
  ExpectRun(Bare("--card " + kUsb, "--config " + Dir + "/none --state-dir " + State + " /dev/sdx"),
            4, "library error 16384 (0x4000): config file not exist.");
  Result r = Exec({kBin + "sdsmart", "--json", "--bogus"});
  ExpectRun(r, 1, "sdsmart: unknown option --bogus\nTry 'sdsmart --help' for more information.\n");
  EXPECT_EQ(json::parse(r.Out)["sdsmart"]["exit_status"], 1);
  // A card that does not take our entry string: the library's error, no
  // journal left behind, and metrics that say the read failed.
  const std::string card = run.Card("other_entry", [](json &c) { c["entry"] = "NOTOURS1"; });
  const std::string prom = Dir + "/textfile/sdsmart.prom";
  ASSERT_TRUE(MakeDirectories(Dir + "/textfile", 0755));
  r = run.Run("--card " + card, "--json --prometheus=" + prom + " /dev/sdx");
  ExpectRun(r, 4, "library error");
  const json doc = json::parse(r.Out);
  EXPECT_NE(doc.at("error").at("code"), 0);
  EXPECT_FALSE(doc.contains("card") || doc.contains("smart_status"));
  EXPECT_EQ(doc["sdsmart"]["exit_status"], 4);
  EXPECT_TRUE(NoJournal());
  sdtest::ExpectGolden("tools/metrics_failed.prom", sdtest::ReadFile(prom));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir + "/textfile"), {}), 1)
      << "the temporary file was renamed";
}

// --all over two cards behind USB readers and two native ones, one of which
// does not take our entry string: each card's section, devices entry and
// metrics in the order given, and the exit bits of all four.
TEST_F(Sandbox, AllCardsMergeInOrderAndCombineTheirBits) {
  const std::string notOurs = run.Card("not_ours", [](json &c) {
    c["node"] = "/dev/sdy";
    c["entry"] = "NOTOURS1";
  });
  const std::string wornOut = run.Card(
      "worn_out", [](json &c) { c["header"]["PECycleCount"] = 100; },
      kSource + "/sim/cards/native_sdsc.json");
  const Args cards{"/dev/sdx", "/dev/sdy", "/dev/mmcblk7", "/dev/mmcblk6"};
  const int bits[] = {0, kExitAcquisition, kExitHealthWarning, kExitHealthFailed};
  auto all = [&](const std::string &options) {
    return run.Run("--card " + kUsb + " --card " + notOurs + " --card " + kNative + " --card " +
                       wornOut,
                   "--all " + options + " /dev/sdx /dev/sdy /dev/mmcblk7 /dev/mmcblk6");
  };
  const int status = bits[0] | bits[1] | bits[2] | bits[3];
  Result r = all("");
  ExpectRun(r, status, "/dev/sdy: reading the SMART data: library error");
  size_t at = 0;
  for (const std::string &card : cards)
    ASSERT_NE(at = r.Out.find("==> " + card + " <==\n", at), std::string::npos) << r.Out;
  ExpectRun(r, status, "no health data from this card");

  // A timer's run, two cards at a time: nothing printed, one textfile with
  // each card's series in the order given. (The --json document of --all:
  // packaging.JsonSchema and the killed run below.)
  const std::string prom = Dir + "/sdsmart.prom";
  r = all("--jobs 2 --prometheus=" + prom);
  ExpectRun(r, status);
  EXPECT_EQ(r.Out, "");
  const std::string text = sdtest::ReadFile(prom);
  EXPECT_NE(text.find("sdsmart_devices{state=\"found\"} 4\nsdsmart_devices{state=\"read\"} 3\n"),
            std::string::npos)
      << text;
  std::string read, exits;
  for (size_t i = 0; i < 4; ++i) {
    read += "sdsmart_smart_read_success{device=\"" + cards[i] + "\"} " + (i == 1 ? "0\n" : "1\n");
    exits += "sdsmart_exit_status{device=\"" + cards[i] + "\"} " + std::to_string(bits[i]) + "\n";
  }
  for (const std::string &series : {read, exits})
    EXPECT_NE(text.find(series), std::string::npos) << series << text;
  if (*SDSMART_PROMTOOL)
    ExpectRun(Exec({"/bin/sh", "-c", SDSMART_PROMTOOL " check metrics < " + prom}), 0);
  // The same quiet for one card.
  r = run.Run("--card " + kUsb, "--prometheus=" + prom + " /dev/sdx");
  ExpectRun(r, 0);
  EXPECT_EQ(r.Out, "");
  // Runs killed mid-read: each card still has its entry, saying so.
  r = run.Run("--kill 10 --card " + kUsb + " --card " + kNative,
              "--all --json --prometheus=" + prom + " /dev/sdx /dev/mmcblk7");
  ExpectRun(r, kExitAcquisition, "/dev/mmcblk7: its run was ended by signal 9");
  EXPECT_EQ(json::parse(r.Out)["devices"][1]["sdsmart"]["messages"][0]["string"],
            "its run was ended by signal 9 (Killed)");
  EXPECT_NE(sdtest::ReadFile(prom).find("sdsmart_exit_status{device=\"/dev/mmcblk7\"} 4\n"),
            std::string::npos);
}

TEST_F(Sandbox, PermissionDeniedSaysWhoMayRead) {
  Args nobody = sdtest::AsNobody(Dir);
  if (nobody.empty())
    GTEST_SKIP() << "needs root and setpriv to run the tool as another user";
  // A block device node only root may open (sdsmart refuses any file that
  // is no block device before opening it).
  std::string node = Dir + "/rootonly";
  if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 255)) != 0)
    GTEST_SKIP() << "cannot make a device node here";
  nobody.insert(nobody.end(), {"--force", node}); // a loop device: --force, as it is no card
  ExpectRun(Exec(nobody), 2, "run sdsmart as root or as a member of the disk group");
}

// Until the card has seen n transfers (the run is inside the acquisition) or
// the run has ended: the state is waited for, not a time.
void WaitForTransfers(pid_t run, const std::string &transcript, size_t n) {
  for (std::string text;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    if (ReadWholeFile(transcript, text) &&
        static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n)
      return;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(run), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == run)
      return;
  }
}

// Ctrl-C (SIGINT to the whole job), SIGTERM or another signal that ends a
// process while the card answers busy for ever from its seventh transfer
// on: the first header read, after sector 0 was saved and special mode
// entered.
TEST_F(Sandbox, InterruptWhileTheCardIsBusyLeavesSectorZero) {
  for (const auto &[sig, status, name] :
       {std::tuple{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}, {SIGUSR1, 138, "SIGUSR1"}}) {
    Sector original;
    const std::string card = ImageCard("busy", original), transcript = Dir + "/transcript";
    ::unlink(transcript.c_str());
    ExpectRun(run.Run("--card " + card + " --busy-forever 7 --transcript " + transcript, "/dev/sdx",
                      [&, sig = sig](pid_t group) {
                        WaitForTransfers(group, transcript, 20);
                        // The launcher passes on only the signals of a job.
                        const std::string text = sdtest::ReadFile(transcript);
                        pid_t tool = std::atoi(text.c_str() + text.rfind("\"pid\":") + 6);
                        ::kill(sig == SIGINT || sig == SIGTERM ? -group : tool, sig);
                      }),
              status, std::string("interrupted by ") + name);
    EXPECT_EQ(ImageSector0(), original) << name;
    EXPECT_TRUE(NoJournal()) << name;
  }
}

// A run killed in special mode with no journal but a bare copy an older
// sdsmart left: the next run names the way back and writes nothing; the copy
// is restored by --restore-sector0, over a pattern only unless forced. (The
// next run restoring from the journal: tests/recovery, tests/crash.)
TEST_F(Sandbox, ABareCopyIsRestoredByRestoreSectorZeroOnly) {
  Sector original;
  const std::string card = "--card " + ImageCard("killed", original);
  ASSERT_EQ(run.Run(card + " --kill 10", "/dev/sdx").Status, 128 + SIGKILL);
  const Sector pattern = ImageSector0();
  ASSERT_NE(EntrySector::Classify(pattern.data()), EntrySector::Kind::OtherData)
      << "the card was left in special mode";
  ASSERT_EQ(::unlink(JournalPath().c_str()), 0);
  const std::string legacy = LegacyJournalPath(State, "/dev/sdx");
  WriteFileAtomically(legacy, std::string(original.begin(), original.end()), 0600, Sync::None);
  ExpectRun(run.Run(card, "/dev/sdx"), kExitAcquisition | kExitSector0,
            "sdsmart --restore-sector0 /dev/sdx");
  EXPECT_EQ(ImageSector0(), pattern) << "nothing was written";
  ExpectRun(run.Run(card, "--restore-sector0 /dev/sdx"), 0, " restored from ");
  EXPECT_EQ(ImageSector0(), original);
  // A copy that differs from an ordinary sector 0 is written only when forced.
  Sector other = original;
  other[0] ^= 0xFF;
  WriteFileAtomically(legacy, std::string(other.begin(), other.end()), 0600, Sync::None);
  ExpectRun(run.Run(card, "--restore-sector0 /dev/sdx"), 4,
            "use --force if the copy belongs to this card");
  EXPECT_EQ(ImageSector0(), original);
  ExpectRun(run.Run(card, "--restore-sector0 --force /dev/sdx"), 0, "(forced)");
  EXPECT_EQ(ImageSector0(), other);
  ExpectRun(run.Run(card, "--restore-sector0 --force /dev/sdx"), 4, "no saved sector 0");
}

TEST_F(Sandbox, ConfigSubcommands) {
  std::string plain = Dir + "/plain.txt", stored = Dir + "/stored", back = Dir + "/back.txt";
  // A byte-order mark is dropped, bare line feeds are stored as CR LF (the
  // dialect ends comments there), text beyond ASCII survives and malformed
  // bytes become U+FFFD.
  WriteFileAtomically(plain,
                      "\xEF\xBB\xBF[Authorization]\nVendor ID = 9; // caf\xC3\xA9 \xF0\x9F\x98\x80 "
                      "\xFF\r\n[SMART Entry]\r\n9 = \"ABCDEFGH\";\r\n",
                      0644, Sync::None);
  auto config = [&](const std::string &args) {
    return Exec(sdtest::Words(kBin + "sdsmart config " + args));
  };
  ExpectRun(config("encode " + plain + " -o " + stored), 0);
  ExpectRun(config("decode " + stored + " -o " + back), 0);
  EXPECT_EQ(sdtest::ReadFile(back),
            "[Authorization]\r\nVendor ID = 9; // caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD\r\n"
            "[SMART Entry]\r\n9 = \"ABCDEFGH\";\r\n");
  const Result check = config("check " + stored);
  ExpectRun(check, 0, "[Authorization]\n  Vendor ID\n[SMART Entry]\n  9\n2 sections, 2 keys\n");
  EXPECT_EQ(check.Out.find("ABCDEFGH"), std::string::npos) << "values stay secret";
  ExpectRun(config("check " + plain), 4, "it does not start with the FF FE mark");
  // A text the library cannot read is not stored, and the earlier file stays.
  WriteFileAtomically(plain, "[A]\r\nk = a/b;\r\n", 0644, Sync::None);
  ExpectRun(config("encode " + plain + " -o " + stored), 4, "nothing written");
  ExpectRun(config("check " + stored), 0, "Vendor ID");
  WriteFileAtomically(stored, EncodeConfig("[A]\r\nk = a/b;\r\n"), 0644, Sync::None);
  ExpectRun(config("check " + stored), 4, "error 20480");
  ExpectRun(config("check " + stored), 4, "the error is on line 2 of the plain text");
  // A value without its ';' swallows the next section; a node is no file.
  WriteFileAtomically(stored, EncodeConfig("[A]\r\nk = 9\r\n[B]\r\nv = 1;\r\n"), 0644, Sync::None);
  ExpectRun(config("check " + stored), 4,
            stored + ": section [B] on line 3 is not read as a section");
  ExpectRun(config("check /dev/zero"), 4, "/dev/zero: it is a character device, not a file");
}

// The device guard over the sysfs descriptions the virtual card presents:
// only removable disks behind USB and mmcblk cards are written to; --force
// takes any other disk but never a partition or an eMMC's boot area (an
// eMMC is read without writing: flash_kinds_test.cpp). A refused device gets
// no transfer at all, and --scan lists what the guard takes.
TEST_F(Sandbox, DeviceGuardWritesOnlyToCards) {
  const std::tuple<const char *, const char *, const char *, int, int, std::string> cases[] = {
      {"/dev/sdx", "usb-removable", "/dev/sdx", 0, 0, "PASSED"},
      {"/dev/mmcblk7", "mmc", "/dev/mmcblk7", 0, 0, "PASSED"},
      {"/dev/sdx", "usb-fixed", "/dev/sdx", 2, 0,
       "/dev/sdx is not an SD card: it is a fixed (not removable) disk attached through USB; "
       "sdsmart writes its command patterns over sector 0"},
      {"/dev/sdx", "sata", "/dev/sdx", 2, 0, "/dev/sdx is not an SD card: it is a SATA disk"},
      {"/dev/loop3", "loop", "/dev/loop3", 2, 0,
       "/dev/loop3 is not an SD card: it is a loop device"},
      {"/dev/dm-0", "dm", "/dev/dm-0", 2, 0, "is not an SD card: it is a device-mapper device"},
      {"/dev/sdx", "usb-removable", "/dev/sdx1", 2, 2,
       "/dev/sdx1 is not an SD card: it is partition 1 of /dev/sdx; the card is the whole disk: "
       "sdsmart /dev/sdx\n"},
      {"/dev/mmcblk0boot0", "emmc", "/dev/mmcblk0boot0", 2, 2,
       "/dev/mmcblk0boot0 is not an SD card: it is a boot partition of the eMMC /dev/mmcblk0\n"}};
  const std::string transcript = Dir + "/transcript";
  for (const auto &[node, kind, arg, status, forced, message] : cases) {
    SCOPED_TRACE(std::string(kind) + " " + arg);
    const std::string card = run.Card("guarded", [&, node = node, kind = kind](json &c) {
      c["node"] = node;
      c["sysfs"] = {{"kind", kind}};
    });
    for (const std::string force : {"", " --force"}) {
      ::unlink(transcript.c_str());
      const int want = force.empty() ? status : forced;
      ExpectRun(run.Run("--card " + card + " --transcript " + transcript,
                        std::string("-H ") + arg + force),
                want, !force.empty() && forced == 0 ? "PASSED" : message);
      EXPECT_EQ(sdtest::ReadFile(transcript).empty(), want != 0) << "a refused device is not used";
    }
    const Result scan = Bare("--card " + card, "--scan");
    EXPECT_EQ(scan.Out.find("sdsmart " + std::string(arg) + " #") != std::string::npos, status == 0)
        << scan.Out;
  }
}

// A card that takes the enter pattern and answers no SMART header (here: the
// virtual card with another entry string) two runs in a row is then left
// alone until --retry-unsupported, or until a configuration with another
// entry string reads it, which forgets it. The native card's CID tells it
// from its clones.
TEST_F(Sandbox, UnsupportedCardIsWrittenToTwice) {
  const std::string card =
      "--card " + run.Card(
                      "foreign", [](json &c) { c["entry"] = "NOTOURS1"; }, kNative);
  const std::string transcript = Dir + "/transcript", again = "remembered since 20";
  const std::tuple<std::string, const char *, bool> runs[] = {
      {"", "A second such run in a row, with no header in between, makes later runs", true},
      {"", "Later runs skip this card without writing to it", true},
      {"",
       "A card of another controller family and a wrong entry string in the configuration look "
       "the same; --retry-unsupported tries again",
       false},
      {"--retry-unsupported ", "Later runs skip this card", true}};
  for (const auto &[extra, text, writes] : runs) {
    SCOPED_TRACE(text);
    ::unlink(transcript.c_str());
    const Result r = run.Run(card + " --transcript " + transcript, extra + "-H /dev/mmcblk7");
    ExpectRun(r, 4, text);
    EXPECT_EQ(!writes, r.All().find(again) != std::string::npos) << r.All();
    EXPECT_EQ(sdtest::ReadFile(transcript).find("\"write\"") != std::string::npos, writes);
  }
  std::string plain = sdtest::ReadFile(kSource + "/demo/config.ini");
  plain.replace(plain.find("SDSMTEST"), 8, "NOTOURS1");
  WriteFileAtomically(Config, EncodeConfig(plain), 0644, Sync::None);
  ExpectRun(run.Run(card, "-H /dev/mmcblk7"), 16, "it is no longer remembered as not supported");
}

} // namespace
} // namespace sdsmart_tool
