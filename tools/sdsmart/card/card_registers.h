// SPDX-License-Identifier: MIT
// What a card tells without anything written to it: the standard registers
// the kernel shows in sysfs for a card in a native SD host (CID, CSD, SCR,
// SD Status, OCR), decoded by the library's own decoders, or for a card in
// a USB reader the reader's identity and the card's capacity. Cards of
// other controller families give no wear data: this is all there is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct CardRegisters {
  // Raw registers, empty when not shown (a USB reader shows none).
  std::vector<uint8_t> Cid, Csd, Scr, Ssr;
  std::optional<uint32_t> Ocr;
  std::optional<uint32_t> PreferredEraseSize; // bytes, the kernel's figure
  // The USB card reader, from sysfs.
  std::string ReaderVendor, ReaderModel, ReaderSerial;
  std::optional<uint64_t> NodeBytes; // the block device's size

  // Decoded: each empty when its register is not there.
  std::optional<unsigned> ManufacturerId;
  std::string OemId, ProductName;
  std::optional<unsigned> ProductRevision;
  std::optional<uint32_t> SerialNumber;
  std::string ManufacturingDate;           // "2025-03"
  std::optional<uint64_t> CapacityBytes;   // from the CSD
  std::optional<unsigned> SpeedClass;      // 0, 2, 4, 6, 10
  std::optional<unsigned> UhsSpeedGrade;   // 0, 1, 3
  std::optional<unsigned> VideoSpeedClass; // 0, 6, 10, 30, 60, 90
  std::optional<uint64_t> AuSizeBytes;     // allocation unit, from the SD Status
};

// Fills the decoded fields from the raw registers of an SD card.
void DecodeRegisters(CardRegisters &registers);

// Bytes from the kernel's hex text of a register ("0123abcd..."): empty
// when the text is not whole bytes of hex digits.
std::vector<uint8_t> RegisterBytes(const std::string &hex);

} // namespace sdsmart_tool
