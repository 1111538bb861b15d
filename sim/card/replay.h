// SPDX-License-Identifier: MIT
// A card that answers from a recording: each request must be the next one
// recorded (command, address, length and written data; the redacted entry
// string may be any, the same each time) and gets the recorded answer. A
// request that differs fails, and so does every request after it: the
// transcript and standard error name both versions.
#pragma once

#include "card/recording.h"

#include <cstddef>
#include <cstdint>
#include <linux/mmc/ioctl.h>
#include <memory>
#include <scsi/sg.h>
#include <string>

namespace sdsim {

// How a request went: the transcript's op, lba, count and text.
struct ReplayNote {
  std::string Op = "cmd";
  std::uint32_t Lba = 0, Count = 0;
  std::string What;
};

class Replay {
public:
  Replay(std::shared_ptr<const ReplayScript> script, bool byteAddressed)
      : Script(std::move(script)), ByteAddressed(byteAddressed) {}

  // Each returns what the call returns (errno set on -1).
  int Scsi(sg_io_hdr_t &request, ReplayNote &note);
  int Mmc(mmc_ioc_cmd &request, ReplayNote &note);
  // A host-file step the file itself has already served (`done` bytes).
  long File(bool write, std::uint64_t offset, std::uint8_t *data, std::size_t length, long done,
            ReplayNote &note);

private:
  // The recorded step `got` must be, with its answer; null when the
  // request differs or the replay has diverged before (`note` says which).
  const RecordedStep *Match(const RecordedStep &got, const std::uint8_t *out, ReplayNote &note);
  // The written data against the recorded; the entry string's place in a
  // redacted recording takes the entry of the first pattern written.
  bool SameData(const RecordedStep &step, const std::uint8_t *got, std::size_t &at);
  void Answer(const RecordedStep &step, std::uint8_t *out, std::size_t n) const;
  void Diverge(const std::string &recorded, const std::string &received, ReplayNote &note);
  std::string Describe(const RecordedStep &step) const;
  void Note(const RecordedStep &step, ReplayNote &note) const;

  std::shared_ptr<const ReplayScript> Script;
  bool ByteAddressed;
  std::size_t Next = 0;
  bool Diverged = false;
  std::string Entry; // learned from the first enter pattern written
};

} // namespace sdsim
