// SPDX-License-Identifier: MIT
// One 512-byte sector read through the virtual card, by the same ioctl the
// library sends: SG_IO READ(10) on the USB reader card and MMC_IOC_CMD CMD17
// on the native card, for ordinary data and for special-mode answers.
#include "sdsim/sdsim.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <fcntl.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Sector = std::array<std::uint8_t, 512>;

Sector Enter(const std::string &entry) {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[i] = static_cast<std::uint8_t>(entry[i]);
    s[255 - i] = static_cast<std::uint8_t>(entry[i]);
  }
  s[256] = 0x02, s[257] = 0x01, s[510] = 0x01, s[511] = 0x02;
  return s;
}

int ScsiIo(int fd, std::uint8_t op, std::uint32_t lba, void *data) {
  unsigned char cdb[10] = {op,
                           0,
                           static_cast<unsigned char>(lba >> 24),
                           static_cast<unsigned char>(lba >> 16),
                           static_cast<unsigned char>(lba >> 8),
                           static_cast<unsigned char>(lba),
                           0,
                           0,
                           1,
                           0};
  unsigned char sense[32];
  sg_io_hdr_t h{};
  h.interface_id = 'S';
  h.dxfer_direction = op == 0x28 ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  h.cmd_len = 10;
  h.mx_sb_len = 24;
  h.dxfer_len = 512;
  h.dxferp = data;
  h.cmdp = cdb;
  h.sbp = sense;
  h.timeout = 6000;
  return ioctl(fd, SG_IO, &h);
}

int MmcIo(int fd, unsigned opcode, std::uint32_t lba, void *data) {
  mmc_ioc_cmd c{};
  c.opcode = opcode;
  c.arg = lba;
  c.flags = opcode == 17 ? 0x6BD : 0x5BD;
  c.write_flag = opcode == 24;
  c.blksz = 512;
  c.blocks = 1;
  mmc_ioc_cmd_set_data(c, data);
  return ioctl(fd, MMC_IOC_CMD, &c);
}

// lba: the sector read; special: enter special mode first.
template <bool Native> void SectorRead(benchmark::State &state) {
  const bool special = state.range(0) != 0;
  const std::uint32_t lba = special ? 256 * 4 + 128 + 1 : 4096; // detail 1 3, or data
  sdsim::Card &card =
      sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + (Native ? "/native.json" : "/usb.json"));
  const int fd = open(card.Node().c_str(), O_RDWR | O_CLOEXEC);
  Sector buf{};
  if (special) {
    Sector p = Enter(card.EntryString());
    Native ? MmcIo(fd, 24, 0, p.data()) : ScsiIo(fd, 0x2A, 0, p.data());
  }
  for (auto _ : state) {
    const int rc = Native ? MmcIo(fd, 17, lba, buf.data()) : ScsiIo(fd, 0x28, lba, buf.data());
    if (rc != 0)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buf);
    if (card.TransferCount() % 65536 == 0) { // the transcript grows with every read
      state.PauseTiming();
      card.ClearTranscript();
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512);
  close(fd);
  sdsim::DetachAll();
}

BENCHMARK_TEMPLATE(SectorRead, false)->ArgName("special")->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(SectorRead, true)->ArgName("special")->Arg(0)->Arg(1);

// A plain read(2) of an ordinary descriptor with the card library loaded:
// what the interposition costs everything else.
void PassThroughRead(benchmark::State &state) {
  sdsim::AttachFile(std::string(SDSIM_CARDS_DIR) + "/usb.json");
  const int fd = open("/dev/zero", O_RDONLY | O_CLOEXEC);
  Sector buf{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(read(fd, buf.data(), buf.size()));
  }
  close(fd);
  sdsim::DetachAll();
}
BENCHMARK(PassThroughRead);

} // namespace

BENCHMARK_MAIN();
