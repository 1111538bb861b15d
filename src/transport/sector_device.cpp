// SPDX-License-Identifier: MIT
#include "transport/sector_device.h"

#include "transport/kernel_abi.h"
#include "util/error_catalogue.h"

#include <sys/ioctl.h>

namespace {

const char kNativeHostPrefix[] = "/dev/mmcblk";

} // namespace

Transport TransportOfNode(const std::string &node) {
  // Plain byte prefix test; compare() never reads past the end of the name.
  return node.compare(0, sizeof kNativeHostPrefix - 1, kNativeHostPrefix) == 0
             ? Transport::SdHost
             : Transport::UsbReader;
}

const char *TransportName(Transport transport) {
  return transport == Transport::SdHost ? "mmc" : "usb";
}

CSectorDevice CSectorDevice::Select(Transport transport, CUsbDrive *usbDrive, CMmcDrive *mmcDrive) {
  if (transport == Transport::SdHost)
    return mmcDrive != nullptr ? CSectorDevice(mmcDrive) : CSectorDevice();
  return usbDrive != nullptr ? CSectorDevice(usbDrive) : CSectorDevice();
}

void CSectorDevice::RequireDrive() const {
  if (!*this)
    throw MakeError(Errors::DriveNotFound);
}

void CSectorDevice::Read(unsigned int lba, unsigned int count, unsigned char *buf) {
  Visit([&](auto &drive) { drive.ReadSector(lba, count, buf); });
}

void CSectorDevice::Write(unsigned int lba, unsigned int count, unsigned char *buf) {
  Visit([&](auto &drive) { drive.WriteSector(lba, count, buf); });
}

uint64_t CSectorDevice::CapacitySectors() {
  RequireDrive();
  if (usb != nullptr)
    return usb->ReadCapacity();
  // The native drive's documented answer is in MiB: ask the node for bytes.
  uint64_t bytes = 0;
  if (::ioctl(mmc->GetHandle(), sdsmart_kernel::kBlkGetSize64, &bytes) < 0)
    throw MakeError(Errors::ReadCapacityFailed);
  return bytes / CMmcDrive::SectorSize;
}

void CSectorDevice::Close() {
  if (*this)
    Visit([](auto &drive) { drive.Close(); });
}

int CSectorDevice::Handle() {
  return Visit([](auto &drive) { return drive.GetHandle(); });
}

CCardDrive CCardDrive::Open(Transport transport, const std::wstring &node) {
  CCardDrive opened;
  OpenDrive(transport, node, [&](auto drive) { opened = CCardDrive(std::move(drive)); });
  return opened;
}

CSectorDevice CCardDrive::Device() const {
  if (const auto *usb = std::get_if<std::unique_ptr<CUsbDrive>>(&drive))
    return CSectorDevice(usb->get());
  if (const auto *mmc = std::get_if<std::unique_ptr<CMmcDrive>>(&drive))
    return CSectorDevice(mmc->get());
  return CSectorDevice();
}

std::unique_ptr<CUsbDrive> CCardDrive::TakeUsb() {
  auto *usb = std::get_if<std::unique_ptr<CUsbDrive>>(&drive);
  return usb != nullptr ? std::move(*usb) : nullptr;
}

std::unique_ptr<CMmcDrive> CCardDrive::TakeMmc() {
  auto *mmc = std::get_if<std::unique_ptr<CMmcDrive>>(&drive);
  return mmc != nullptr ? std::move(*mmc) : nullptr;
}
