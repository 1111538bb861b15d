// SPDX-License-Identifier: MIT
// The kernel interfaces the drives talk through: SCSI generic pass-through for
// card readers, the MMC block ioctl for native SD hosts and the block-device
// size requests. The numbers and layouts below are what the drives rely on;
// a build against headers that disagree stops here.
#pragma once

#include <cstddef>

#include <linux/fs.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>

// Response and command-type bits of an MMC command, as the Linux MMC core
// defines them (they are not part of the user-space headers).
#ifndef MMC_RSP_PRESENT
#define MMC_RSP_PRESENT (1 << 0)
#endif
#ifndef MMC_RSP_136
#define MMC_RSP_136 (1 << 1)
#endif
#ifndef MMC_RSP_CRC
#define MMC_RSP_CRC (1 << 2)
#endif
#ifndef MMC_RSP_BUSY
#define MMC_RSP_BUSY (1 << 3)
#endif
#ifndef MMC_RSP_OPCODE
#define MMC_RSP_OPCODE (1 << 4)
#endif
#ifndef MMC_CMD_MASK
#define MMC_CMD_MASK (3 << 5)
#endif
#ifndef MMC_CMD_AC
#define MMC_CMD_AC (0 << 5)
#endif
#ifndef MMC_CMD_ADTC
#define MMC_CMD_ADTC (1 << 5)
#endif
#ifndef MMC_RSP_SPI_S1
#define MMC_RSP_SPI_S1 (1 << 7)
#endif
#ifndef MMC_RSP_SPI_S2
#define MMC_RSP_SPI_S2 (1 << 8)
#endif
#ifndef MMC_RSP_SPI_B4
#define MMC_RSP_SPI_B4 (1 << 9)
#endif
#ifndef MMC_RSP_SPI_BUSY
#define MMC_RSP_SPI_BUSY (1 << 10)
#endif

namespace sdsmart_kernel {

// Flags of the commands the native drive sends.
constexpr unsigned int kMmcReadFlags = MMC_RSP_PRESENT | MMC_RSP_CRC | MMC_RSP_BUSY |
                                       MMC_RSP_OPCODE | MMC_CMD_ADTC | MMC_RSP_SPI_S1 |
                                       MMC_RSP_SPI_B4 | MMC_RSP_SPI_BUSY;
constexpr unsigned int kMmcWriteFlags = MMC_RSP_PRESENT | MMC_RSP_CRC | MMC_RSP_BUSY |
                                        MMC_RSP_OPCODE | MMC_CMD_ADTC | MMC_RSP_SPI_S1 |
                                        MMC_RSP_SPI_S2 | MMC_RSP_SPI_BUSY;
constexpr unsigned int kMmcR1Flags = MMC_RSP_PRESENT | MMC_RSP_CRC | MMC_RSP_OPCODE | MMC_CMD_AC;
constexpr unsigned int kMmcR1bFlags = MMC_RSP_PRESENT | MMC_RSP_CRC | MMC_RSP_BUSY |
                                      MMC_RSP_OPCODE | MMC_RSP_SPI_S1 | MMC_RSP_SPI_BUSY |
                                      MMC_CMD_AC;

// SD command indexes.
constexpr unsigned int kCmdStopTransmission = 12;
constexpr unsigned int kCmdSendStatus = 13;
constexpr unsigned int kCmdReadSingleBlock = 17;
constexpr unsigned int kCmdReadMultipleBlock = 18;
constexpr unsigned int kCmdSetBlockCount = 23;
constexpr unsigned int kCmdWriteBlock = 24;
constexpr unsigned int kCmdWriteMultipleBlock = 25;

// R1 card-status bits that mean the command failed: OUT_OF_RANGE,
// ADDRESS_ERROR, BLOCK_LEN_ERROR, WP_VIOLATION, CARD_ECC_FAILED, CC_ERROR, ERROR.
constexpr unsigned int kR1Errors =
    0x80000000u | 0x40000000u | 0x20000000u | 0x04000000u | 0x00200000u | 0x00100000u | 0x00080000u;

// SCSI operation codes and the GOOD status.
constexpr unsigned char kScsiTestUnitReady = 0x00;
constexpr unsigned char kScsiReadCapacity10 = 0x25;
constexpr unsigned char kScsiRead10 = 0x28;
constexpr unsigned char kScsiWrite10 = 0x2A;
constexpr unsigned char kScsiStatusGood = 0x00;

// Linux driver byte: the sense buffer holds data. Not an error by itself.
constexpr unsigned short kDriverSense = 0x08;

constexpr unsigned long kSgIo = SG_IO;
constexpr unsigned long kMmcIocCmd = MMC_IOC_CMD;
constexpr unsigned long kBlkGetSize64 = BLKGETSIZE64;
constexpr unsigned long kBlkGetSize = BLKGETSIZE;

} // namespace sdsmart_kernel

static_assert(SG_IO == 0x2285, "SG_IO request number");
static_assert(MMC_IOC_CMD == 0xC048B300u, "MMC_IOC_CMD request number");
static_assert(BLKGETSIZE64 == 0x80081272u, "BLKGETSIZE64 request number");
static_assert(BLKGETSIZE == 0x1260, "BLKGETSIZE request number");
static_assert(SG_DXFER_TO_DEV == -2 && SG_DXFER_FROM_DEV == -3, "SG_IO directions");

static_assert(sizeof(sg_io_hdr_t) == 88, "sg_io_hdr size");
static_assert(offsetof(sg_io_hdr_t, interface_id) == 0 &&
                  offsetof(sg_io_hdr_t, dxfer_direction) == 4 &&
                  offsetof(sg_io_hdr_t, cmd_len) == 8 && offsetof(sg_io_hdr_t, mx_sb_len) == 9 &&
                  offsetof(sg_io_hdr_t, iovec_count) == 10 &&
                  offsetof(sg_io_hdr_t, dxfer_len) == 12 && offsetof(sg_io_hdr_t, dxferp) == 16 &&
                  offsetof(sg_io_hdr_t, cmdp) == 24 && offsetof(sg_io_hdr_t, sbp) == 32 &&
                  offsetof(sg_io_hdr_t, timeout) == 40 && offsetof(sg_io_hdr_t, status) == 64,
              "sg_io_hdr layout");

static_assert(sizeof(struct mmc_ioc_cmd) == 72, "mmc_ioc_cmd size");
static_assert(MMC_IOC_MAX_BYTES == 1024 * 512, "largest MMC_IOC_CMD data phase");
static_assert(offsetof(struct mmc_ioc_cmd, opcode) == 8 &&
                  offsetof(struct mmc_ioc_cmd, arg) == 12 &&
                  offsetof(struct mmc_ioc_cmd, response) == 16 &&
                  offsetof(struct mmc_ioc_cmd, flags) == 32 &&
                  offsetof(struct mmc_ioc_cmd, blksz) == 36 &&
                  offsetof(struct mmc_ioc_cmd, blocks) == 40 &&
                  offsetof(struct mmc_ioc_cmd, data_ptr) == 64,
              "mmc_ioc_cmd layout");

static_assert(MMC_RSP_PRESENT == 0x1 && MMC_RSP_CRC == 0x4 && MMC_RSP_BUSY == 0x8 &&
                  MMC_RSP_OPCODE == 0x10 && MMC_CMD_AC == 0 && MMC_CMD_ADTC == 0x20 &&
                  MMC_RSP_SPI_S1 == 0x80 && MMC_RSP_SPI_S2 == 0x100 && MMC_RSP_SPI_B4 == 0x200 &&
                  MMC_RSP_SPI_BUSY == 0x400,
              "MMC flag bits");
static_assert(sdsmart_kernel::kMmcReadFlags == 0x6BD, "CMD17/18 flags");
static_assert(sdsmart_kernel::kMmcWriteFlags == 0x5BD, "CMD24/25 flags");
static_assert(sdsmart_kernel::kMmcR1Flags == 0x15, "R1 flags");
static_assert(sdsmart_kernel::kMmcR1bFlags == 0x49D, "R1b flags");
