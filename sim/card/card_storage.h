// SPDX-License-Identifier: MIT
// The card's sectors: a memfd of the process, or a sparse image file shared
// by every process of a launcher run.
#pragma once

#include "card/card_config.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace sdsim {

class CardStorage {
public:
  // Creates or opens the backing file; a new one gets config.Sector0.
  explicit CardStorage(const CardConfig &config);
  ~CardStorage();
  CardStorage(const CardStorage &) = delete;
  CardStorage &operator=(const CardStorage &) = delete;

  // A new descriptor on the sectors (a new open file description), as
  // open(2) of the node would hand out.
  int OpenDescriptor(int flags) const;

  void Read(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const;
  void Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in);

private:
  int DataFd = -1;      // memfd or backing image
  std::string DataPath; // what to open for a new description
};

// pwrite(2) until all is written; false on an error.
bool WriteAll(int fd, const void *data, std::size_t len, off_t at);

} // namespace sdsim
