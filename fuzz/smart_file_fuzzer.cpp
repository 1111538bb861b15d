// SPDX-License-Identifier: MIT
// A saved SMART header and its detail pages through the version-3 parsers
// (the road of a host-file answer and of tools that decode saved pages): the
// first 512 bytes are the header as the card sends it, the rest the detail
// data. A hostile header must give a CError, and a table the parsers fill
// may hold no more entries than the bytes handed to them describe.
#include "fuzz_support.h"

#include "sdsmart/bulk.h"
#include "sdsmart/error.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/usb_drive.h"

namespace {

constexpr size_t kSector = 512;

template <typename F> bool Parse(F &&f) {
  try {
    f();
    return true;
  } catch (const CError &) {
    return false;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kSector)
    return 0;
  const unsigned char *detail = data + kSector;
  const size_t detailSize = size - kSector;

  CSmartInfoHeader header(data);
  (void)header.CheckContentRight();
  (void)IsSmartSignature(data);
  (void)IsBusySmartHeader(data);
  Bulk<unsigned char> back(kSector);
  header.ToBuffer(back);
  FUZZ_CHECK(std::memcmp(back.Data(), data, kSector) == 0,
             "a header converts back to the bytes it came from");

  CUsbDrive drive; // never opened: the version-3 parsers take the bytes given
  CSpecialMode2Cmd channel(drive, L"SDSMTEST");
  const bool terminated = false;
  const unsigned char version = 3;
  CSmartInfoReader reader(channel, L"SDSMTEST", L"/dev/sdfuzz", terminated, version);
  reader.LoadHeader(*header.Get());
  const _SMART_INFO_HEADER &h = *header.Get();
  const unsigned long long sectors = reader.GetDetailSectors();
  // Both read-count parsers run whatever format the header announces: the
  // wrong one must refuse, never read past the data.

  if (Parse([&] { reader.ReadEraseCountData(3, detail, detailSize); })) {
    FUZZ_CHECK(reader.GetDetailEraseCount().size() <= sectors * 256,
               "erase counts fit the detail sectors");
    FUZZ_CHECK(sectors * kSector <= detailSize, "erase counts come from bytes that were there");
    (void)reader.GetMaxEraseCount();
    (void)reader.GetMinEraseCount();
  }
  if (Parse([&] { reader.ReadNativeReadCountData(3, detail, detailSize); })) {
    FUZZ_CHECK(reader.GetDetailReadCount().size() <= sectors * 256,
               "read counts fit the detail sectors");
    (void)reader.GetMaxReadCount();
  }
  if (Parse([&] { reader.ReadRuntimeBadData(3, detail, detailSize); }))
    FUZZ_CHECK(reader.GetRuntimeBadStatus().size() <= sectors * 256,
               "run-time bad entries fit the detail sectors");
  if (Parse([&] { reader.ReadGlobalReadCountData(3, detail, detailSize); })) {
    // VBs no pair names keep "no count" and the remainder bytes repeat, so the
    // table may be longer than its sectors; it is never longer than the
    // largest table any detail format can describe.
    FUZZ_CHECK(reader.GetDetailReadCount().size() <= 0xFFFFull * 256,
               "global read counts stay within the largest detail table");
    FUZZ_CHECK((sectors + h.GlobalRemainderSectorCount) * kSector <= detailSize,
               "global read counts come from bytes that were there");
  }
  // A wrong version is refused, never read.
  FUZZ_CHECK(!Parse([&] { reader.ReadEraseCountData(7, detail, detailSize); }),
             "an unknown version is refused");
  return 0;
}
