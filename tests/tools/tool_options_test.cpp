#include "options.h"

#include <gtest/gtest.h>

namespace sdsmart_tool {
namespace {

struct GoodCase {
  std::vector<std::string> args;
  Mode mode;
  std::string device;
};

void PrintTo(const GoodCase &c, std::ostream *os) {
  for (const std::string &a : c.args)
    *os << a << " ";
}

class GoodCommandLine : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodCommandLine, ParsesModeAndDevice) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(GetParam().args, o, error)) << error;
  EXPECT_EQ(o.mode, GetParam().mode);
  EXPECT_EQ(o.device, GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(
    Options, GoodCommandLine,
    ::testing::Values(
        GoodCase{{"/dev/sdb"}, Mode::Report, "/dev/sdb"},
        GoodCase{{"-H", "/dev/sdb"}, Mode::Health, "/dev/sdb"},
        GoodCase{{"--health", "/dev/mmcblk0"}, Mode::Health, "/dev/mmcblk0"},
        GoodCase{{"-Hj", "/dev/sdb"}, Mode::Health, "/dev/sdb"},
        GoodCase{{"--scan"}, Mode::Scan, ""},
        GoodCase{{"--restore-sector0", "--force", "/dev/sdc"}, Mode::RestoreSector0, "/dev/sdc"},
        GoodCase{{"--version"}, Mode::Version, ""}, GoodCase{{"-h"}, Mode::Help, ""},
        GoodCase{{"--", "-odd-name"}, Mode::Report, "-odd-name"},
        GoodCase{{"config", "decode", "f"}, Mode::ConfigDecode, ""},
        GoodCase{{"config", "encode", "f", "-o", "g"}, Mode::ConfigEncode, ""},
        GoodCase{{"config", "check", "f"}, Mode::ConfigCheck, ""}));

class BadCommandLine : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadCommandLine, IsRejectedWithAMessage) {
  Options o;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(GetParam(), o, error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadCommandLine,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"/dev/sda", "/dev/sdb"},
                      std::vector<std::string>{"--bogus", "/dev/sdb"},
                      std::vector<std::string>{"-Hx", "/dev/sdb"},
                      std::vector<std::string>{"--smart-version", "256", "/dev/sdb"},
                      std::vector<std::string>{"--smart-version", "-1", "/dev/sdb"},
                      std::vector<std::string>{"--select", "abc", "/dev/sdb"},
                      std::vector<std::string>{"--warn-life", "101", "/dev/sdb"},
                      std::vector<std::string>{"--warn-life", "5", "--fail-life", "6", "/dev/sdb"},
                      std::vector<std::string>{"--config"},
                      std::vector<std::string>{"--json", "--prometheus", "x"},
                      std::vector<std::string>{"--scan", "--health"},
                      std::vector<std::string>{"--health=1", "x"},
                      std::vector<std::string>{"config", "frobnicate", "f"},
                      std::vector<std::string>{"config", "decode"}));

TEST(Options, ValuesOfEveryForm) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--config=/etc/x", "--smart-version", "3", "--select=0x7",
                                "--warn-life", "20.5", "--fail-life=2", "--prometheus=/tmp/m.prom",
                                "--state-dir", "/s", "-j", "/dev/sdb"},
                               o, error))
      << error;
  EXPECT_EQ(o.config_path, "/etc/x");
  ASSERT_TRUE(o.smart_version.has_value());
  EXPECT_EQ(*o.smart_version, 3u);
  ASSERT_TRUE(o.select.has_value());
  EXPECT_EQ(*o.select, 7u);
  EXPECT_DOUBLE_EQ(o.limits.warn_life, 20.5);
  EXPECT_DOUBLE_EQ(o.limits.fail_life, 2.0);
  EXPECT_TRUE(o.prometheus);
  EXPECT_EQ(o.prometheus_file, "/tmp/m.prom");
  EXPECT_EQ(o.state_dir, "/s");
  EXPECT_TRUE(o.json);
}

TEST(Options, DefaultsAndScanCandidates) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--scan", "/dev/sdx", "/dev/mmcblk*"}, o, error)) << error;
  EXPECT_EQ(o.scan_patterns, (std::vector<std::string>{"/dev/sdx", "/dev/mmcblk*"}));
  ASSERT_TRUE(ParseCommandLine({"--prometheus", "/dev/sdb"}, o, error)) << error;
  EXPECT_TRUE(o.prometheus);
  EXPECT_TRUE(o.prometheus_file.empty());
  EXPECT_EQ(o.device, "/dev/sdb");
  EXPECT_DOUBLE_EQ(o.limits.warn_life, 10.0);
  EXPECT_DOUBLE_EQ(o.limits.fail_life, 0.0);
  EXPECT_FALSE(o.select.has_value());
}

TEST(Options, UsageDocumentsExitBitsAndExamples) {
  std::string usage = UsageText();
  for (const char *needle : {"bit 0", "bit 1", "bit 2", "bit 3", "bit 4", "Examples:",
                             "--prometheus", "--scan", "--restore-sector0", "config decode"})
    EXPECT_NE(usage.find(needle), std::string::npos) << needle;
}

} // namespace
} // namespace sdsmart_tool
