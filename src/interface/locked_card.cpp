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
  explicit CState(const std::string &node)
      : Lock(node), Drive(CCardDrive::Open(TransportOfNode(node), ToWideString(node))),
        Device(Drive.Device()) {}

  // Declared in this order so that the drive closes before the lock goes.
  CAcquisitionLock Lock;
  CCardDrive Drive;
  CSectorDevice Device;
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
