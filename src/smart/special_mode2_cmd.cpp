// SPDX-License-Identifier: MIT
#include "sdsmart/special_mode2_cmd.h"

#include "sdsmart/convert.h"
#include "sdsmart/error.h"
#include "sdsmart/normal_reader_io.h"
#include "smart/card_protocol.h"
#include "smart/entry_sector.h"

#include <algorithm>
#include <cstring>

namespace {

const char *const kUnit = "SpecialMode2Cmd";
constexpr unsigned int kSector = CardProtocol::SectorBytes;

// The first bytes of the narrow entry string; missing bytes stay zero.
void EntryBytes(const std::wstring &entry, unsigned char (&out)[CardProtocol::EntryLength]) {
  std::memset(out, 0, sizeof out);
  const std::string narrow = ToNarrowString(entry);
  std::memcpy(out, narrow.data(), std::min<size_t>(narrow.size(), sizeof out));
}

// A transfer takes whole sectors, one at least. The line numbers name the
// check in the messages, as the channel has always reported them.
void CheckSectorBuffer(unsigned int size, unsigned int shortLine, unsigned int partialLine) {
  if (size < kSector)
    throw CBufferSizeError(kUnit, shortLine, kSector);
  if (size % kSector != 0)
    throw CSectorBufferSizeError(kUnit, partialLine, size);
}

} // namespace

CSpecialMode2Cmd::CSpecialMode2Cmd(CUsbDrive &drive, const std::wstring &entry)
    : HostIoOwner(std::make_unique<CNormalReaderIo>(drive)), NormalReader(true), UsbTransport(true),
      EntryPattern(entry) {
  HostIo = HostIoOwner.get();
  CNormalReaderIo::FasterLBAReadWrite = false;
  CNormalReaderIo::IsUsbDrive = true;
}

CSpecialMode2Cmd::CSpecialMode2Cmd(CMmcDrive &drive, const std::wstring &entry)
    : HostIoOwner(std::make_unique<CNormalReaderIo>(drive)), NormalReader(true),
      UsbTransport(false), EntryPattern(entry) {
  HostIo = HostIoOwner.get();
  CNormalReaderIo::FasterLBAReadWrite = false;
  CNormalReaderIo::IsUsbDrive = false;
}

CSpecialMode2Cmd::CSpecialMode2Cmd(std::unique_ptr<CSdHostIo> io, bool usbTransport,
                                   const std::wstring &entry)
    : HostIoOwner(std::move(io)), NormalReader(true), UsbTransport(usbTransport),
      EntryPattern(entry) {
  HostIo = HostIoOwner.get();
}

CSpecialMode2Cmd::~CSpecialMode2Cmd() = default;

void CSpecialMode2Cmd::CreateMode2EnterPattern(Bulk<unsigned char> &buffer) {
  if (buffer.Size() < CardProtocol::SectorBytes)
    return;
  unsigned char entry[CardProtocol::EntryLength];
  EntryBytes(EntryPattern, entry);
  EntrySector::BuildEnter(buffer.Data(), entry, SmartVersion == 3);
}

void CSpecialMode2Cmd::CreateMode2LeavePattern(Bulk<unsigned char> &buffer) {
  if (buffer.Size() < CardProtocol::SectorBytes)
    return;
  unsigned char entry[CardProtocol::EntryLength];
  EntryBytes(EntryPattern, entry);
  EntrySector::BuildLeave(buffer.Data(), entry);
}

bool CSpecialMode2Cmd::SpcEnterLeaveWrite(unsigned int lba, unsigned int method,
                                          unsigned char *data) {
  switch (method) {
  case 0:
    HostIo->Cmd24Write(lba, data);
    break;
  case 1:
    HostIo->WriteSector(lba, 1, data);
    break;
  default:
    HostIo->Cmd56Write(data, kSector);
    break;
  }
  return true;
}

void CSpecialMode2Cmd::EnterSpecialMode2(unsigned int method, unsigned char version) {
  SmartVersion = version;
  Bulk<unsigned char> pattern(kSector);
  CreateMode2EnterPattern(pattern);
  SpcEnterLeaveWrite(0, method, pattern.Data());
}

void CSpecialMode2Cmd::LeaveSpecialMode2(unsigned int method) {
  Bulk<unsigned char> pattern(kSector);
  CreateMode2EnterPattern(pattern);
  SpcEnterLeaveWrite(0, method, pattern.Data());
  CreateMode2LeavePattern(pattern);
  SpcEnterLeaveWrite(0, method, pattern.Data());
}

void CSpecialMode2Cmd::Cmd18(unsigned int lba, void *buffer, unsigned int size) {
  CheckSectorBuffer(size, 289, 292);
  HostIo->ReadSector(lba, size / kSector, static_cast<unsigned char *>(buffer));
}

void CSpecialMode2Cmd::Cmd25(unsigned int lba, void *buffer, unsigned int size) {
  CheckSectorBuffer(size, 259, 262);
  HostIo->WriteSector(lba, size / kSector, static_cast<unsigned char *>(buffer));
}

void CSpecialMode2Cmd::Cmd27(unsigned int lba, void *buffer, unsigned int size) {
  if (size != kSector)
    throw CBufferSizeError(kUnit, 251, kSector);
  HostIo->WriteSector(lba, 1, static_cast<unsigned char *>(buffer));
}

bool CSpecialMode2Cmd::IsNormalReader() { return NormalReader; }

void CSpecialMode2Cmd::LockControl(bool) {}

void CSpecialMode2Cmd::SetEntryPattern(const std::wstring &entry) { EntryPattern = entry; }

void CSpecialMode2Cmd::Cmd18(void *buffer, unsigned int size) { Cmd18(0, buffer, size); }

void CSpecialMode2Cmd::Cmd25(void *buffer, unsigned int size) { Cmd25(0, buffer, size); }

void CSpecialMode2Cmd::Cmd27(void *buffer, unsigned int size) { Cmd27(0, buffer, size); }

unsigned char CSpecialMode2Cmd::GetSmartVersion() { return SmartVersion; }

bool CSpecialMode2Cmd::IsUsbTransport() { return UsbTransport; }
