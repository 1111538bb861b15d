// The command line and the health rules behind the exit bits.
#include "options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <sstream>

namespace sdsmart_tool {
namespace {

using Args = std::vector<std::string>;

Args Split(const std::string &line) {
  std::istringstream in(line);
  return Args(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

TEST(Options, ModesAndDevices) {
  const std::tuple<const char *, Mode, std::string> cases[] = {
      {"/dev/sdb", Mode::Report, "/dev/sdb"},
      {"-H /dev/sdb", Mode::Health, "/dev/sdb"},
      {"--health /dev/mmcblk0", Mode::Health, "/dev/mmcblk0"},
      {"-Hj x", Mode::Health, "x"},
      {"--scan", Mode::Scan, ""},
      {"--restore-sector0 --force x", Mode::RestoreSector0, "x"},
      {"--version", Mode::Version, ""},
      {"-h", Mode::Help, ""},
      {"-- -odd-name", Mode::Report, "-odd-name"},
      {"config decode f", Mode::ConfigDecode, ""},
      {"config encode f -o g", Mode::ConfigEncode, ""},
      {"config check f", Mode::ConfigCheck, ""}};
  for (const auto &[line, mode, device] : cases) {
    Options o;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(Split(line), o, error)) << line << ": " << error;
    EXPECT_EQ(o.mode, mode) << line;
    EXPECT_EQ(o.device, device) << line;
  }
}

TEST(Options, BadCommandLinesAreRejectedWithAMessage) {
  for (const char *line :
       {"", "/dev/sda /dev/sdb", "--bogus x", "-Hx x", "--smart-version 256 x",
        "--smart-version -1 x", "--select abc x", "--warn-life 101 x",
        "--warn-life 5 --fail-life 6 x", "--config", "--json --prometheus x", "--scan --health",
        "--health=1 x", "config frobnicate f", "config decode"}) {
    Options o;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(Split(line), o, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(Options, ValuesOfEveryFormAndDefaults) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(Split("--config=/etc/x --smart-version 3 --select=0x7 --warn-life "
                                     "20.5 --fail-life=2 --prometheus=/m --state-dir /s -j x"),
                               o, error))
      << error;
  EXPECT_EQ(o.config_path, "/etc/x");
  EXPECT_EQ(o.smart_version, 3u);
  EXPECT_EQ(o.select, 7u);
  EXPECT_DOUBLE_EQ(o.limits.warn_life, 20.5);
  EXPECT_DOUBLE_EQ(o.limits.fail_life, 2.0);
  EXPECT_EQ(o.prometheus_file, "/m");
  EXPECT_EQ(o.state_dir, "/s");
  EXPECT_TRUE(o.json && o.prometheus);
  Options d;
  ASSERT_TRUE(ParseCommandLine({"--prometheus", "/dev/sdb"}, d, error)) << error;
  EXPECT_TRUE(d.prometheus && d.prometheus_file.empty());
  EXPECT_EQ(d.device, "/dev/sdb");
  EXPECT_FALSE(d.select.has_value());
}

TEST(Options, UsageDocumentsExitBitsAndExamples) {
  std::string usage = UsageText();
  for (const char *needle : {"bit 0", "bit 1", "bit 2", "bit 3", "bit 4", "Examples:",
                             "--prometheus", "--scan", "--restore-sector0", "config decode"})
    EXPECT_NE(usage.find(needle), std::string::npos) << needle;
}

TEST(Health, VerdictAndExitBits) {
  struct Case {
    const char *name;
    float remaining;
    uint32_t wp, ecc;
    HealthLimits limits;
    Verdict verdict;
    int exit_bits;
  };
  const HealthLimits normal;
  const Case cases[] = {
      {"just above warning", 10.01f, 0, 0, normal, Verdict::Passed, 0},
      {"at warning limit", 10.0f, 0, 0, normal, Verdict::Warning, kExitHealthWarning},
      {"at failure limit", 0.0f, 0, 0, normal, Verdict::Failed, kExitHealthFailed},
      {"over rated life", -20.0f, 0, 0, normal, Verdict::Failed, kExitHealthFailed},
      {"failed beats warning", 5.0f, 1, 1, normal, Verdict::Failed, kExitHealthFailed},
      {"unknown life", NAN, 0, 0, normal, Verdict::Warning, kExitHealthWarning},
      {"raised failure", 25.0f, 0, 0, {50.0, 25.0}, Verdict::Failed, kExitHealthFailed},
      {"lowered warning", 8.0f, 0, 0, {5.0, 1.0}, Verdict::Passed, 0}};
  for (const Case &k : cases) {
    CardCounters c;
    c.remaining_life_percent = k.remaining;
    c.write_protect_status = k.wp;
    c.ecc_uncorrectable = k.ecc;
    HealthResult r = Evaluate(c, k.limits);
    EXPECT_EQ(r.verdict, k.verdict) << k.name;
    EXPECT_EQ(VerdictExitBits(r.verdict), k.exit_bits) << k.name;
    EXPECT_EQ(r.reasons.empty(), k.verdict == Verdict::Passed) << k.name;
  }
}

} // namespace
} // namespace sdsmart_tool
