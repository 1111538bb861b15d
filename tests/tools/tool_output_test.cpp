#include "output.h"
#include "prometheus_grammar.h"
#include "tool_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>

namespace sdsmart_tool {
namespace {

using nlohmann::json;

TEST(Json, CarriesTheDocumentedKeysAndValues) {
  RunRecord run = SampleRun();
  run.exit_status = 0;
  run.messages.push_back({"information", "hello"});
  json j = json::parse(BuildJson(run).dump());
  EXPECT_EQ(j["json_format_version"], json({kJsonFormatMajor, kJsonFormatMinor}));
  EXPECT_EQ(j["sdsmart"]["name"], "sdsmart");
  EXPECT_EQ(j["sdsmart"]["version"], SDSMART_TOOL_VERSION);
  EXPECT_EQ(j["sdsmart"]["argv"], json({"sdsmart", "--json", "/dev/sdx"}));
  EXPECT_EQ(j["sdsmart"]["exit_status"], 0);
  EXPECT_EQ(j["sdsmart"]["messages"][0]["string"], "hello");
  EXPECT_EQ(j["device"]["name"], "/dev/sdx");
  EXPECT_EQ(j["device"]["transport"], "usb");
  EXPECT_EQ(j["smart_status"]["passed"], true);
  EXPECT_EQ(j["smart_status"]["verdict"], "PASSED");
  EXPECT_EQ(j["card"]["manufacturer"], "Tolvarex");
  EXPECT_EQ(j["card"]["serial_number"], 0x12345678);
  EXPECT_EQ(j["card"]["capacity_bytes"], 7948206080ull);
  EXPECT_EQ(j["card"]["cid"], "abababababababababababababababab");
  EXPECT_EQ(j["card"]["flash_id"], "45 DE 94 93 76 51");
  EXPECT_EQ(j["card"]["flash_maker"], "SanDisk");
  EXPECT_EQ(j["life"]["remaining_percent"], 95.0);
  EXPECT_EQ(j["life"]["rated_pe_cycles"], 3000);
  EXPECT_EQ(j["erase_count"]["total"], 1500);
  EXPECT_EQ(j["erase_count"]["max"], 7);
  EXPECT_EQ(j["erase_count"]["distribution"][1], json({{"low", 7}, {"high", 7}, {"vbs", 1}}));
  EXPECT_EQ(j["blocks"]["later_bad"], 14);
  EXPECT_EQ(j["power"]["cycles"], 321);
  EXPECT_EQ(j["power"]["abnormal_shutdowns"], 4);
  EXPECT_EQ(j["ecc"]["uncorrectable"], 0);
  // Unused entries are null, not the card's marker value.
  EXPECT_EQ(j["per_vb_erase_counts"], json({1, 2, 3, 7, nullptr}));
  EXPECT_EQ(j["per_vb_read_counts"], json({10, 20}));
}

TEST(Json, KeysAreSnakeCase) {
  json j = BuildJson(SampleRun());
  std::function<void(const json &)> walk = [&](const json &v) {
    if (v.is_object())
      for (auto it = v.begin(); it != v.end(); ++it) {
        EXPECT_TRUE(std::regex_match(it.key(), std::regex("[a-z][a-z0-9_]*"))) << it.key();
        walk(it.value());
      }
    else if (v.is_array())
      for (const json &e : v)
        walk(e);
  };
  walk(j);
}

TEST(Json, FailedRunHasErrorButNoCard) {
  RunRecord run;
  run.device = "/dev/sdq";
  run.error = LibraryError{4106, "Drive not found, please detect again! /dev/sdq"};
  run.exit_status = 2;
  json j = BuildJson(run);
  EXPECT_EQ(j["error"]["code"], 4106);
  EXPECT_EQ(j["sdsmart"]["exit_status"], 2);
  EXPECT_FALSE(j.contains("card"));
  EXPECT_FALSE(j.contains("smart_status"));
}

TEST(Json, NotANumberBecomesNullAndBadBytesAreReplaced) {
  RunRecord run = SampleRun();
  run.card->counters.remaining_life_percent = NAN;
  run.card->identity.client_mark = std::string("\xff\xfe mark", 7);
  std::string text = BuildJson(run).dump(-1, ' ', false, json::error_handler_t::replace);
  json j = json::parse(text);
  EXPECT_TRUE(j["life"]["remaining_percent"].is_null());
}

TEST(Prometheus, OutputFollowsTheTextFormat) {
  RunRecord run = SampleRun();
  std::string text = RenderPrometheus(run);
  prometheus_text::Parsed parsed;
  ASSERT_EQ(prometheus_text::Check(text, parsed), "") << text;
  std::map<std::string, const prometheus_text::Sample *> first;
  for (const auto &s : parsed.samples) {
    EXPECT_EQ(s.name.compare(0, 8, "sdsmart_"), 0) << s.name;
    EXPECT_EQ(s.labels.at("device"), "/dev/sdx");
    EXPECT_TRUE(parsed.types.count(s.name)) << s.name;
    EXPECT_TRUE(parsed.help.count(s.name)) << s.name;
    first.emplace(s.name, &s);
  }
  for (const auto &t : parsed.types)
    if (t.second == "counter") {
      EXPECT_TRUE(t.first.size() > 6 && t.first.substr(t.first.size() - 6) == "_total") << t.first;
    }
  ASSERT_TRUE(first.count("sdsmart_device_info"));
  const auto &info = *first["sdsmart_device_info"];
  EXPECT_EQ(info.value, 1.0);
  EXPECT_EQ(info.labels.at("serial_number"), "12345678");
  EXPECT_EQ(info.labels.at("firmware_version"), "FW \"1\"\\x"); // quoted and escaped on the wire
  EXPECT_EQ(first["sdsmart_smart_healthy"]->value, 1.0);
  EXPECT_DOUBLE_EQ(first["sdsmart_remaining_life_ratio"]->value, 0.95);
  EXPECT_DOUBLE_EQ(first["sdsmart_life_used_ratio"]->value, 0.05);
  EXPECT_EQ(first["sdsmart_power_cycles_total"]->value, 321);
  EXPECT_EQ(first["sdsmart_capacity_bytes"]->value, 7948206080.0);
}

TEST(Prometheus, FailedReadStillReportsAndUnhealthyIsZero) {
  RunRecord failed;
  failed.device = "/dev/sdq";
  prometheus_text::Parsed parsed;
  ASSERT_EQ(prometheus_text::Check(RenderPrometheus(failed), parsed), "");
  ASSERT_EQ(parsed.samples.size(), 1u);
  EXPECT_EQ(parsed.samples[0].name, "sdsmart_smart_read_success");
  EXPECT_EQ(parsed.samples[0].value, 0.0);

  RunRecord run = SampleRun();
  run.card->counters.remaining_life_percent = NAN;
  run.health->verdict = Verdict::Failed;
  prometheus_text::Parsed p2;
  ASSERT_EQ(prometheus_text::Check(RenderPrometheus(run), p2), "");
  for (const auto &s : p2.samples) {
    if (s.name == "sdsmart_smart_healthy") {
      EXPECT_EQ(s.value, 0.0);
    }
    if (s.name == "sdsmart_remaining_life_ratio") {
      EXPECT_TRUE(std::isnan(s.value));
    }
  }
}

TEST(PrometheusGrammar, RejectsMalformedExpositions) {
  const char *bad[] = {
      "metric 1",                     // no final line feed
      "9metric 1\n",                  // bad name
      "m{a=\"x} 1\n",                 // unterminated value
      "m{a=x} 1\n",                   // unquoted value
      "m{a=\"\\q\"} 1\n",             // bad escape
      "m 1 2 3\n",                    // trailing text
      "m abc\n",                      // bad value
      "# TYPE m wobble\nm 1\n",       // bad type
      "m 1\n# TYPE m gauge\n",        // TYPE after samples
      "a 1\nb 1\na{x=\"1\"} 2\n",     // not grouped
      "m{a=\"1\"} 1\nm{a=\"1\"} 2\n", // repeated series
  };
  for (const char *text : bad) {
    prometheus_text::Parsed parsed;
    EXPECT_NE(prometheus_text::Check(text, parsed), "") << text;
  }
  prometheus_text::Parsed ok;
  EXPECT_EQ(prometheus_text::Check(
                "# HELP m x\n# TYPE m gauge\nm{a=\"q\\\"\\n\\\\\"} NaN\nm -Inf 123\n", ok),
            "");
}

TEST(TextReport, ShowsEveryValueAndTheChart) {
  RunRecord run = SampleRun();
  ReportStyle style;
  style.width = 60;
  std::string text = RenderReport(run, style);
  for (const char *needle : {"/dev/sdx",
                             "USB card reader",
                             "Tolvarex",
                             "SD08G",
                             "0x12345678",
                             "March 2015",
                             "7,948,206,080 bytes",
                             "NV6459A0A",
                             "6459.7.3.12",
                             "6459.2.0.0.228.0",
                             "45 DE 94 93 76 51",
                             "SanDisk",
                             "19nm MLC",
                             "PASSED",
                             "95.00 %",
                             "5.00 %",
                             "3,000",
                             "1,500",
                             "Later bad blocks",
                             "14",
                             "321",
                             "Abnormal shutdowns",
                             "Uncorrectable ECC",
                             "4 of 5 VBs in use"})
    EXPECT_NE(text.find(needle), std::string::npos) << needle << "\n" << text;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    if (text.compare(start, 2, "  ") == 0 && text.find('|', start) < end) {
      EXPECT_LE(end - start, 60u) << text.substr(start, end - start);
    }
}

TEST(TextReport, HealthOnlyListsReasons) {
  RunRecord run = SampleRun();
  run.card->counters.ecc_uncorrectable = 3;
  run.health = Evaluate(run.card->counters, HealthLimits{});
  std::string text = RenderHealthOnly(run);
  EXPECT_NE(text.find("WARNING"), std::string::npos);
  EXPECT_NE(text.find("3 uncorrectable ECC errors"), std::string::npos);
}

TEST(TextHelpers, PrintableHexAndSizes) {
  EXPECT_EQ(Printable(std::string("a\x01\xff"
                                  "b",
                                  4)),
            "a??b");
  EXPECT_EQ(HexBytes({0x0a, 0xff, 0x10}), "0aff10");
  EXPECT_EQ(HumanBytes(999), "999 bytes");
  EXPECT_EQ(HumanBytes(7948206080ull), "7.95 GB");
}

} // namespace
} // namespace sdsmart_tool
