#include "health.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sdsmart_tool {
namespace {

struct HealthCase {
  const char *name;
  float remaining;
  uint32_t wp;
  uint32_t ecc;
  Verdict verdict;
  int exit_bits;
};

class HealthRules : public ::testing::TestWithParam<HealthCase> {};

TEST_P(HealthRules, VerdictAndExitBits) {
  const HealthCase &k = GetParam();
  CardCounters c;
  c.remaining_life_percent = k.remaining;
  c.write_protect_status = k.wp;
  c.ecc_uncorrectable = k.ecc;
  HealthResult r = Evaluate(c, HealthLimits{});
  EXPECT_EQ(r.verdict, k.verdict) << k.name;
  EXPECT_EQ(VerdictExitBits(r.verdict), k.exit_bits) << k.name;
  EXPECT_EQ(r.reasons.empty(), k.verdict == Verdict::Passed) << k.name;
}

INSTANTIATE_TEST_SUITE_P(
    Health, HealthRules,
    ::testing::Values(
        HealthCase{"healthy", 95.0f, 0, 0, Verdict::Passed, 0},
        HealthCase{"just above warning", 10.01f, 0, 0, Verdict::Passed, 0},
        HealthCase{"at warning limit", 10.0f, 0, 0, Verdict::Warning, kExitHealthWarning},
        HealthCase{"worn", 3.5f, 0, 0, Verdict::Warning, kExitHealthWarning},
        HealthCase{"ecc errors", 90.0f, 0, 2, Verdict::Warning, kExitHealthWarning},
        HealthCase{"at failure limit", 0.0f, 0, 0, Verdict::Failed, kExitHealthFailed},
        HealthCase{"over rated life", -20.0f, 0, 0, Verdict::Failed, kExitHealthFailed},
        HealthCase{"write protected", 99.0f, 1, 0, Verdict::Failed, kExitHealthFailed},
        HealthCase{"failed beats warning", 5.0f, 1, 1, Verdict::Failed, kExitHealthFailed},
        HealthCase{"unknown life", NAN, 0, 0, Verdict::Warning, kExitHealthWarning}));

TEST(Health, LimitsAreHonoured) {
  CardCounters c;
  c.remaining_life_percent = 25.0f;
  EXPECT_EQ(Evaluate(c, HealthLimits{30.0, 0.0}).verdict, Verdict::Warning);
  EXPECT_EQ(Evaluate(c, HealthLimits{50.0, 25.0}).verdict, Verdict::Failed);
  EXPECT_EQ(Evaluate(c, HealthLimits{20.0, 5.0}).verdict, Verdict::Passed);
}

TEST(Health, ExitBitsAreDistinct) {
  int all = kExitCommandLine | kExitOpenFailed | kExitAcquisition | kExitHealthFailed |
            kExitHealthWarning;
  EXPECT_EQ(all, 31);
  EXPECT_STREQ(VerdictName(Verdict::Passed), "PASSED");
  EXPECT_STREQ(VerdictName(Verdict::Warning), "WARNING");
  EXPECT_STREQ(VerdictName(Verdict::Failed), "FAILED");
}

} // namespace
} // namespace sdsmart_tool
