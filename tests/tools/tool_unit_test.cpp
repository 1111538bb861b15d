// SPDX-License-Identifier: MIT
// The tool's parts on their own: the command line, the health rules, the
// sysfs scan and the erase-count chart.
#include "card/emmc_life.h"
#include "config/card_rules.h"
#include "device/scan.h"
#include "output/output.h"
#include "run/options.h"
#include "run/run_plan.h"
#include "tool_run.h"
#include "util/files.h"

#include <optional>

namespace sdsmart_tool {
namespace {

using sdtest::Words;

// Each line parses to the action and device given, or fails with the text.
// (Every action runs from its command line in the end-to-end tests.)
TEST(Options, ActionsDevicesAndRefusals) {
  const std::tuple<const char *, Mode, const char *, const char *> cases[] = {
      {"/dev/mmcblk0 --health", Mode::Health, "/dev/mmcblk0", ""},
      {"-Hf x", Mode::Health, "x", ""},
      {"-Hj x", Mode::Health, "", "-H prints the verdict only; it cannot be combined with --json"},
      {"--prometheus out/sd /dev/sdb", Mode::Report, "",
       "--prometheus takes its file after '=': --prometheus=out/sd"},
      {"--select 8 x", Mode::Report, "",
       "--select wants 0 to 7 (1 erase counts, 2 read counts, 4 run-time bad blocks, 0 the "
       "header only), not '8'"},
      {"--timeout 5 x", Mode::Report, "", "--timeout applies to --all only"},
      {"--on-every-reading x", Mode::Report, "", "--on-every-reading applies to --on-change only"},
      {"--restore-sector0 --force x", Mode::RestoreSector0, "x", ""},
      {"-- -odd-name", Mode::Report, "-odd-name", ""},
      {"config check f", Mode::ConfigCheck, "", ""},
      {"", Mode::Report, "", "no device given"},
      {"/dev/sda /dev/sdb", Mode::Report, "",
       "only one device may be given (got '/dev/sda' and '/dev/sdb')"},
      {"--smart-version 256 x", Mode::Report, "", "--smart-version wants 2 or 3, not '256'"},
      {"--warn-life 101 x", Mode::Report, "",
       "--warn-life wants a percentage from 0 to 100, not '101'"},
      {"--warn-life 5 --fail-life 6 x", Mode::Report, "",
       "--fail-life 6 must not be above --warn-life 5"},
      {"--config", Mode::Report, "", "--config needs a value"},
      {"--state-dir= x", Mode::Report, "", "--state-dir needs a folder name"},
      {"--ascii x", Mode::Report, "", "--ascii applies to history only"},
      // `history` reads files: an option that would do nothing there is refused.
      {"history --select 1", Mode::History, "",
       "--select has no effect in history, which reads the card histories only (it takes "
       "--json, --ascii, --state-dir, --window and --fail-life)"},
      {"history --json --ascii --window 30 --fail-life 5 --state-dir /s", Mode::History, "", ""},
      {"--record-raw r -H x", Mode::Health, "",
       "--record-raw reads one card: it goes with a plain reading only"},
      {"--rebuild-sector0 --disk-id -1 x", Mode::RebuildSector0, "",
       "--disk-id wants up to 8 hexadecimal digits, with or without 0x, not '-1'"},
      {"--prometheus= x", Mode::Report, "", "--prometheus= needs a file name"},
      {"--json --prometheus x", Mode::Report, "",
       "--json and --prometheus cannot both write to standard output; give --prometheus=FILE"},
      {"--all --scan", Mode::Scan, "", "--all cannot be combined with another action"},
      {"--all --jobs 0", Mode::Report, "", "--jobs wants a number from 1 to 4096, not '0'"},
      {"--health=1 x", Mode::Report, "", "--health takes no value"},
      {"config frobnicate f", Mode::Report, "",
       "unknown config action 'frobnicate' (decode, encode or check)"},
  };
  for (const auto &[line, mode, device, message] : cases) {
    Options o;
    std::string error;
    EXPECT_EQ(ParseCommandLine(Words(line), o, error), !*message) << line;
    EXPECT_EQ(error, message) << line;
    if (!*message) {
      EXPECT_EQ(o.Device + " " + std::to_string(static_cast<int>(o.Action)),
                device + (" " + std::to_string(static_cast<int>(mode))))
          << line;
    }
  }
}

TEST(Options, ValuesOfEveryForm) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(Words("--config=/etc/x --smart-version 3 --select=0x7 --warn-life "
                                     "20.5 --fail-life=2 --prometheus=/m --state-dir /s -jo f x"),
                               o, error))
      << error;
  EXPECT_EQ(o.ConfigPath + o.PrometheusFile + o.StateDir + o.OutputFile, "/etc/x/m/sf");
  EXPECT_EQ(*o.SmartVersion * 100 + *o.Select, 307u);
  EXPECT_EQ(o.Limits.WarnLife * 10 + o.Limits.FailLife, 207.0);
  EXPECT_TRUE(o.Json && o.Prometheus);
  ASSERT_TRUE(ParseCommandLine({"--prometheus", "/dev/sdb"}, o, error)) << error;
  EXPECT_TRUE(o.Prometheus && o.PrometheusFile.empty() && !o.Select && o.Device == "/dev/sdb");
  ASSERT_TRUE(ParseCommandLine(Words("--rebuild-sector0 --disk-id 0XaBcD0123 x"), o, error));
  EXPECT_EQ(*o.DiskId, 0xabcd0123u);
  // --all hands each card's run the options as typed, less its own and the
  // textfile's.
  ASSERT_TRUE(ParseCommandLine(Words("-H --all --jobs=3 --timeout 9 -c /c --warn-life=20 "
                                     "/dev/sd[bc] /dev/mmcblk0"),
                               o, error))
      << error;
  EXPECT_EQ(o.PassOn, Words("-H -c /c --warn-life 20"));
  EXPECT_EQ(o.ScanPatterns, Words("/dev/sd[bc] /dev/mmcblk0"));
  EXPECT_TRUE(o.All && o.Action == Mode::Health && *o.Jobs == 3 && o.Device.empty());
}

// With the default limits (raised ones: tools.Sandbox.HealthVerdictAndExitBitsOnCards).
TEST(Health, VerdictAndExitBits) {
  const std::tuple<const char *, std::optional<double>, uint32_t, uint32_t, Verdict, int> cases[] =
      {{"just above warning", 89.99, 0, 0, Verdict::Passed, 0},
       {"at warning limit", 90.0, 0, 0, Verdict::Warning, kExitHealthWarning},
       {"at failure limit", 100.0, 0, 0, Verdict::Failed, kExitHealthFailed},
       {"failed beats warning", 95.0, 1, 1, Verdict::Failed, kExitHealthFailed},
       {"unknown life", std::nullopt, 0, 0, Verdict::Warning, kExitHealthWarning}};
  for (const auto &[name, used, wp, ecc, verdict, bits] : cases) {
    RunRecord run;
    run.Card.emplace();
    run.Card->Counters.LifeUsedPercent = used;
    run.Card->Counters.WriteProtectStatus = wp;
    run.Card->Counters.EccUncorrectable = ecc;
    run.Health = Evaluate(run.Card->Counters, HealthLimits());
    EXPECT_EQ(run.Health->Status, verdict) << name;
    EXPECT_EQ(VerdictExitBits(run.Health->Status), bits) << name;
    EXPECT_EQ(run.Health->Reasons.empty(), verdict == Verdict::Passed) << name;
    EXPECT_EQ(BuildJson(run)["smart_status"]["passed"], verdict != Verdict::Failed) << name;
  }
}

class TempDir : public ::testing::Test {
protected:
  // A /sys look-alike: block devices as symlinks into a devices tree.
  void Disk(const std::string &name, const std::string &busPath, const char *removable,
            uint64_t sectors, const std::string &vendor, const std::string &model, bool mmc,
            bool listed = true) {
    std::string dev = Dir + "/devices/" + busPath + "/block/" + name;
    ASSERT_TRUE(MakeDirectories(dev + "/device", 0755) && MakeDirectories(Dir + "/block", 0755));
    WriteFileAtomically(dev + "/removable", std::string(removable) + "\n", 0644, Sync::None);
    WriteFileAtomically(dev + "/size", std::to_string(sectors) + "\n", 0644, Sync::None);
    WriteFileAtomically(dev + "/device/" + (mmc ? "type" : "vendor"), vendor + "\n", 0644,
                        Sync::None);
    WriteFileAtomically(dev + "/device/" + (mmc ? "name" : "model"), model + "  \n", 0644,
                        Sync::None);
    std::string target = "../devices/" + busPath + "/block/" + name;
    if (listed) {
      ASSERT_EQ(::symlink(target.c_str(), (Dir + "/block/" + name).c_str()), 0);
    }
    ASSERT_TRUE(MakeDirectories(Dir + "/class/block", 0755));
    ASSERT_EQ(::symlink(("../" + target).c_str(), (Dir + "/class/block/" + name).c_str()), 0);
  }
  sdtest::ScratchDir Scratch;
  std::string Dir = Scratch.path;
};

TEST_F(TempDir, ScanFindsUsbRemovableDisksAndMmcDisks) {
  Disk("sda", "pci0/ata1/host0/target0:0:0/0:0:0:0", "0", 1000000, "ATA", "SSD", false);
  Disk("sdb", "pci0/usb2/2-1/2-1:1.0/host1/target1:0:0/1:0:0:0", "1", 62333952, "Generic",
       "STORAGE DEVICE", false);
  Disk("sdc", "pci0/usb2/2-2/2-2:1.0/host2/target2:0:0/2:0:0:0", "0", 1000, "WD", "Disk", false);
  Disk("mmcblk0", "platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa", "0", 15523840, "SD", "QX16G",
       true);
  // An eMMC is listed for its read-only life estimate; its boot areas never.
  Disk("mmcblk1", "platform/x/mmc_host/mmc0/mmc0:0001", "0", 30535680, "MMC", "EM16G", true);
  Disk("mmcblk1boot0", "platform/x/mmc_host/mmc0/mmc0:0001", "0", 8192, "MMC", "boot", true);
  std::vector<ScanEntry> found = ScanSysBlock(Dir);
  ASSERT_EQ(found.size(), 3u);
  const std::string vendorPath = "; vendor SMART (writes sector 0 during the run)";
  EXPECT_EQ(found[0].Caption(), "/dev/mmcblk0 # native SD host, SD QX16G, 7.95 GB" + vendorPath);
  EXPECT_EQ(found[1].Caption(),
            "/dev/mmcblk1 # eMMC, MMC EM16G, 15.63 GB; eMMC life estimate (read-only)");
  EXPECT_EQ(found[2].Caption(),
            "/dev/sdb # USB card reader, Generic STORAGE DEVICE, 31.91 GB" + vendorPath);
  // Nodes sysfs describes by name but does not list are probed by name; a
  // node sysfs does not describe at all (sdy) is no card.
  Disk("sdx", "pci0/usb3/3-1/3-1:1.0/host4/target4:0:0/4:0:0:0", "1", 1000, "", "", false, false);
  Disk("mmcblk7", "platform/m/mmc_host/mmc7/mmc7:aaaa", "0", 1000, "SD", "X", true, false);
  std::string dev = Dir + "/dev";
  ASSERT_TRUE(MakeDirectories(dev, 0755));
  for (const char *name : {"sdb", "sdx", "sdy", "mmcblk7", "mmcblk7p1", "sdaa"})
    WriteFileAtomically(dev + "/" + name, std::string(4096, '\0'), 0600, Sync::None);
  found = ProbeUnlistedNodes(Dir, dev);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Name + " " + TransportKey(found[0].Verdict.Transport), dev + "/sdx usb");
  EXPECT_EQ(found[1].Name + " " + TransportKey(found[1].Verdict.Transport), dev + "/mmcblk7 mmc");
}

// The life bands and pre-EOL states of the JEDEC extended CSD and the
// verdicts they give with the default limits (10 % left warns, 0 % fails).
TEST(EmmcLife, BandsPreEolAndVerdicts) {
  const std::tuple<uint8_t, uint8_t, uint8_t, const char *, Verdict, size_t> cases[] = {
      {0x01, 0x01, 0x01, "0-10 % used", Verdict::Passed, 0},
      {0x09, 0x02, 0x01, "80-90 % used", Verdict::Passed, 0},
      {0x0A, 0x01, 0x01, "90-100 % used", Verdict::Warning, 0},
      {0x0B, 0x01, 0x01, "life exceeded", Verdict::Failed, 0},
      {0x01, 0x0B, 0x01, "0-10 % used", Verdict::Failed, 0},
      {0x03, 0x03, 0x02, "20-30 % used", Verdict::Warning, 0},
      {0x03, 0x03, 0x03, "20-30 % used", Verdict::Failed, 0},
      // Not reported or reserved: named as not read, deciding nothing.
      {0x00, 0x02, 0x01, "not reported", Verdict::Passed, 1},
      {0x0C, 0x02, 0x04, "reserved value 0x0c", Verdict::Passed, 2},
      {0x00, 0x00, 0x00, "not reported", Verdict::Warning, 3},
  };
  for (const auto &[a, b, eol, text, verdict, notRead] : cases) {
    const EmmcLife life{"sysfs", a, b, eol};
    const HealthResult r = EvaluateEmmc(life, HealthLimits());
    EXPECT_EQ(BandText(a), text) << int(a);
    EXPECT_EQ(r.Status, verdict) << int(a) << " " << int(b) << " " << int(eol);
    EXPECT_EQ(r.NotRead.size(), notRead) << int(a) << " " << int(b) << " " << int(eol);
  }
  // --warn-life 30: the band 70-80 % used leaves at most 30 %.
  EXPECT_EQ(EvaluateEmmc({"sysfs", 0x08, 0x01, 0x01}, {30.0, 0.0}).Status, Verdict::Warning);
  EXPECT_EQ(EvaluateEmmc({"sysfs", 0x07, 0x01, 0x01}, {30.0, 0.0}).Status, Verdict::Passed);
}

TEST(EmmcLife, ExtendedCsdAndSysfsTexts) {
  unsigned char extCsd[512] = {};
  extCsd[192] = 8; // EXT_CSD_REV: eMMC 5.1
  extCsd[267] = 0x02, extCsd[268] = 0x04, extCsd[269] = 0x0B;
  EmmcLife life = LifeFromExtCsd(extCsd);
  EXPECT_EQ(life.PreEol * 0x10000 + life.LifeA * 0x100 + life.LifeB, 0x02040B);
  extCsd[192] = 6; // eMMC 4.5: the bytes are reserved
  life = LifeFromExtCsd(extCsd);
  EXPECT_EQ(life.PreEol + life.LifeA + life.LifeB, 0);
  uint8_t a = 0, b = 0, eol = 0;
  EXPECT_TRUE(ParseLifeTime("0x0a 0x01", a, b) && a == 0x0A && b == 0x01);
  EXPECT_TRUE(ParsePreEol("0x03", eol) && eol == 3);
  for (const char *bad : {"", "0x01", "1 2", "0x01 0x100", "0x01  0x02", "0x01 0x02x"})
    EXPECT_FALSE(ParseLifeTime(bad, a, b)) << bad;
  EXPECT_FALSE(ParsePreEol("3", eol));
}

// Each rule names the model it applies to and no other; a broken line
// says where and why.
TEST_F(TempDir, CardRulesApplyToTheModelTheyName) {
  const std::string file = Dir + "/cards.conf";
  WriteFileAtomically(file,
                      "# fleet rules\n"
                      "manfid=0x00007e name=OFAM1 path=never\n\n"
                      "name=SDSIM warn-life=25 fail-life=5 rated-pe=3000  # our own\n"
                      "oemid=0x5449 path=vendor\n",
                      0644, Sync::None);
  CardRules rules;
  std::string error;
  ASSERT_TRUE(LoadCardRules(file, true, rules, error)) << error;
  const std::tuple<CardModel, unsigned> models[] = {{{"0x00007e", "0x5158", "OFAM1"}, 2},
                                                    {{"0x00007f", "0x5158", "OFAM1"}, 0},
                                                    {{"0x000003", "0x5449", "SDSIM"}, 4},
                                                    {{"0x000003", "0x5449", "OTHER"}, 5},
                                                    {{"", "", ""}, 0}};
  for (const auto &[model, line] : models) {
    const CardRule *rule = rules.For(model);
    EXPECT_EQ(rule ? rule->Line : 0, line) << model.Name;
  }
  EXPECT_EQ(rules.For({"", "", "SDSIM"})->WarnLife, 25.0);
  EXPECT_EQ(rules.For({"", "", "SDSIM"})->RatedCycles, 3000u);
  EXPECT_FALSE(rules.Rules[0].VendorPath.value_or(true));
  const std::pair<const char *, const char *> broken[] = {
      {"path=never\n", "line 1: names no model"},
      {"name=X path=sometimes\n", "line 1: path is never or vendor, not \"sometimes\""},
      {"\nname=X warn-life=120\n", "line 2: warn-life is a percentage from 0 to 100"},
      {"name=X colour=red\n", "line 1: unknown key \"colour\""},
      {"name=X rated-pe=0\n", "line 1: rated-pe is a number of cycles from 1 to 1000000"},
      {"name\n", "line 1: \"name\" is no key=value word"}};
  for (const auto &[text, why] : broken) {
    WriteFileAtomically(file, text, 0644, Sync::None);
    EXPECT_FALSE(LoadCardRules(file, false, rules, error));
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  // A default file that is not there is no rule; one the operator named is.
  EXPECT_TRUE(LoadCardRules(Dir + "/none", false, rules, error) && rules.Rules.empty());
  EXPECT_FALSE(LoadCardRules(Dir + "/none", true, rules, error));
}

TEST(EraseCountChart, RegionsCoverEveryUsedEntryAndBarsFitTheWidth) {
  std::vector<uint32_t> counts{CSmartInfoReader::EraseCountUnused};
  for (uint32_t i = 0; i < 1000; ++i)
    counts.push_back(100 + (i * 37) % 400);
  uint32_t total = 0, high = 0;
  for (const Region &r : EraseCountRegions(counts, 10)) {
    EXPECT_TRUE(r.Low <= r.High && (total == 0 ? r.Low == 100 : r.Low > high));
    total += r.Vbs;
    high = r.High;
  }
  EXPECT_EQ(total * 1000 + high, 1000u * 1000 + 499);
  std::vector<std::string> lines =
      DrawBarChart({{0, 9, 100}, {10, 19, 50}, {20, 29, 1}, {30, 39, 0}}, 50);
  EXPECT_EQ(lines, (std::vector<std::string>{"   0 -  9  100 VBs |" + std::string(29, '#'),
                                             "  10 - 19   50 VBs |" + std::string(15, '#'),
                                             "  20 - 29    1 VB  |#", "  30 - 39    0 VBs |"}));
  // A terminal too narrow for the labels still gets a minimum bar.
  EXPECT_EQ(DrawBarChart({{1000000, 2000000, 4000000}}, 10).at(0).size(), 44u);
}

} // namespace
} // namespace sdsmart_tool
