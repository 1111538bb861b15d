// A card as the renderers see it, for the output tests.
#pragma once

#include "card_data.h"
#include "output.h"

namespace sdsmart_tool {

inline CardData SampleCard() {
  CardData d;
  d.device = "/dev/sdx";
  d.transport = "usb";
  CardIdentity &id = d.identity;
  id.manufacturer = "Tolvarex";
  id.oem_product = "TVSD08G";
  id.oem_id = "TV";
  id.product_name = "SD08G";
  id.product_revision = 0x10;
  id.serial_number = 0x12345678;
  id.manufacturing_date = "March 2015";
  id.registers_present = true;
  id.cid = std::vector<uint8_t>(16, 0xAB);
  id.csd = std::vector<uint8_t>(16, 0x40);
  id.scr = std::vector<uint8_t>(8, 0x02);
  id.capacity_bytes = 7948206080ull;
  id.firmware_version = "FW \"1\"\\x";
  id.hardware_version = "NV6459A0A";
  id.mp_version = "6459.7.3.12";
  id.library_version = "6459.2.0.0.228.0";
  id.flash_id = "45 DE 94 93 76 51";
  id.flash_maker = "SanDisk";
  id.flash_type = "19nm MLC";
  id.header_version = 2;
  CardCounters &c = d.counters;
  c.remaining_life_percent = 95.0f;
  c.life_used_percent = 5.0;
  c.pe_cycle_count = 3000;
  c.total_erase_count = 1500;
  c.average_erase_count = 2;
  c.min_erase_count = 1;
  c.max_erase_count = 7;
  c.min_erase_count_header = 1;
  c.max_erase_count_header = 7;
  c.total_vb_count = 1000;
  c.blocks_per_vb = 2;
  c.total_physical_blocks = 2000;
  c.initial_bad_blocks = 3;
  c.later_bad_blocks = 14;
  c.min_spare_blocks = 40;
  c.power_cycles = 321;
  c.abnormal_shutdowns = 4;
  d.erase_counts = {1, 2, 3, 7, kUnusedEraseCount};
  d.read_counts = {10, 20};
  return d;
}

inline RunRecord SampleRun() {
  RunRecord run;
  run.argv = {"sdsmart", "--json", "/dev/sdx"};
  run.device = "/dev/sdx";
  run.card = SampleCard();
  run.health = Evaluate(run.card->counters, HealthLimits{});
  run.distribution = {{1, 3, 3}, {7, 7, 1}};
  return run;
}

} // namespace sdsmart_tool
