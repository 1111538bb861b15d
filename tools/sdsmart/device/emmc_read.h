// SPDX-License-Identifier: MIT
// Reading an eMMC's life estimate without writing: from the kernel's sysfs
// files (life_time, pre_eol_info) where it shows them, else from the
// extended CSD by CMD8 (SEND_EXT_CSD) through the MMC block ioctl on a node
// opened read-only. Nothing else is ever sent to an eMMC.
#pragma once

#include "card/emmc_life.h"

#include <string>

namespace sdsmart_tool {

// `node` is the eMMC's node, `name` its kernel name ("mmcblk0"). false with
// a reason when neither source answers.
bool ReadEmmcLife(const std::string &node, const std::string &name, const std::string &sysRoot,
                  EmmcLife &life, std::string &error);

} // namespace sdsmart_tool
