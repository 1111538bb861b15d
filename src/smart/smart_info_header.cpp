// SPDX-License-Identifier: MIT
#include "sdsmart/smart_info_header.h"
#include "smart/card_protocol.h"

#include "sdsmart/endian.h"

#include <cstring>
#include <utility>

namespace {

CEndian endian;

void Swap16At(unsigned char *record, size_t offset) {
  if (!endian.IsBigEndian())
    std::swap(record[offset], record[offset + 1]);
}

void Swap32At(unsigned char *record, size_t offset) {
  if (!endian.IsBigEndian()) {
    std::swap(record[offset], record[offset + 3]);
    std::swap(record[offset + 1], record[offset + 2]);
  }
}

// The hardware version text runs from offset 3 to the first NUL byte, which
// may lie beyond the 16 bytes of HWVersion. The search stops where the
// byte-swapped counters begin (offset 42): a model name spelled partly by
// counter bytes would read differently in card and host order, and the
// conversion would no longer give back the card's bytes.
bool IsNv6461(const unsigned char *record) {
  static const char model[] = "NV6461";
  const size_t modelLen = sizeof(model) - 1;
  const size_t firstSwapped = offsetof(_SMART_INFO_HEADER, PECycleCount);
  size_t end = 3;
  while (end < firstSwapped && record[end] != 0)
    ++end;
  for (size_t i = 3; i + modelLen <= end; ++i)
    if (std::memcmp(record + i, model, modelLen) == 0)
      return true;
  return false;
}

} // namespace

bool IsSmartSignature(const unsigned char *sector) {
  return sector[0] == 'S' && sector[1] == 'I' && sector[2] == '0';
}

bool IsBusySmartHeader(const unsigned char *sector) {
  return IsSmartSignature(sector) && sector[offsetof(_SMART_INFO_HEADER, BusyFlag)] == 1;
}

unsigned int SmartVBEntryCount(const _SMART_INFO_HEADER &host, unsigned int *unitCount) {
  uint64_t units = 1;
  const uint64_t entries = CardProtocol::DetailEntryCount(host, &units);
  if (unitCount)
    *unitCount = static_cast<unsigned int>(units);
  return static_cast<unsigned int>(entries);
}

unsigned int SmartDetailSectors(const _SMART_INFO_HEADER &host) {
  if (host.DetailSectorCountEx != 0 &&
      host.DetailSectorCountEx != CardProtocol::DetailSectorCountExUnset)
    return host.DetailSectorCountEx;
  return host.DetailSectorCount;
}

CSmartInfoHeader::CSmartInfoHeader() : record{} {}

CSmartInfoHeader::CSmartInfoHeader(unsigned char *cardBytes)
    : CSmartInfoHeader(static_cast<const unsigned char *>(cardBytes)) {}

CSmartInfoHeader::CSmartInfoHeader(const unsigned char *cardBytes) {
  _SMART_INFO_HEADER card;
  std::memcpy(&card, cardBytes, sizeof(card));
  InvertSmartHeader(&card, &record);
}

CSmartInfoHeader::CSmartInfoHeader(_SMART_INFO_HEADER &hostRecord)
    : CSmartInfoHeader(static_cast<const _SMART_INFO_HEADER &>(hostRecord)) {}

CSmartInfoHeader::CSmartInfoHeader(const _SMART_INFO_HEADER &hostRecord) {
  std::memcpy(&record, &hostRecord, sizeof(record));
}

CSmartInfoHeader::~CSmartInfoHeader() = default;

void CSmartInfoHeader::ToBuffer(Bulk<unsigned char> &out) {
  if (out.Size() < sizeof(_SMART_INFO_HEADER))
    return;
  _SMART_INFO_HEADER card;
  InvertSmartHeader(&record, &card);
  std::memcpy(out.Data(), &card, sizeof(card));
}

bool CSmartInfoHeader::CheckContentRight() { return IsSmartSignature(record.Signature); }

void InvertSmartHeader(const _SMART_INFO_HEADER *from, _SMART_INFO_HEADER *to) {
  if (from != to)
    std::memmove(to, from, sizeof(_SMART_INFO_HEADER));
  unsigned char *r = reinterpret_cast<unsigned char *>(to);
  for (size_t off : {42, 46, 57, 61, 65, 78})
    Swap32At(r, off);
  for (size_t off : {50, 52, 54})
    Swap16At(r, off);
  // That controller sends these two unit fields in host order already.
  if (!IsNv6461(r)) {
    Swap16At(r, 82);
    Swap16At(r, 84);
  }
  Swap32At(r, 86);
  for (size_t off : {90, 92, 138, 140, 142, 144})
    Swap16At(r, off);
  Swap32At(r, 146);
  Swap16At(r, 150);
  Swap16At(r, 74);
  Swap16At(r, 76);
}

void CSmartInfoHeader::Invert(_SMART_INFO_HEADER *from, _SMART_INFO_HEADER *to) {
  InvertSmartHeader(from, to);
}

_SMART_INFO_HEADER *CSmartInfoHeader::Get() { return &record; }
