// SPDX-License-Identifier: MIT
// Accessors the sdsmart tool needs beside the documented ones, so that it
// builds against the public header alone.
#include "interface/session.h"
#include "sdsmart/convert.h"
#include "sdsmart/flash_naming.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "smart/entry_sector.h"
#include "transport/sector_device.h"

namespace {

std::string entryText; // the buffer GetEntryString hands out

} // namespace

extern "C" const char *GetEntryString() {
  try {
    entryText = ToNarrowString(_EntryStr);
  } catch (...) {
    entryText.clear();
  }
  return entryText.c_str();
}

extern "C" const char *GetNodeTransport(const char *node) {
  return TransportName(TransportOfNode(node != nullptr ? node : ""));
}

extern "C" int GetHeaderSignatureFound() {
  if (!_SmartInfoReader)
    return -1;
  return IsSmartSignature(reinterpret_cast<const unsigned char *>(_SmartInfoReader->GetHeader()))
             ? 1
             : 0;
}

extern "C" const char *GetFlashMakerName(unsigned int makerCode) {
  static std::string name; // the buffer handed out
  try {
    name = ToNarrowString(FlashMIDToString(static_cast<int>(makerCode)));
  } catch (...) {
    name = "Unknown";
  }
  return name.c_str();
}

extern "C" int GetSectorKind(const unsigned char *sector) {
  if (sector == nullptr)
    return SDSMART_SECTOR_DATA;
  switch (EntrySector::Classify(sector)) {
  case EntrySector::Kind::Enter:
    return SDSMART_SECTOR_ENTER;
  case EntrySector::Kind::EnterVersion3:
    return SDSMART_SECTOR_ENTER_FILE;
  case EntrySector::Kind::Leave:
    return SDSMART_SECTOR_LEAVE;
  default:
    return SDSMART_SECTOR_DATA;
  }
}
