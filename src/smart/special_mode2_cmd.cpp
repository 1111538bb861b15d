#include "smart/special_mode2_cmd.h"

#include "transport/normal_reader_io.h"
#include "util/convert.h"
#include "util/error.h"

#include <cstring>

namespace {

const char *const kUnit = "SpecialMode2Cmd";
constexpr unsigned int kSector = 512;

// The first 8 bytes of the narrow entry string; missing bytes stay zero.
void EntryBytes(const std::wstring &entry, unsigned char out[8]) {
  std::memset(out, 0, 8);
  const std::string narrow = ToNarrowString(entry);
  std::memcpy(out, narrow.data(), narrow.size() < 8 ? narrow.size() : 8);
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

CSpecialMode2Cmd::~CSpecialMode2Cmd() = default;

void CSpecialMode2Cmd::CreateMode2EnterPattern(Bulk<unsigned char> &buffer) {
  if (buffer.Size() < kSector)
    return;
  unsigned char *p = buffer.Data();
  std::memset(p, 0, kSector);
  unsigned char e[8];
  EntryBytes(EntryPattern, e);
  for (int i = 0; i < 8; ++i) {
    p[i] = e[i];
    p[255 - i] = e[i];
  }
  p[256] = 0x02;
  p[257] = 0x01;
  if (SmartVersion == 3) {
    p[268] = 0xDE;
    p[269] = 0xAD;
    p[270] = 0xBE;
    p[271] = 0xEF;
  }
  p[510] = 0x01;
  p[511] = 0x02;
}

void CSpecialMode2Cmd::CreateMode2LeavePattern(Bulk<unsigned char> &buffer) {
  if (buffer.Size() < kSector)
    return;
  unsigned char *p = buffer.Data();
  std::memset(p, 0, kSector);
  unsigned char e[8];
  EntryBytes(EntryPattern, e);
  for (int i = 0; i < 8; ++i) {
    p[7 - i] = e[i];
    p[248 + i] = e[i];
  }
  p[256] = 0x02;
  p[262] = 0x01;
  p[263] = 0x02;
  p[504] = 0x02;
  p[505] = 0x01;
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
