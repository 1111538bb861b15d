// SPDX-License-Identifier: MIT
// The owning pointers to the objects of the last acquisition. Defined here in
// this order so that at unload they are destroyed in the reverse one: reader,
// channel, native drive, USB drive.
#include "interface/session.h"
#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"

std::unique_ptr<CUsbDrive> _UsbDrive;
std::unique_ptr<CMmcDrive> _MmcDrive;
std::unique_ptr<CSpecialMode2Cmd> _SpecialMode2Cmd;
std::unique_ptr<CSmartInfoReader> _SmartInfoReader;
