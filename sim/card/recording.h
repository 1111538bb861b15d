// SPDX-License-Identifier: MIT
// A recording of a real card's run (sdsmart --record): JSON lines, the first
// describing the card, each further one a request and the card's answer.
// The card's side reads it on its own (docs/reporting-a-card.md has the
// format); nothing here is shared with the library or the tool.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sdsim {

// The bytes that stand for the redacted entry string, and their mirror.
constexpr char kEntryMarker[] = "REDACTED";
constexpr char kEntryMarkerMirrored[] = "DETCADER";

enum class StepKind { Scsi, Mmc, FileWrite, FileRead };

struct RecordedStep {
  StepKind Kind = StepKind::Scsi;
  // SG_IO
  std::vector<std::uint8_t> Cdb;
  int Direction = 0;
  unsigned SenseMax = 0;
  // MMC_IOC_CMD
  std::uint32_t Opcode = 0, Arg = 0, Flags = 0, BlockSize = 0, Blocks = 0;
  int WriteFlag = 0, AppCommand = 0;
  // host file
  std::uint64_t Offset = 0;
  std::uint32_t Length = 0;
  std::vector<std::uint8_t> Out, In; // both of Length bytes (or empty)
  // the answer
  int Result = 0, Error = 0;
  unsigned Status = 0, MaskedStatus = 0, MsgStatus = 0, HostStatus = 0, DriverStatus = 0;
  unsigned Info = 0;
  int Resid = 0;
  std::vector<std::uint8_t> Sense;
  std::array<std::uint32_t, 4> Response{};
};

struct ReplayScript {
  std::vector<RecordedStep> Steps;
};

// Whether a file's text is a recording rather than a card file.
bool IsRecording(const std::string &text);
// The card file the recording's first line describes, and its requests;
// none (null) for a reading without the vendor path, which sent none.
nlohmann::json RecordingCard(const std::string &text);
std::shared_ptr<const ReplayScript> RecordingSteps(const std::string &text);

} // namespace sdsim
