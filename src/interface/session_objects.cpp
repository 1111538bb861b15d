// SPDX-License-Identifier: MIT
// The owning pointers to the objects of the last acquisition. Defined here in
// this order so that at unload they are destroyed in the reverse one: reader,
// channel, native drive, USB drive.
#include "interface/session.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"

std::unique_ptr<CUsbDrive> _UsbDrive;
std::unique_ptr<CMmcDrive> _MmcDrive;
std::unique_ptr<CSpecialMode2Cmd> _SpecialMode2Cmd;
std::unique_ptr<CSmartInfoReader> _SmartInfoReader;

Transport SessionTransport() {
  return _IsUsbDevice != 0 ? Transport::UsbReader : Transport::SdHost;
}

CSectorDevice SessionDevice() {
  return CSectorDevice::Select(SessionTransport(), _UsbDrive.get(), _MmcDrive.get());
}

std::unique_ptr<CUsbDrive> &SessionSlot(const std::unique_ptr<CUsbDrive> &) { return _UsbDrive; }
std::unique_ptr<CMmcDrive> &SessionSlot(const std::unique_ptr<CMmcDrive> &) { return _MmcDrive; }
