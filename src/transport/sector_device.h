// SPDX-License-Identifier: MIT
// The one place that knows a card sits behind one of two kinds of drive: a
// SCSI disk of a USB card reader (CUsbDrive) or a native SD host (CMmcDrive).
// The node's name chooses the kind once; everything above sees 512-byte
// sectors, a capacity in sectors, a descriptor, and which transport it is
// only to report it.
#pragma once

#include "sdsmart/mmc_drive.h"
#include "sdsmart/usb_drive.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>

enum class Transport { UsbReader, SdHost };

// /dev/mmcblk* is a native SD host; every other node a disk behind a reader.
Transport TransportOfNode(const std::string &node);
// "usb" or "mmc", as reports name the transport.
const char *TransportName(Transport transport);

// A view of a drive of either kind; it does not own the drive.
class CSectorDevice {
public:
  CSectorDevice() = default;
  explicit CSectorDevice(CUsbDrive *drive) : usb(drive) {}
  explicit CSectorDevice(CMmcDrive *drive) : mmc(drive) {}
  // The drive of `transport` out of the two a session keeps; none when that
  // one is null.
  static CSectorDevice Select(Transport transport, CUsbDrive *usbDrive, CMmcDrive *mmcDrive);

  // Throws Errors::DriveNotFound when there is no drive.
  void Read(unsigned int lba, unsigned int count, unsigned char *buf);
  void Write(unsigned int lba, unsigned int count, unsigned char *buf);
  // 512-byte sectors of the medium, whichever the drive.
  uint64_t CapacitySectors();
  void Close();
  int Handle();

  explicit operator bool() const { return usb != nullptr || mmc != nullptr; }
  Transport Kind() const { return mmc != nullptr ? Transport::SdHost : Transport::UsbReader; }

  // Calls f with the drive itself, for the documented constructors that take
  // one kind or the other.
  template <typename F> decltype(auto) Visit(F &&f) {
    RequireDrive();
    return mmc != nullptr ? f(*mmc) : f(*usb);
  }

private:
  void RequireDrive() const;

  CUsbDrive *usb = nullptr;
  CMmcDrive *mmc = nullptr;
};

// Opens a new drive of `transport` on `node` and hands it, as a
// std::unique_ptr of its own type, to `adopt`. Throws as the drive's Open
// does, before `adopt` runs.
template <typename F> void OpenDrive(Transport transport, const std::wstring &node, F &&adopt) {
  if (transport == Transport::SdHost)
    adopt(std::make_unique<CMmcDrive>(node, false));
  else
    adopt(std::make_unique<CUsbDrive>(node, false));
}

// The drive a card is reached through, owned: of the kind its transport
// needs, or none.
class CCardDrive {
public:
  CCardDrive() = default;
  explicit CCardDrive(std::unique_ptr<CUsbDrive> drive) : drive(std::move(drive)) {}
  explicit CCardDrive(std::unique_ptr<CMmcDrive> drive) : drive(std::move(drive)) {}
  // Opens a new drive of `transport` on `node`; throws as the drive's Open
  // does.
  static CCardDrive Open(Transport transport, const std::wstring &node);

  // A view of the drive (empty when there is none).
  CSectorDevice Device() const;
  // Hands the drive over as its own type; null when it is of the other kind.
  std::unique_ptr<CUsbDrive> TakeUsb();
  std::unique_ptr<CMmcDrive> TakeMmc();

private:
  std::variant<std::monostate, std::unique_ptr<CUsbDrive>, std::unique_ptr<CMmcDrive>> drive;
};
