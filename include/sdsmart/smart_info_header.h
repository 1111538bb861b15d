// SPDX-License-Identifier: MIT
// CSmartInfoHeader: one SMART header record and its conversion between the
// card's byte order and the host's.
#pragma once

#include "sdsmart/bulk.h"
#include "sdsmart/smart_info_header_record.h"

// Sector-level facts about a header that hold in either byte order.
bool IsSmartSignature(const unsigned char *sector);  // bytes 0..2 are "SI0"
bool IsBusySmartHeader(const unsigned char *sector); // signature and BusyFlag == 1

// Entry count rule: Base + Extra x (U - 1), U = TotalVBCount / VBsPerUnit
// (1 when VBsPerUnit is 0), in 32-bit arithmetic. `unitCount` receives U.
unsigned int SmartVBEntryCount(const _SMART_INFO_HEADER &host, unsigned int *unitCount = nullptr);

// Detail sectors a header announces: DetailSectorCountEx unless it is 0 or
// 0xFFFF, else DetailSectorCount.
unsigned int SmartDetailSectors(const _SMART_INFO_HEADER &host);

// Card form <-> host form; each step is its own inverse. `from` and `to` may
// be the same record.
void InvertSmartHeader(const _SMART_INFO_HEADER *from, _SMART_INFO_HEADER *to);

class CSmartInfoHeader {
public:
  CSmartInfoHeader();
  explicit CSmartInfoHeader(unsigned char *cardBytes);
  explicit CSmartInfoHeader(const unsigned char *cardBytes);
  explicit CSmartInfoHeader(_SMART_INFO_HEADER &hostRecord);
  explicit CSmartInfoHeader(const _SMART_INFO_HEADER &hostRecord);
  ~CSmartInfoHeader();

  _SMART_INFO_HEADER *Get();
  // Writes the card form into the first 512 bytes of `out` (nothing when
  // `out` is smaller).
  void ToBuffer(Bulk<unsigned char> &out);
  bool CheckContentRight();
  // InvertSmartHeader as a member.
  void Invert(_SMART_INFO_HEADER *from, _SMART_INFO_HEADER *to);

private:
  _SMART_INFO_HEADER record;
};
