// SPDX-License-Identifier: MIT
// The flash a board holds besides cards of this family, on the virtual card:
// an eMMC read from its own life estimate, a card of another family shown
// by its registers; neither is ever written.
#include "sandbox.h"

#include <sys/stat.h>

namespace sdsmart_tool {
namespace {

const std::string kEmmc = kSource + "/sim/cards/emmc.json",
                  kOtherFamily = kSource + "/sim/cards/other_family.json";

class FlashKinds : public Sandbox {};

bool Wrote(const std::string &transcript) {
  return sdtest::ReadFile(transcript).find("\"op\":\"write\"") != std::string::npos;
}

// Each band and pre-EOL state, from sysfs or (an older kernel) from the
// extended CSD by CMD8: the verdict, its exit bit, and no write at all.
TEST_F(FlashKinds, EmmcIsJudgedByItsLifeEstimateWithoutWriting) {
  const std::tuple<int, int, int, bool, int, const char *> cases[] = {
      {0x01, 0x01, 1, true, 0, "PASSED"},
      {0x0A, 0x01, 1, false, kExitHealthWarning, "WARNING"},
      {0x02, 0x0B, 1, true, kExitHealthFailed, "FAILED"},
      {0x02, 0x02, 3, false, kExitHealthFailed, "FAILED"},
      {0x02, 0x02, 2, true, kExitHealthWarning, "WARNING"},
      {0x00, 0x00, 0, false, kExitHealthWarning, "WARNING"}};
  const std::string transcript = Dir + "/transcript", document = Dir + "/report.json";
  for (const auto &[a, b, eol, sysfs, bits, verdict] : cases) {
    SCOPED_TRACE(std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(eol));
    const std::string card = run.Card(
        "emmc",
        [&, a = a, b = b, eol = eol, sysfs = sysfs](json &c) {
          c["emmc"] = {{"life_time", {a, b}}, {"pre_eol", eol}, {"sysfs_life", sysfs}};
        },
        kEmmc);
    for (const std::string force : {"", "--force "}) {
      ::unlink(transcript.c_str());
      const Result r =
          run.Run("--card " + card + " --transcript " + transcript, force + "--json /dev/mmcblk2");
      ExpectRun(r, bits);
      const json j = json::parse(r.Out);
      EXPECT_EQ(j["device"]["health_source"], "emmc_life");
      EXPECT_EQ(j["smart_status"]["verdict"], verdict);
      EXPECT_EQ(j["emmc"]["from"], sysfs ? "sysfs" : "ext_csd");
      EXPECT_EQ(j["emmc"]["life_time_a"]["value"], a);
      EXPECT_FALSE(Wrote(transcript)) << sdtest::ReadFile(transcript);
      sdtest::WriteFile(document, r.Out);
      sdtest::ExpectValidJson("card", document);
    }
  }
  // mmc-utils reads the same extended CSD to the same values.
  const std::string oldKernel = run.Card(
      "old_kernel",
      [](json &c) {
        c["emmc"] = {{"life_time", {7, 11}}, {"pre_eol", 2}, {"sysfs_life", false}};
      },
      kEmmc);
  if (::access("/usr/bin/mmc", X_OK) == 0) {
    const json j = json::parse(run.Run("--card " + oldKernel, "--json /dev/mmcblk2").Out);
    const Result mmc = Exec(sdtest::UnderCard({"--card", oldKernel},
                                              {"/usr/bin/mmc", "extcsd", "read", "/dev/mmcblk2"}));
    for (const auto &[field, value] : {std::pair{"TYP_A]: ", j["emmc"]["life_time_a"]["value"]},
                                       {"TYP_B]: ", j["emmc"]["life_time_b"]["value"]},
                                       {"PRE_EOL_INFO]: ", j["emmc"]["pre_eol"]["value"]}}) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02x\n", value.get<unsigned>());
      EXPECT_NE(mmc.Out.find(field + std::string(hex)), std::string::npos) << field << mmc.All();
    }
  }
  // Its boot areas are refused; --scan lists the eMMC beside a card, with
  // what each is read by.
  ExpectRun(run.Run("--card " + kEmmc, "-H /dev/mmcblk2boot0"), kExitOpenFailed,
            "it is a boot partition of the eMMC /dev/mmcblk2");
  const Result scan = Bare("--card " + kEmmc + " --card " + kUsb, "--scan");
  EXPECT_NE(
      scan.Out.find("sdsmart /dev/mmcblk2 # eMMC, 15.63 GB; eMMC life estimate (read-only)\n"),
      std::string::npos)
      << scan.Out;
  EXPECT_EQ(scan.Out.find("boot"), std::string::npos) << scan.Out;
}

// The eMMC's history: when each band was first seen, the date of the last
// band at the pace of two band changes, the bytes written a day; the file
// keeps the changes, the first reading since the plugging and the newest.
TEST_F(FlashKinds, EmmcHistoryForecastsTheLastBand) {
  constexpr int64_t kDay = 86400, kStart = 1767225600; // 2026-01-01
  const std::tuple<int, int, int, uint64_t, const char *> runs[] = {
      {0, 2, 1, 1000, "not enough history"},
      {50, 2, 1, 2000, "not enough history"},
      {100, 3, 2, 3000, "not enough history"},
      {150, 3, 2, 4000, "not enough history"},
      {200, 3, 4, 5000, "ok"},
      {800, 10, 4, 9000, "last band reached"}};
  const std::string document = Dir + "/emmc.json", hook = Dir + "/hook", events = Dir + "/events";
  sdtest::WriteFile(hook, "#!/bin/sh\necho \"$SDSMART_EVENTS|$SDSMART_VERDICT|"
                          "$SDSMART_PREVIOUS_VERDICT|$SDSMART_CARD_ID\" >> " +
                              events + "\n");
  ::chmod(hook.c_str(), 0755);
  json j;
  for (const auto &[day, a, b, sectors, status] : runs) {
    SCOPED_TRACE(day);
    const std::string card = run.Card(
        "emmc" + std::to_string(day),
        [&, a = a, b = b, sectors = sectors](json &c) {
          c["emmc"] = {{"life_time", {a, b}}};
          c["sysfs"]["written_sectors"] = sectors;
        },
        kEmmc);
    const Result r = run.Run("--card " + card + " --now " + std::to_string(kStart + day * kDay),
                             "--json --on-change " + hook + " /dev/mmcblk2");
    ASSERT_TRUE(json::accept(r.Out)) << r.All();
    j = json::parse(r.Out)["emmc"]["history"];
    EXPECT_EQ(j["status"], status) << j;
    sdtest::WriteFile(document, r.Out);
    sdtest::ExpectValidJson("card", document);
    if (day == 200) {
      EXPECT_EQ(j["last_band_date"], "2028-03-11") << "band 4 on day 200, a band in 100 days";
      EXPECT_EQ(j["band_since_date"], "2026-07-20");
      EXPECT_EQ(j["write_volume"]["bytes_per_day"], 1000 * 512 / 50) << "over the window";
    }
  }
  EXPECT_EQ(j["last_band_date"], "2028-03-11") << "first seen on day 800";
  EXPECT_EQ(j["readings"], 4) << sdtest::ReadFile(j["history_file"].get<std::string>());
  // Announced as a card's verdict change, named by the eMMC's CID.
  const std::string file = j["history_file"];
  const std::string cid = file.substr(file.rfind('/') + 1, 32);
  EXPECT_EQ(sdtest::ReadFile(events), "verdict|WARNING|PASSED|" + cid + "\n");
  // Its state file, as a card's: the last document.
  EXPECT_EQ(json::parse(sdtest::ReadFile(run.state + "/latest/mmcblk2.json"))["emmc"]["history"],
            j);
}

// A timer's run over a card and an eMMC: one textfile that promtool
// accepts, with the eMMC's bands as ratios.
TEST_F(FlashKinds, AllReadsTheEmmcBesideTheCards) {
  const std::string prom = Dir + "/sdsmart.prom";
  ExpectRun(run.Run("--card " + kUsb + " --card " + kEmmc, "--all --prometheus=" + prom), 0);
  const std::string text = sdtest::ReadFile(prom);
  for (const char *series :
       {"sdsmart_devices{state=\"read\"} 2\n",
        "sdsmart_device_info{device=\"/dev/"
        "mmcblk2\",transport=\"mmc\",health_source=\"emmc_life\"} "
        "1\n",
        "sdsmart_emmc_life_used_lower_ratio{device=\"/dev/mmcblk2\",type=\"a\"} 0.2\n",
        "sdsmart_emmc_life_used_upper_ratio{device=\"/dev/mmcblk2\",type=\"b\"} 0.2\n",
        "sdsmart_emmc_pre_eol_state{device=\"/dev/mmcblk2\"} 1\n"})
    EXPECT_NE(text.find(series), std::string::npos) << series << text;
  if (*SDSMART_PROMTOOL)
    ExpectRun(Exec({"/bin/sh", "-c", SDSMART_PROMTOOL " check metrics < " + prom}), 0);
}

// A card of another family, once remembered, is never written again and is
// shown by what sysfs holds: each register as the kernel shows it.
TEST_F(FlashKinds, OtherFamilyCardIsShownByItsRegisters) {
  const std::string sim = "--card " + kOtherFamily, transcript = Dir + "/transcript";
  for (int strike = 0; strike < 2; ++strike)
    ExpectRun(run.Run(sim, "-H /dev/mmcblk5"), kExitAcquisition);
  const Result r = run.Run(sim + " --transcript " + transcript, "--json /dev/mmcblk5");
  ExpectRun(r, kExitAcquisition, "not supported (remembered since");
  EXPECT_FALSE(Wrote(transcript)) << sdtest::ReadFile(transcript);
  const Result scan = run.Run(sim, "--scan");
  ExpectRun(scan, 0,
            "; identity and standard registers only (read-only): never written (not "
            "supported, remembered since ");
  sdtest::WriteFile(Dir + "/cards.conf", "name=OFAM1 path=vendor\n");
  ExpectRun(run.Run(sim, "--cards " + Dir + "/cards.conf --scan"), 0,
            "; vendor SMART (writes sector 0 during the run): vendor path (" + Dir +
                "/cards.conf line 1)");
  const json j = json::parse(r.Out);
  EXPECT_EQ(j["device"]["health_source"], "registers");
  EXPECT_FALSE(j.contains("smart_status"));
  for (const char *name : {"cid", "csd", "scr", "ssr"}) {
    const Result sysfs = Exec(sdtest::UnderCard(
        sdtest::Words(sim), {"/bin/cat", std::string("/sys/class/block/mmcblk5/device/") + name}));
    EXPECT_EQ(j["registers"][name].get<std::string>() + "\n", sysfs.Out) << name;
  }
  // Decoded by the library's decoders from what the virtual card encodes
  // on its own.
  const json &reg = j["registers"];
  EXPECT_EQ(reg["product_name"].get<std::string>() + " " +
                reg["manufacturing_date"].get<std::string>() + " class " +
                reg["speed_class"].dump() + " U" + reg["uhs_speed_grade"].dump() + " V" +
                reg["video_speed_class"].dump() + " AU " + reg["au_size_bytes"].dump(),
            "OFAM1 2024-06 class 10 U1 V10 AU 4194304");
  sdtest::WriteFile(Dir + "/report.json", r.Out);
  sdtest::ExpectValidJson("card", Dir + "/report.json");
  ExpectRun(run.Run(sim, "/dev/mmcblk5"), kExitAcquisition, "no health data from this card");
}

// The operator's rules: a model never to be written is not written even on
// its first run, and --scan says so; a model's own limits apply to it only.
TEST_F(FlashKinds, CardRulesDecideForTheModelsTheyName) {
  const std::string rules = Dir + "/cards.conf", transcript = Dir + "/transcript";
  sdtest::WriteFile(rules, "name=OFAM1 path=never\nname=SDSIM oemid=0x5449 warn-life=99.9\n");
  const std::string sim = "--card " + kOtherFamily + " --card " + kNative + " --card " + kUsb;
  const Result r =
      run.Run(sim + " --transcript " + transcript, "--cards " + rules + " /dev/mmcblk5");
  ExpectRun(r, kExitAcquisition,
            "/dev/mmcblk5 is of a model never to be written (" + rules +
                " line 1): it is read without writing");
  EXPECT_FALSE(Wrote(transcript)) << sdtest::ReadFile(transcript);
  EXPECT_NE(r.Out.find("no health data from this card"), std::string::npos) << r.Out;
  const Result scan = Bare(sim, "--cards " + rules + " --scan");
  EXPECT_NE(scan.Out.find("/dev/mmcblk5 # native SD host, 15.93 GB; identity and standard "
                          "registers only (read-only): never written (" +
                          rules + " line 1)\n"),
            std::string::npos)
      << scan.Out;
  // The native card's model warns at 99.9 % left; the card behind the USB
  // reader shows no model and keeps the default limits.
  ExpectRun(run.Run(sim, "--cards " + rules + " -H /dev/mmcblk7"), kExitHealthWarning,
            "at or below the warning limit 99.90 %");
  ExpectRun(run.Run(sim, "--cards " + rules + " -H /dev/sdx"), 0, "PASSED");
  // A header without rated cycles, rated by a rule, has the life the
  // library gives the same card rated by its header.
  const std::string unrated = run.Card(
      "unrated", [](json &c) { c["header"]["PECycleCount"] = 0; }, kNative);
  sdtest::WriteFile(rules, "name=SDSIM rated-pe=10000\n");
  const Result rated = run.Run("--card " + unrated, "--cards " + rules + " --json /dev/mmcblk7");
  ExpectRun(rated, kExitHealthWarning, "no rated P/E cycles: 10000 from " + rules + " line 1");
  const Result own = run.Run("--card " + kNative, "--json /dev/mmcblk7");
  EXPECT_EQ(json::parse(rated.Out)["life"], json::parse(own.Out)["life"]);
  sdtest::WriteFile(rules, "name=OFAM1 path=nver\n");
  ExpectRun(run.Run(sim + " --transcript " + transcript, "--cards " + rules + " /dev/mmcblk5"),
            kExitAcquisition, "line 1: path is never or vendor");
  EXPECT_FALSE(Wrote(transcript));
}

} // namespace
} // namespace sdsmart_tool
