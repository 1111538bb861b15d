// SPDX-License-Identifier: MIT
// What the tool tells a fleet, on virtual cards: only values read in the
// run, verdicts that contradictions cannot pass, refusals before the first
// write, output failures as errors, and --all with a stuck card.
#include "sandbox.h"

#include <sdsmart/sdsmart.h>

#include <regex>
#include <set>
#include <sys/sysmacros.h>

namespace sdsmart_tool {
namespace {

class Readings : public Sandbox {
protected:
  // The label sets of a metric's samples for one device.
  static std::set<std::string> Labels(const std::string &text, const std::string &metric,
                                      const std::string &device) {
    std::set<std::string> out;
    std::regex sample(metric + "\\{device=\"" + device + "\"([^}]*)\\}");
    for (std::sregex_iterator i(text.begin(), text.end(), sample), end; i != end; ++i)
      out.insert((*i)[1]);
    return out;
  }
};

// native.json has one uncorrectable ECC error: only bit 4 reads it.
TEST_F(Readings, EachValueIsReadInTheRunOrShownAsNotRead) {
  for (unsigned select = 0; select < 8; ++select) {
    SCOPED_TRACE("select " + std::to_string(select));
    const std::string selected = "--select " + std::to_string(select);
    Result r = run.Run("--card " + kNative, selected + " --json /dev/mmcblk7");
    EXPECT_EQ(r.Status, select & 4 ? 16 : 0) << r.Err;
    json doc = json::parse(r.Out);
    EXPECT_EQ(doc["ecc"]["uncorrectable"], select & 4 ? json(1) : json(nullptr));
    EXPECT_EQ(doc["erase_count"]["min"].is_null(), !(select & 1));
    EXPECT_EQ(doc["per_vb_read_counts"].is_null(), !(select & 2));
    r = run.Run("--card " + kNative, selected + " --prometheus /dev/mmcblk7");
    EXPECT_EQ(r.Out.find("sdsmart_ecc_uncorrectable_errors_total") != std::string::npos,
              (select & 4) != 0);
    EXPECT_EQ(r.Out.find("source=\"table\"") != std::string::npos, (select & 1) != 0);
  }
  ExpectRun(run.Run("--card " + kNative, "--select 1 /dev/mmcblk7"), 0,
            "Uncorrectable ECC:        not read (select bit 4)");
  // A card whose registers the library could not read has no capacity, not 0.
  EXPECT_EQ(run.Run("--card " + sdtest::kSource + "/sim/cards/native_sdsc.json", "--prometheus "
                                                                                 "/dev/mmcblk6")
                .Out.find("sdsmart_capacity_bytes"),
            std::string::npos);
  const std::string transcript = Dir + "/transcript";
  ExpectRun(run.Run("--card " + kUsb + " --transcript " + transcript, "--select=32 /dev/sdx"), 1);
  EXPECT_EQ(sdtest::Transfers(transcript).size(), 0u);
}

// Each card breaks one relation of the header (select 4 leaves the table
// out where the table would break a second one).
TEST_F(Readings, ContradictionsAreWarningsThatNameTheValues) {
  const std::tuple<json, const char *, std::string> cases[] = {
      {{{"MinEraseCount", 900}}, "4", "minimum erase count 900 above maximum 176 (header)"},
      {{{"TotalEraseCount", 4000000}}, "5", "average erase count 977 above maximum 176"},
      {{{"InitialBadBlockCount", 20000}},
       "5",
       "bad blocks 20000 initial + 8 later above the 16384 physical blocks"},
      {{{"PowerCycleCount", "0xFFFFFFFF"}},
       "5",
       "power cycles has every bit set (the field was never written)"},
      {{{"MinEraseCount", 10}},
       "5",
       "erase counts 62 to 176 in the table, 10 to 176 in the header"},
      {{{"BlocksPerVB", 0}}, "5", "4096 virtual blocks of 0 physical blocks each"},
      // What would fail a card decides nothing in a reading that contradicts
      // itself: a life used up, a write-protect status.
      {{{"TotalEraseCount", 4000000}, {"PECycleCount", 500}},
       "5",
       "average erase count 977 above maximum 176"},
      {{{"MinEraseCount", 900}, {"WPStatus", 1}},
       "4",
       "minimum erase count 900 above maximum 176 (header)"}};
  for (const auto &[fields, select, reason] : cases) {
    SCOPED_TRACE(reason);
    const std::string card =
        "--card " + run.Card("odd", [&](json &c) { c["header"].update(fields); });
    const std::string selected = std::string(" --select ") + select + " /dev/sdx";
    ExpectRun(run.Run(card, "-H" + selected), 16,
              "WARNING\n  - implausible reading: " + reason + "\n");
    Result r = run.Run(card, "--json" + selected);
    EXPECT_EQ(json::parse(r.Out)["plausibility"]["contradictions"].size(), 1u) << r.Out;
    EXPECT_EQ(json::parse(r.Out)["life"]["remaining_percent"], nullptr) << r.Out;
    r = run.Run(card, "--prometheus" + selected);
    EXPECT_NE(r.Out.find("sdsmart_reading_plausible{device=\"/dev/sdx\"} 0\n"), std::string::npos);
    EXPECT_EQ(r.Out.find(" 4294967295\n"), std::string::npos) << "a field never written";
  }
  const std::string unrated =
      "--card " + run.Card("unrated", [](json &c) { c["header"]["PECycleCount"] = 0; });
  for (const std::string form : {"-H", "--json", "--prometheus"}) {
    const Result r = run.Run(unrated, form + " /dev/sdx");
    ExpectRun(r, 16, form == "-H" ? "remaining life is unknown" : "");
    EXPECT_EQ(std::regex_search(r.Out, std::regex("\\b[+-]?[Ii]nf\\b|remaining_life")), false)
        << r.Out;
  }
}

TEST_F(Readings, RefusedBeforeTheFirstWrite) {
  const std::string plain = sdtest::ReadFile(kSource + "/demo/config.ini"), usb = "--card " + kUsb,
                    transcript = Dir + "/transcript";
  // (A --record file is prepared as the textfile is; a later --state-dir wins.)
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {"\"SDSMTES\";", "", 4, "has 7 characters, not 8; nothing was written"},
      {";", "", 4, "the entry string of vendor 7 (section [SMART Entry], key 7) is missing"},
      {"\"SDSMTEST\";", "--prometheus=" + Dir + "/none/x.prom", 32,
       "cannot create a temporary file next to " + Dir + "/none/x.prom"},
      {"\"SDSMTEST\";", "--state-dir /proc/self/none", 4, "(/proc/self/none)"}};
  for (const auto &[entry, extra, status, message] : cases) {
    std::string text = plain;
    text.replace(text.find("\"SDSMTEST\";"), 11, entry);
    WriteFileAtomically(Config, EncodeConfig(text), 0644, Sync::None);
    ExpectRun(run.Run(usb + " --transcript " + transcript, extra + " /dev/sdx"), status, message);
    EXPECT_EQ(sdtest::Transfers(transcript).size(), 0u) << message;
  }
  // What is no block device is not opened for I/O, even with --force (the
  // guard names each kind of file alike).
  ASSERT_EQ(::mkfifo((Dir + "/fifo").c_str(), 0600), 0);
  ExpectRun(run.Run(usb, "--force " + Dir + "/fifo"), 2,
            Dir + "/fifo is not an SD card: it is a FIFO, not a block device\n");
  WriteFileAtomically(Config, plain, 0644, Sync::None);
  ExpectRun(run.Run(usb, "/dev/sdx"), 4,
            "a plain-text configuration is stored with: sdsmart config encode " + Config);
  ASSERT_EQ(::truncate(Config.c_str(), SDSMART_MAX_CONFIG_BYTES + 1), 0);
  ExpectRun(run.Run(usb, "/dev/sdx"), 4,
            "more than a configuration file (" + std::to_string(SDSMART_MAX_CONFIG_BYTES) +
                " bytes at most)");
}

// The report cannot be written: the card is read and restored all the same,
// and the run says so with the output bit.
TEST_F(Readings, OutputFailuresAreErrors) {
  for (const auto &[out, message] : {std::pair{"/dev/full", "No space left on device"},
                                     {"-", "it is closed"},
                                     {"|", "Broken pipe"}}) {
    Sector original;
    const std::string card = ImageCard("output", original);
    ExpectRun(run.Run("--card " + card, "--json /dev/sdx", {}, out), kExitOutput,
              std::string("sdsmart: error: cannot write standard output: ") + message);
    EXPECT_EQ(ImageSector0(), original) << out;
  }
}

// An output path replaces a regular file only, the one a link leads to; any
// other target is refused with what it is, before the card is written, and
// stays what it was. Every output is replaced by one class (PendingFile):
// the textfile meets each target, --record and `config encode` one each.
TEST_F(Readings, OutputsReplaceOnlyRegularFiles) {
  const std::string fifo = Dir + "/fifo", dev = Dir + "/null", file = Dir + "/file";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const bool root = ::mknod(dev.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  WriteFileAtomically(file, "old\n", 0644, Sync::None);
  const std::pair<std::string, std::string> links[] = {
      {"to-file", file}, {"to-fifo", fifo}, {"to-nothing", Dir + "/none"}};
  for (const auto &[name, target] : links)
    ASSERT_EQ(::symlink(target.c_str(), (Dir + "/" + name).c_str()), 0);
  const std::tuple<std::string, std::string, mode_t> cases[] = {
      {fifo, "is a FIFO, not a regular file", S_IFIFO},
      {dev, "is a character device, not a regular file", S_IFCHR},
      {Dir, "is a directory, not a regular file", S_IFDIR},
      {Dir + "/to-fifo", "is a FIFO, not a regular file", S_IFLNK},
      {Dir + "/to-nothing", "cannot follow the symbolic link", S_IFLNK},
      {Dir + "/to-file", "", S_IFLNK}};
  const std::string transcript = Dir + "/transcript";
  for (const auto &[path, refusal, kind] : cases) {
    if (path == dev && !root)
      continue; // making a device node takes root
    SCOPED_TRACE(path);
    ::unlink(transcript.c_str());
    ExpectRun(run.Run("--card " + kUsb + " --transcript " + transcript,
                      "--prometheus=" + path + " /dev/sdx"),
              refusal.empty() ? 0 : kExitOutput, refusal);
    EXPECT_EQ(sdtest::Transfers(transcript).empty(), !refusal.empty());
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, kind);
  }
  ExpectRun(run.Run("--card " + kUsb, "--record=" + fifo + " /dev/sdx"), kExitOutput,
            "is a FIFO, not a regular file");
  const std::string plain = kSource + "/demo/config.ini";
  ExpectRun(Exec({kBin + "sdsmart", "config", "encode", plain, "-o", Dir + "/to-fifo"}),
            kExitOutput, "is a FIFO, not a regular file");
  ExpectRun(Exec({kBin + "sdsmart", "config", "encode", plain, "-o", Dir + "/to-file"}), 0);
  EXPECT_EQ(sdtest::ReadFile(file), EncodeConfig(sdtest::ReadFile(plain)));
}

// Three cards, one answering busy (slowly) for much longer than the
// timeout: the others are read and written, the stuck one is stopped with
// its sector 0 restored and reported as timed out.
TEST_F(Readings, AllStopsAStuckCardAndCountsTheCards) {
  Sector original;
  ImageCard("image", original);
  const std::string stuck = run.Card("stuck", [&](json &c) {
    c["node"] = "/dev/sdz";
    c["image"] = Image;
    c["busy"] = {{"header", 100000}};
    c["latency"] = {{"transfer_us", 20000}};
  });
  const std::string worn = run.Card("worn", [](json &c) {
    c["node"] = "/dev/sdy";
    c["header"]["PECycleCount"] = 130;
  });
  const std::string prom = Dir + "/sdsmart.prom";
  ExpectRun(run.Run("--card " + kUsb + " --card " + worn + " --card " + stuck,
                    "--all --timeout 5 --prometheus=" + prom + " /dev/sdx /dev/sdy /dev/sdz"),
            kExitAcquisition | kExitHealthWarning,
            "/dev/sdz: timed out: its run did not end within 5 s and was sent SIGTERM\n");
  EXPECT_EQ(ImageSector0(), original);
  std::string text = sdtest::ReadFile(prom);
  EXPECT_NE(text.find("sdsmart_devices{state=\"found\"} 3\nsdsmart_devices{state=\"read\"} 2\n"),
            std::string::npos)
      << text;
  std::set<std::string> buckets = Labels(text, "sdsmart_erase_count_ratio_bucket", "/dev/sdx");
  EXPECT_EQ(buckets.size(), 16u);
  EXPECT_EQ(buckets, Labels(text, "sdsmart_erase_count_ratio_bucket", "/dev/sdy"));
  ExpectRun(run.Run("--card " + kUsb, "--all --prometheus=" + prom + " " + Dir + "/none*"), 0);
  EXPECT_EQ(sdtest::ReadFile(prom),
            "# HELP sdsmart_devices Card devices sdsmart --all found, and those it read.\n"
            "# TYPE sdsmart_devices gauge\nsdsmart_devices{state=\"found\"} 0\n"
            "sdsmart_devices{state=\"read\"} 0\n");
}

} // namespace
} // namespace sdsmart_tool
