// SPDX-License-Identifier: MIT
#include "card/firmware.h"

#include "card/sector_formats.h"

#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace sdsim {

std::string Firmware::Write(std::uint32_t lba, std::uint32_t count, const std::uint8_t *in) {
  Storage.Write(lba, count, in); // sector 0 keeps the last pattern written
  if (lba != 0)
    return "data";
  switch (ClassifySector0(in, Config.Entry)) {
  case Pattern::Enter:
  case Pattern::EnterV3: {
    const bool v3 = ClassifySector0(in, Config.Entry) == Pattern::EnterV3;
    Version = v3 ? 3 : 2;
    for (unsigned t = 0; t < kTypes; ++t) {
      BusyHeaderLeft[t] = Config.BusyHeader;
      BusyDetailLeft[t] = 0;
    }
    BusyPmtLeft = 0;
    return v3 ? "enter v3" : "enter v2";
  }
  case Pattern::Leave:
    Version = 0;
    return "leave";
  case Pattern::None:
    break;
  }
  return "data";
}

std::string Firmware::Read(std::uint32_t lba, std::uint32_t count, std::uint8_t *out,
                           std::uint64_t transfer) {
  if (!Version) {
    Storage.Read(lba, count, out);
    return "data";
  }
  std::string what;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string one = ServeSpecial(lba + i, out + std::size_t{i} * kSector, transfer);
    if (i == 0)
      what = std::move(one);
  }
  return what;
}

bool Firmware::OldHeader() const {
  auto it = Config.Numbers.find("HeaderVersion");
  return it != Config.Numbers.end() && it->second <= 1;
}

// Sector T (0, 1, 2, 3, 16): the header of detail type T; 256 * (k + 1) +
// 128 + T: detail sector k of type T; 256 * (i + 1) + 0x90: a PMT poll.
std::string Firmware::ServeSpecial(std::uint32_t lba, std::uint8_t *out, std::uint64_t transfer) {
  if (lba <= 3 || lba == 16)
    return ServeHeader(lba, out, transfer);
  const unsigned low = lba & 0xFF;
  if (lba >= 256 && (low == 0x81 || low == 0x82 || low == 0x83))
    return ServeDetail(lba, out, transfer);
  if (lba >= 256 && low == 0x90)
    return ServePmtPoll(out, transfer);
  Storage.Read(lba, 1, out);
  return "data";
}

std::string Firmware::ServeHeader(unsigned type, std::uint8_t *out, std::uint64_t transfer) {
  const std::string what = "header " + std::to_string(type);
  if (Faults.Active(FaultKind::BusyForever, transfer, true) || BusyHeaderLeft[type] > 0) {
    if (BusyHeaderLeft[type] > 0)
      --BusyHeaderLeft[type];
    std::memcpy(out, Pages.Header(type, true).data(), kSector);
    return what;
  }
  std::vector<std::uint8_t> header = Pages.Header(type, false);
  Damage(header, transfer);
  std::memcpy(out, header.data(), kSector);
  BusyDetailLeft[type] = OldHeader() ? Config.BusyFirstDetail : 0;
  if (type == 16) {
    BusyPmtLeft = Config.BusyPmt;
    PmtPending = true;
  }
  return what;
}

std::string Firmware::ServeDetail(std::uint32_t lba, std::uint8_t *out, std::uint64_t transfer) {
  const unsigned type = (lba & 0xFF) - 0x80;
  const std::uint32_t k = (lba >> 8) - 1;
  const std::string what = "detail " + std::to_string(type) + " " + std::to_string(k);
  if (k == 0 && OldHeader() &&
      (Faults.Active(FaultKind::BusyForever, transfer, true) || BusyDetailLeft[type] > 0)) {
    if (BusyDetailLeft[type] > 0)
      --BusyDetailLeft[type];
    std::memcpy(out, Pages.Header(type, true).data(), kSector);
    return what;
  }
  BusyDetailLeft[type] = 0;
  const std::vector<std::uint8_t> &data = Pages.Detail(type);
  if ((std::uint64_t{k} + 1) * kSector <= data.size())
    std::memcpy(out, data.data() + std::size_t{k} * kSector, kSector);
  else
    std::memset(out, 0, kSector);
  return what;
}

std::string Firmware::ServePmtPoll(std::uint8_t *out, std::uint64_t transfer) {
  if (Faults.Active(FaultKind::BusyForever, transfer, true) || BusyPmtLeft > 0) {
    if (BusyPmtLeft > 0)
      --BusyPmtLeft;
    std::memcpy(out, Pages.Header(16, true).data(), kSector);
    return "pmt poll";
  }
  if (PmtPending) {
    PmtPending = false;
    ++PmtCleaned;
  }
  std::memcpy(out, Pages.Header(16, false).data(), kSector);
  return "pmt poll";
}

void Firmware::Damage(std::vector<std::uint8_t> &header, std::uint64_t index) {
  if (Faults.Active(FaultKind::BadSignature, index, true))
    header[2] = '1';
  if (Faults.Active(FaultKind::WrongDetailType, index, true))
    header[70] = header[70] == 1 ? 3 : 1;
}

// The answer to a host-file command: busy headers first, then the answering
// header and its detail sectors (only busy headers when the card stays busy).
std::vector<std::uint8_t> Firmware::FileAnswer(unsigned type, std::uint64_t fileStep) {
  std::vector<std::uint8_t> answer;
  const bool forever = Faults.Active(FaultKind::BusyForever, fileStep, true);
  const unsigned busy = forever ? 8 : Config.BusyFile;
  for (unsigned b = 0; b < busy; ++b) {
    const auto &header = Pages.Header(type, true);
    answer.insert(answer.end(), header.begin(), header.end());
  }
  if (!forever) {
    std::vector<std::uint8_t> header = Pages.Header(type, false);
    Damage(header, fileStep);
    answer.insert(answer.end(), header.begin(), header.end());
    const auto &detail = Pages.Detail(type);
    answer.insert(answer.end(), detail.begin(), detail.end());
  }
  return answer;
}

// A command sector among the whole sectors written is answered at once (in
// special mode version 3), in the file's sectors right after it, so the
// following read-back finds the answer.
std::string Firmware::FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data,
                                  std::size_t len, std::uint64_t fileStep) {
  const std::uint64_t first = (offset + kSector - 1) / kSector;
  for (std::uint64_t sector = first; (sector + 1) * kSector <= offset + len; ++sector) {
    std::uint32_t selector = 0;
    const std::uint8_t *s = data + (sector * kSector - offset);
    if (!IsCommandSector(s, Config.Entry, Config.CapacitySectors, selector))
      continue;
    char text[40];
    std::snprintf(text, sizeof text, "file command 0x%X", selector);
    if (Version != 3 || Faults.Active(FaultKind::NoFileAnswer, fileStep, true))
      return text;
    const std::vector<std::uint8_t> answer = FileAnswer(selector & 0xFF, fileStep);
    WriteAll(fd, answer.data(), answer.size(), static_cast<off_t>((sector + 1) * kSector));
    return text;
  }
  return "file write";
}

} // namespace sdsim
