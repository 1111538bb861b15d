// The renderers (report, JSON, Prometheus), the erase-count chart and the CSD
// capacity, on a card built in memory.
#include "csd_capacity.h"
#include "output.h"
#include "prometheus_grammar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>

namespace sdsmart_tool {
namespace {

using nlohmann::json;

RunRecord SampleRun() {
  CardData d;
  d.device = "/dev/sdx";
  d.transport = "usb";
  CardIdentity &id = d.identity;
  id.manufacturer = "Tolvarex";
  id.serial_number = 0x12345678;
  id.registers_present = true;
  id.cid = std::vector<uint8_t>(16, 0xAB);
  id.capacity_bytes = 7948206080ull;
  id.firmware_version = "FW \"1\"\\x"; // quotes and a backslash must be escaped in labels
  CardCounters &c = d.counters;
  c.remaining_life_percent = 95.0f;
  c.life_used_percent = 5.0;
  c.pe_cycle_count = 3000;
  c.later_bad_blocks = 14;
  c.abnormal_shutdowns = 4;
  d.erase_counts = {1, 2, 3, 7, kUnusedEraseCount};
  d.read_counts = {10, 20};
  RunRecord run;
  run.argv = {"sdsmart", "--json", "/dev/sdx"};
  run.device = "/dev/sdx";
  run.card = d;
  run.health = Evaluate(d.counters, HealthLimits{});
  run.distribution = {{1, 3, 3}, {7, 7, 1}};
  return run;
}

TEST(Json, DocumentedKeysAndValues) {
  RunRecord run = SampleRun();
  run.messages.push_back({"information", "hello"});
  json j = BuildJson(run);
  EXPECT_EQ(j["json_format_version"], json({kJsonFormatMajor, kJsonFormatMinor}));
  EXPECT_EQ(j["sdsmart"]["version"], SDSMART_TOOL_VERSION);
  EXPECT_EQ(j["sdsmart"]["messages"][0], json({{"severity", "information"}, {"string", "hello"}}));
  EXPECT_EQ(j["card"]["serial_number"], 0x12345678);
  EXPECT_EQ(j["card"]["cid"], "abababababababababababababababab");
  EXPECT_EQ(j["erase_count"]["distribution"][1], json({{"low", 7}, {"high", 7}, {"vbs", 1}}));
  EXPECT_EQ(j["per_vb_erase_counts"], json({1, 2, 3, 7, nullptr}));
  EXPECT_EQ(j["per_vb_read_counts"], json({10, 20}));
  // As the tool prints it: bytes that are no UTF-8 are replaced, NaN is null.
  run.card->counters.remaining_life_percent = NAN;
  run.card->identity.client_mark = std::string("\xff\xfe mark", 7);
  j = json::parse(BuildJson(run).dump(-1, ' ', false, json::error_handler_t::replace));
  EXPECT_TRUE(j["life"]["remaining_percent"].is_null());
}

std::map<std::string, prometheus_text::Sample> Expose(const RunRecord &run,
                                                      prometheus_text::Parsed &parsed) {
  std::string text = RenderPrometheus(run);
  EXPECT_EQ(prometheus_text::Check(text, parsed), "") << text;
  std::map<std::string, prometheus_text::Sample> first;
  for (const auto &s : parsed.samples)
    first.emplace(s.name, s);
  return first;
}

TEST(Prometheus, OutputFollowsTheTextFormat) {
  prometheus_text::Parsed parsed;
  auto first = Expose(SampleRun(), parsed);
  for (const auto &s : parsed.samples) {
    EXPECT_EQ(s.name.compare(0, 8, "sdsmart_"), 0) << s.name;
    EXPECT_EQ(s.labels.at("device"), "/dev/sdx");
    EXPECT_TRUE(parsed.types.count(s.name) && parsed.help.count(s.name)) << s.name;
  }
  for (const auto &t : parsed.types)
    if (t.second == "counter") {
      EXPECT_TRUE(std::regex_match(t.first, std::regex(".+_total"))) << t.first;
    }
  const auto &info = first.at("sdsmart_device_info");
  EXPECT_EQ(info.value, 1.0);
  EXPECT_EQ(info.labels.at("serial_number"), "12345678");
  EXPECT_EQ(info.labels.at("firmware_version"), "FW \"1\"\\x"); // quoted and escaped on the wire
  EXPECT_EQ(first.at("sdsmart_smart_healthy").value, 1.0);
  EXPECT_DOUBLE_EQ(first.at("sdsmart_remaining_life_ratio").value, 0.95);
  EXPECT_DOUBLE_EQ(first.at("sdsmart_life_used_ratio").value, 0.05);
  EXPECT_EQ(first.at("sdsmart_capacity_bytes").value, 7948206080.0);
}

TEST(Prometheus, FailedReadStillReportsAndUnhealthyIsZero) {
  RunRecord failed;
  failed.device = "/dev/sdq";
  prometheus_text::Parsed parsed, p2;
  auto first = Expose(failed, parsed);
  ASSERT_EQ(parsed.samples.size(), 1u);
  EXPECT_EQ(first.at("sdsmart_smart_read_success").value, 0.0);
  RunRecord run = SampleRun();
  run.card->counters.remaining_life_percent = NAN;
  run.health->verdict = Verdict::Failed;
  first = Expose(run, p2);
  EXPECT_EQ(first.at("sdsmart_smart_healthy").value, 0.0);
  EXPECT_TRUE(std::isnan(first.at("sdsmart_remaining_life_ratio").value));
}

TEST(PrometheusGrammar, RejectsMalformedExpositions) {
  for (const char *text : {
           "metric 1",                    // no final line feed
           "9metric 1\n",                 // bad name
           "m{a=\"x} 1\n",                // unterminated value
           "m{a=x} 1\n",                  // unquoted value
           "m{a=\"\\q\"} 1\n",            // bad escape
           "m 1 2 3\n",                   // trailing text
           "m abc\n",                     // bad value
           "# TYPE m wobble\nm 1\n",      // bad type
           "m 1\n# TYPE m gauge\n",       // TYPE after samples
           "a 1\nb 1\na{x=\"1\"} 2\n",    // not grouped
           "m{a=\"1\"} 1\nm{a=\"1\"} 2\n" // repeated series
       }) {
    prometheus_text::Parsed parsed;
    EXPECT_NE(prometheus_text::Check(text, parsed), "") << text;
  }
  prometheus_text::Parsed ok;
  EXPECT_EQ(prometheus_text::Check(
                "# HELP m x\n# TYPE m gauge\nm{a=\"q\\\"\\n\\\\\"} NaN\nm -Inf 123\n", ok),
            "");
  EXPECT_EQ(ok.samples.at(0).labels.at("a"), "q\"\n\\");
}

TEST(TextReport, RowsAndChartFitTheWidth) {
  RunRecord run = SampleRun();
  std::string text = RenderReport(run, ReportStyle{60, "#"});
  for (const char *row :
       {"Transport:                USB card reader (SCSI pass-through)\n",
        "Serial number:            0x12345678\n",
        "Capacity (CSD):           7,948,206,080 bytes [7.95 GB]\n",
        "SMART overall health:     PASSED\n", "Remaining life:           95.00 %\n",
        "Life used:                5.00 % of 3,000 rated P/E cycles\n",
        "Later bad blocks:         14\n", "Abnormal shutdowns:       4\n",
        "=== Erase-count distribution (4 of 5 VBs in use) ===\n"})
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    if (text.find(" VBs |", start) < end) {
      EXPECT_LE(end - start, 60u) << text.substr(start, end - start);
    }
  run.card->counters.ecc_uncorrectable = 3;
  run.health = Evaluate(run.card->counters, HealthLimits{});
  EXPECT_EQ(RenderHealthOnly(run),
            "SMART overall-health self-assessment: WARNING\n  - 3 uncorrectable ECC errors\n");
  EXPECT_EQ(Printable("a\x01\xffz"), "a??z");
}

TEST(Histogram, RegionsCoverEveryUsedEntry) {
  std::vector<uint32_t> counts{kUnusedEraseCount, kUnusedEraseCount};
  for (uint32_t i = 0; i < 1000; ++i)
    counts.push_back(100 + (i * 37) % 400);
  for (const auto &[table, used, limit] : {std::tuple{counts, 1000u, 10u},
                                           {{10, 20, 30, kUnusedEraseCount}, 3u, 10u},
                                           {{}, 0u, 0u},
                                           {{kUnusedEraseCount}, 0u, 0u}}) {
    std::vector<Region> regions = EraseCountRegions(table, 10);
    EXPECT_LE(regions.size(), limit);
    uint32_t total = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
      total += regions[i].vbs;
      EXPECT_LE(regions[i].low, regions[i].high);
      if (i) {
        EXPECT_GT(regions[i].low, regions[i - 1].high);
      }
    }
    EXPECT_EQ(total, used);
  }
  std::vector<Region> regions = EraseCountRegions(counts, 10);
  EXPECT_EQ(regions.front().low, 100u);
  EXPECT_EQ(regions.back().high, 499u);
}

TEST(BarChart, ScalesToTheWidth) {
  std::vector<std::string> lines =
      DrawBarChart({{0, 9, 100}, {10, 19, 50}, {20, 29, 1}, {30, 39, 0}}, 50);
  ASSERT_EQ(lines.size(), 4u);
  std::vector<size_t> bars;
  for (const std::string &l : lines) {
    EXPECT_EQ(l.find('|'), lines[0].find('|')); // columns line up
    bars.push_back(l.size() - l.find('|') - 1);
  }
  EXPECT_EQ(lines[0].size(), 49u); // the longest bar fills the width but the last column
  EXPECT_EQ(bars[1] * 2, bars[0] + (bars[0] % 2));
  EXPECT_EQ(bars[2], 1u); // a non-empty region always shows
  EXPECT_EQ(bars[3], 0u);
  EXPECT_NE(lines[0].find("100 VBs"), std::string::npos);
  // A terminal too narrow for the labels still gets a minimum bar.
  lines = DrawBarChart({{1000000, 2000000, 4000000}}, 10);
  EXPECT_EQ(lines.at(0).size() - lines[0].find('|') - 1, 10u);
}

TEST(TerminalWidth, FallsBackToColumnsThenEighty) {
  const char *saved = std::getenv("COLUMNS");
  std::string keep = saved ? saved : "";
  for (const auto &[columns, width] : {std::pair{"132", 132u}, {"junk", 80u}, {"", 80u}}) {
    ::setenv("COLUMNS", columns, 1);
    EXPECT_EQ(TerminalWidth(-1), width) << columns;
  }
  saved ? ::setenv("COLUMNS", keep.c_str(), 1) : ::unsetenv("COLUMNS");
}

TEST(CsdCapacity, VersionOneAndTwo) {
  // CSD 2.0 with C_SIZE 0x3B37: (C_SIZE + 1) * 512 KiB.
  uint8_t v2[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                    0x3B, 0x37, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  EXPECT_EQ(CapacityFromCsd(v2), (0x3B37ull + 1) * 512 * 1024);
  // CSD 1.0: READ_BL_LEN 9, C_SIZE 0xF03, C_SIZE_MULT 7: (C_SIZE + 1) << (MULT + 2 + 9).
  uint8_t v1[16] = {0x00, 0x26, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC0,
                    0xFE, 0xFF, 0xFF, 0xFF, 0x16, 0x80, 0x00, 0x00};
  EXPECT_EQ(CapacityFromCsd(v1), (0xF03ull + 1) << (7 + 2 + 9));
}

} // namespace
} // namespace sdsmart_tool
