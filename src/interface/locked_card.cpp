// SPDX-License-Identifier: MIT
#include "sdsmart/locked_card.h"

#include "interface/journal.h"
#include "sdsmart/acquisition_lock.h"
#include "sdsmart/convert.h"
#include "smart/card_protocol.h"
#include "transport/sector_device.h"

#include <algorithm>
#include <array>

class CLockedCard::CState {
public:
  explicit CState(const std::string &node) : Lock(node) {
    OpenDrive(TransportOfNode(node), ToWideString(node),
              [this](auto drive) { Device = Keep(std::move(drive)); });
  }

  // Declared in this order so that the drive closes before the lock goes.
  CAcquisitionLock Lock;
  std::unique_ptr<CUsbDrive> Usb;
  std::unique_ptr<CMmcDrive> Mmc;
  CSectorDevice Device;

private:
  CSectorDevice Keep(std::unique_ptr<CUsbDrive> drive) {
    Usb = std::move(drive);
    return CSectorDevice(Usb.get());
  }
  CSectorDevice Keep(std::unique_ptr<CMmcDrive> drive) {
    Mmc = std::move(drive);
    return CSectorDevice(Mmc.get());
  }
};

CLockedCard::CLockedCard(const std::string &node) : State(std::make_unique<CState>(node)) {}

CLockedCard::~CLockedCard() = default;

void CLockedCard::ReadSectors(unsigned int lba, unsigned int count, unsigned char *buf) {
  State->Device.Read(lba, count, buf);
}

void CLockedCard::WriteSector0(const unsigned char *sector) {
  std::array<unsigned char, CardProtocol::SectorBytes> copy; // the drives take a mutable buffer
  std::copy(sector, sector + copy.size(), copy.begin());
  State->Device.Write(0, 1, copy.data());
}

uint64_t CLockedCard::CapacitySectors() const { return NodeCapacitySectors(GetHandle()); }

int CLockedCard::GetHandle() const { return State->Device.Handle(); }
