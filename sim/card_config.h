// What a card file describes: the card's geometry, its firmware's entry
// string, its registers and SMART data. Parsed from JSON (sim/README.md).
#ifndef SDSIM_CARD_CONFIG_H
#define SDSIM_CARD_CONFIG_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sdsim {

constexpr std::uint32_t kNoReadCount = 0xFFFFFFFF;

struct CardConfig {
  std::string node;
  std::uint64_t capacity_sectors = 0;
  bool byte_addressed = false;
  std::string entry; // exactly 8 bytes
  std::array<std::uint8_t, 512> sector0{};
  std::string image; // backing image path, "" for a card held in memory

  // Mounted file system for the extension mode.
  bool mounted = false;
  bool auto_mount = false; // the sim picks a temporary directory
  std::string mount_point;
  std::string mount_device; // e.g. /dev/sdx1
  std::string mount_fstype = "vfat";
  std::string mount_options = "rw,relatime";

  // Native host identity.
  std::uint16_t rca = 0xAAAA;
  unsigned mmc_host = 0;

  // Header fields in host order, by name; texts and byte fields separately.
  std::map<std::string, std::uint32_t> numbers;
  std::string hw_version, fw_version, client_mark;
  std::array<std::uint8_t, 3> signature{{'S', 'I', '0'}};
  std::array<std::uint8_t, 6> flash_id{};
  std::array<std::uint8_t, 16> cid{}, csd{};
  std::array<std::uint8_t, 8> scr{};
  bool use_detail_count_ex = true;

  // Per-VB tables (card values), all of the entry count.
  std::vector<std::uint16_t> erase_counts;
  std::vector<std::uint32_t> read_counts; // in reads; kNoReadCount: none
  bool global_read_counts = false;
  unsigned remainder_sectors = 0; // global format; 0: chosen from the entry count
  std::vector<std::uint16_t> runtime_status;

  // Busy answers.
  unsigned busy_header = 0;       // busy reads before each header
  unsigned busy_first_detail = 0; // busy reads of detail 0 (HeaderVersion 0 or 1)
  unsigned busy_pmt = 0;          // busy PMT polls before the confirmation
  unsigned busy_file = 0;         // busy headers placed ahead of a host-file answer
};

// Parses a card description. base_dir resolves relative paths. Throws
// std::runtime_error with a readable message.
CardConfig ParseCardConfig(const std::string &json_text, const std::string &base_dir);
std::string ReadWholeFile(const std::string &path);
std::string DirName(const std::string &path);

// N = BaseVBEntryCount + ExtraVBEntriesPerUnit * (U - 1), U = TotalVBCount /
// VBsPerUnit (1 when VBsPerUnit is 0), in unsigned 32-bit arithmetic.
std::uint32_t EntryCount(const CardConfig &c);

// Register helpers.
std::uint8_t Crc7(const std::uint8_t *data, std::size_t n);
std::array<std::uint8_t, 16> DefaultCsd(std::uint64_t sectors, bool byte_addressed);
std::array<std::uint8_t, 16> DefaultCid(std::uint32_t serial);
std::array<std::uint8_t, 512> DefaultMbr(std::uint64_t sectors);

} // namespace sdsim

#endif
