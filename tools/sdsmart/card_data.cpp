#include "card_data.h"

#include "csd_capacity.h"
#include "flash_maker.h"

#include <sdsmart/sdsmart.h>

namespace sdsmart_tool {
namespace {

std::string Text(const char *s) { return s ? std::string(s) : std::string(); }

std::vector<uint8_t> Register(int (*get)(unsigned char *, unsigned int), unsigned size) {
  std::vector<uint8_t> bytes(size);
  int n = get(bytes.data(), size);
  if (n <= 0)
    return {};
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

std::vector<uint32_t> Table(int (*get)(char *, unsigned int, unsigned int &)) {
  unsigned int bytes = 0;
  get(nullptr, 0, bytes);
  std::vector<uint32_t> table(bytes / 4);
  if (table.empty())
    return table;
  if (get(reinterpret_cast<char *>(table.data()), static_cast<unsigned>(table.size() * 4), bytes) !=
      0)
    table.clear();
  return table;
}

} // namespace

std::string TransportOf(const std::string &device) {
  return device.compare(0, 11, "/dev/mmcblk") == 0 ? "mmc" : "usb";
}

CardData CollectCardData(const std::string &device) {
  CardData d;
  d.device = device;
  d.transport = TransportOf(device);

  CardIdentity &id = d.identity;
  id.manufacturer = Text(GetManufactureName_CID());
  id.oem_product = Text(GetCustomizedID_CID());
  id.product_revision = GetProductRevision_CID();
  id.serial_number = GetSerialNumber_CID();
  id.manufacturing_date = Text(GetManufacturingDate_CID());
  id.header_version = GetHeaderVersion();
  id.cid = Register(GetSD_CID, 16);
  id.csd = Register(GetSD_CSD, 16);
  id.scr = Register(GetSD_SCR, 8);
  id.registers_present = id.cid.size() == 16;
  if (id.registers_present) {
    id.manufacturer_id = id.cid[0];
    id.oem_id.assign(id.cid.begin() + 1, id.cid.begin() + 3);
    id.product_name.assign(id.cid.begin() + 3, id.cid.begin() + 8);
  }
  id.capacity_bytes = id.csd.size() == 16 ? CapacityFromCsd(id.csd.data()) : 0;
  id.firmware_version = Text(GetFWVersion());
  id.hardware_version = Text(GetHWVersion());
  id.mp_version = Text(GetMPVersion());
  id.library_version = Text(GetLibraryVersion());
  std::string flash_id = Text(GetFlashID());
  while (!flash_id.empty() && flash_id.back() == ' ')
    flash_id.pop_back();
  id.flash_id = flash_id;
  id.flash_maker = FlashMakerName(flash_id);
  id.flash_type = Text(GetFlashType());
  id.client_mark = Text(GetClientMark());

  CardCounters &c = d.counters;
  c.remaining_life_percent = GetRemainingLife();
  c.life_used_percent = GetLifeMonitor();
  c.pe_cycle_count = GetPECycleCount();
  c.total_erase_count = GetTotalEraseCount();
  c.average_erase_count = GetAverageEraseCount();
  c.min_erase_count = GetMinEraseCount();
  c.max_erase_count = GetMaxEraseCount();
  c.min_erase_count_header = GetMinEraseCountFromHeader();
  c.max_erase_count_header = GetMaxEraseCountFromHeader();
  c.erase_count_offset = GetEraseCountOffset();
  c.initial_bad_blocks = GetInitialBadBlockCount();
  c.later_bad_blocks = GetLaterBadBlockCount();
  c.min_spare_blocks = GetMinSpareBlockCount();
  c.total_vb_count = GetTotalVBCountOfFlash();
  c.total_physical_blocks = GetTotalPhysicalBlockCountOfFlash();
  c.blocks_per_vb = c.total_vb_count ? c.total_physical_blocks / c.total_vb_count : 0;
  c.total_ce_count = GetTotalCECount();
  c.ecc_capacity = GetECCCapacity();
  c.power_cycles = GetPowerCycleCount();
  c.abnormal_shutdowns = GetAbnormalShutdownCount();
  c.ecc_uncorrectable = GetECCUncorrectableCount();
  c.write_protect_status = GetWPStatus();

  d.erase_counts = Table(GetDetailEraseCount);
  d.read_counts = Table(GetDetailReadCount);
  return d;
}

} // namespace sdsmart_tool
