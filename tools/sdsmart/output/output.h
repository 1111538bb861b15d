// SPDX-License-Identifier: MIT
// The three renderings of a run: the readable report, the JSON document and
// the Prometheus textfile-collector exposition.
#pragma once

#include "card/card_data.h"
#include "card/card_registers.h"
#include "card/emmc_life.h"
#include "card/health.h"
#include "output/histogram.h"
#include "state/forecast.h"
#include "state/node_history.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

// Version of the JSON document layout; raise the first number on any change
// that removes or renames a key, the second when keys are added.
constexpr int kJsonFormatMajor = 1;
constexpr int kJsonFormatMinor = 5; // 1.2: null for what was not read, plausibility,
                                    // sector 0; 1.3: forecast; 1.4: sector0.recovered;
                                    // 1.5: device.health_source, emmc, registers

struct Message {
  std::string Severity; // "information", "warning" or "error"
  std::string Text;
};

struct LibraryError {
  int Code = 0;
  std::string Message;
};

// Everything a run produced, for the renderers.
struct RunRecord {
  std::vector<std::string> Argv;
  std::vector<Message> Messages;
  int ExitStatus = 0;
  std::string Device;
  CardTransport Transport = CardTransport::UsbReader; // the device guard's
  HealthSource Source = HealthSource::VendorSmart;    // what the node was read by
  std::optional<CardData> Card;                       // after a successful acquisition
  std::optional<EmmcLife> Emmc;                       // an eMMC's life estimate, when read
  // What sysfs shows of a card that gave no SMART data (known not to take
  // the vendor path, or found so in this run).
  std::optional<CardRegisters> Registers;
  std::optional<HealthResult> Health;      // of either
  std::optional<LibraryError> Error;       // when the library reported a failure
  std::vector<Region> Distribution;        // erase-count regions
  std::vector<std::string> Contradictions; // plausibility.h; empty when plausible
  // Sector 0 (the partition table) as the run left it: true restored, false
  // still a command pattern (or not seen restored); unset when not known.
  std::optional<bool> Sector0Intact;
  // When the run first wrote back sector 0 from the journal of an earlier
  // run that died with a command pattern there: that copy's time.
  std::string Sector0Restored;

  // From the card's history (state/history.cpp).
  std::optional<WearForecast> Forecast;
  // An eMMC's, or a card's read by its registers (state/node_history.cpp).
  std::optional<NodeTrend> NodeHistory;
};

// Text with control and non-ASCII bytes replaced, safe to print and to put
// into JSON strings and Prometheus labels.
std::string Printable(const std::string &s);
std::string HexBytes(const std::vector<uint8_t> &bytes); // "0a1b2c" (lower case, no blanks)
std::string HumanBytes(uint64_t bytes);                  // "7.95 GB"

struct ReportStyle {
  unsigned Width = 80;
  std::string Glyph = "#";
};

// JSON documents keep their keys in the order they are set: the format
// version first, then the run, the device and the card's sections in the
// order of the report.
using Json = nlohmann::ordered_json;

std::string RenderReport(const RunRecord &run, const ReportStyle &style);
std::string RenderHealthOnly(const RunRecord &run);
Json BuildJson(const RunRecord &run);
std::string RenderPrometheus(const RunRecord &run);

// Several cards' textfiles as one: each metric's HELP and TYPE once, the
// samples of every card grouped under them, metrics in order of appearance.
std::string MergePrometheus(const std::vector<std::string> &texts);

// The JSON document as the tool prints it: two-space indent, bytes that are
// no UTF-8 replaced.
std::string JsonText(const Json &document);

} // namespace sdsmart_tool
