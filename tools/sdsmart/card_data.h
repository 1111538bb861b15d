// Everything one acquisition tells about a card, copied out of the library's
// session so that the report, JSON and Prometheus writers work on plain data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdsmart_tool {

struct CardIdentity {
  std::string manufacturer;       // "Tolvarex" or "UnKnow" (from the header signature)
  std::string oem_product;        // the library's text of CID bytes 0..7 (zero bytes left out)
  unsigned manufacturer_id = 0;   // CID byte 0
  std::string oem_id;             // CID bytes 1..2
  std::string product_name;       // CID bytes 3..7
  unsigned product_revision = 0;  // CID byte 8
  uint32_t serial_number = 0;     // CID bytes 9..12
  std::string manufacturing_date; // "March 2015"
  bool registers_present = false; // the header carries CID/CSD/SCR copies
  std::vector<uint8_t> cid, csd, scr;
  uint64_t capacity_bytes = 0; // from the CSD copy; 0 when unknown
  std::string firmware_version;
  std::string hardware_version;
  std::string mp_version;
  std::string library_version;
  std::string flash_id; // "45 DE 94 93 76 51"
  std::string flash_maker;
  std::string flash_type;
  std::string client_mark;
  unsigned header_version = 0;
};

struct CardCounters {
  float remaining_life_percent = 0; // 100 - used; may be negative or NaN
  double life_used_percent = 0;
  uint32_t pe_cycle_count = 0;      // rated program/erase cycles
  uint32_t total_erase_count = 0;   // physical blocks
  uint32_t average_erase_count = 0; // per VB, rounded up
  uint32_t min_erase_count = 0;     // from the per-VB table
  uint32_t max_erase_count = 0;
  uint32_t min_erase_count_header = 0;
  uint32_t max_erase_count_header = 0;
  uint32_t erase_count_offset = 0;
  uint32_t initial_bad_blocks = 0;
  uint32_t later_bad_blocks = 0;
  uint32_t min_spare_blocks = 0;
  uint32_t total_vb_count = 0;
  uint32_t total_physical_blocks = 0;
  uint32_t blocks_per_vb = 0;
  uint32_t total_ce_count = 0;
  uint32_t ecc_capacity = 0;
  uint32_t power_cycles = 0;
  uint32_t abnormal_shutdowns = 0;
  uint32_t ecc_uncorrectable = 0;
  uint32_t write_protect_status = 0;
};

struct CardData {
  std::string device;
  std::string transport; // "usb" or "mmc"
  CardIdentity identity;
  CardCounters counters;
  std::vector<uint32_t> erase_counts; // per VB, markers included
  std::vector<uint32_t> read_counts;
};

// Marker of an unused entry in the per-VB erase-count table.
constexpr uint32_t kUnusedEraseCount = 0xFFFFFFFEu;
// Largest value that takes part in the statistics.
constexpr uint32_t kLargestCountedValue = 0xFFFFDu;

// Copies the results of the last successful GetSmartInfo out of the library.
CardData CollectCardData(const std::string &device);

// "usb" for SCSI disk nodes behind a card reader, "mmc" for /dev/mmcblk*.
std::string TransportOf(const std::string &device);

} // namespace sdsmart_tool
