// SPDX-License-Identifier: MIT
// Accessors the sdsmart tool needs beside the documented ones, so that it
// builds against the public header alone.
#include "interface/session.h"
#include "smart/smart_info_header.h"
#include "smart/smart_info_reader.h"
#include "transport/sector_device.h"
#include "util/convert.h"

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
