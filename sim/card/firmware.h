// SPDX-License-Identifier: MIT
// The card's firmware: special mode 2 entered and left through sector 0, the
// SMART header, detail and PMT-poll sectors it serves while in special mode,
// and (version 3) the answer it puts into the host file after a command
// sector. Each call returns the transcript text of what it did.
#pragma once

#include "card/card_config.h"
#include "card/card_storage.h"
#include "card/faults.h"
#include "card/smart_pages.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sdsim {

class Firmware {
public:
  Firmware(const CardConfig &config, CardStorage &storage, const SmartPages &pages,
           FaultTable &faults)
      : Config(config), Storage(storage), Pages(pages), Faults(faults) {}

  // Sector transfers; `transfer` is the transfer index (for the faults).
  std::string Write(std::uint32_t lba, std::uint32_t count, const std::uint8_t *in);
  std::string Read(std::uint32_t lba, std::uint32_t count, std::uint8_t *out,
                   std::uint64_t transfer);
  // Host-file data just written at file offset `offset` through `fd`, in
  // host-file step `fileStep`.
  std::string FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data, std::size_t len,
                          std::uint64_t fileStep);

  int SpecialVersion() const { return Version; } // 2 or 3 in special mode, else 0
  unsigned PmtCleanCount() const { return PmtCleaned; }

private:
  static constexpr unsigned kTypes = 17; // detail types 0 to 16
  std::string ServeSpecial(std::uint32_t lba, std::uint8_t *out, std::uint64_t transfer);
  std::string ServeHeader(unsigned type, std::uint8_t *out, std::uint64_t transfer);
  std::string ServeDetail(std::uint32_t lba, std::uint8_t *out, std::uint64_t transfer);
  std::string ServePmtPoll(std::uint8_t *out, std::uint64_t transfer);
  bool OldHeader() const; // HeaderVersion 0 or 1: a busy first detail sector
  void Damage(std::vector<std::uint8_t> &header, std::uint64_t index);
  std::vector<std::uint8_t> FileAnswer(unsigned type, std::uint64_t fileStep);

  const CardConfig &Config;
  CardStorage &Storage;
  const SmartPages &Pages;
  FaultTable &Faults;

  int Version = 0;
  unsigned BusyHeaderLeft[kTypes] = {};
  unsigned BusyDetailLeft[kTypes] = {};
  unsigned BusyPmtLeft = 0;
  unsigned PmtCleaned = 0;
  bool PmtPending = false;
};

} // namespace sdsim
