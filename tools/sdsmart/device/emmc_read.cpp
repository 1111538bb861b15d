// SPDX-License-Identifier: MIT
#include "device/emmc_read.h"

#include "device/guard.h"

#include <sdsmart/unique_fd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/mmc/ioctl.h>
#include <sys/ioctl.h>

namespace sdsmart_tool {
namespace {

// The MMC core's command flags live in linux/mmc/core.h, outside the
// kernel's user API: an R1 answer to an addressed data-transfer command.
constexpr unsigned kRspPresent = 1u << 0, kRspCrc = 1u << 2, kRspOpcode = 1u << 4,
                   kCmdAdtc = 1u << 5;
constexpr unsigned kSendExtCsd = 8;
// R1 error bits: out of range ... general error (bits 31-26, 24-19).
constexpr uint32_t kR1Errors = 0xFDF80000;

bool ReadSysfsLife(const std::string &device, EmmcLife &life) {
  const std::string lifeTime = ReadSysfsAttribute(device + "/life_time");
  const std::string preEol = ReadSysfsAttribute(device + "/pre_eol_info");
  if (!ParseLifeTime(lifeTime, life.LifeA, life.LifeB) || !ParsePreEol(preEol, life.PreEol))
    return false;
  life.From = "sysfs";
  return true;
}

bool ReadExtCsdLife(const std::string &node, EmmcLife &life, std::string &error) {
  CUniqueFd fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsOpen()) {
    error = "cannot open " + node + ": " + std::strerror(errno);
    return false;
  }
  alignas(8) std::array<unsigned char, 512> data{};
  mmc_ioc_cmd command{};
  command.opcode = kSendExtCsd;
  command.flags = kRspPresent | kRspCrc | kRspOpcode | kCmdAdtc;
  command.blksz = data.size();
  command.blocks = 1;
  mmc_ioc_cmd_set_data(command, data.data());
  if (::ioctl(fd.Get(), MMC_IOC_CMD, &command) != 0) {
    error = "the extended CSD (CMD8) could not be read: " + std::string(std::strerror(errno));
    return false;
  }
  if (command.response[0] & kR1Errors) {
    char text[64];
    std::snprintf(text, sizeof text, "the eMMC answered CMD8 with error bits 0x%08x",
                  command.response[0]);
    error = text;
    return false;
  }
  life = LifeFromExtCsd(data.data());
  return true;
}

} // namespace

bool ReadEmmcLife(const std::string &node, const std::string &name, const std::string &sysRoot,
                  EmmcLife &life, std::string &error) {
  life = EmmcLife{};
  return ReadSysfsLife(sysRoot + "/class/block/" + name + "/device", life) ||
         ReadExtCsdLife(node, life, error);
}

} // namespace sdsmart_tool
