// SPDX-License-Identifier: MIT
#include "sdsmart/convert.h"
#include "sdsmart/io_file.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "sdsmart/unique_fd.h"
#include "smart/card_protocol.h"
#include "smart/mount_table.h"
#include "smart/smart_reader_errors.h"
#include "transport/transfer_observer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <mntent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned long long kLargeCardLimit = 0x83FFFFFFFull; // 33 GiB - 1 byte
constexpr const char *kMountTable = "/proc/self/mounts";

// A buffer for direct I/O: aligned to the sector size, freed on every path.
class CAlignedBuffer {
public:
  CAlignedBuffer(size_t alignment, size_t size) {
    void *p = nullptr;
    if (posix_memalign(&p, alignment, size) == 0)
      data.reset(static_cast<unsigned char *>(p));
  }
  bool IsValid() const { return data != nullptr; }
  unsigned char *Get() const { return data.get(); }

private:
  struct Free {
    void operator()(unsigned char *p) const { std::free(p); }
  };
  std::unique_ptr<unsigned char, Free> data;
};

struct CMountTableCloser {
  void operator()(FILE *f) const { endmntent(f); }
};

bool HasOptionToken(const char *options, const char *token) {
  const size_t len = std::strlen(token);
  const char *p = options;
  while (p && *p) {
    const char *end = std::strchr(p, ',');
    const size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (n == len && std::strncmp(p, token, len) == 0)
      return true;
    p = end ? end + 1 : nullptr;
  }
  return false;
}

} // namespace

void CSmartInfoReader::CheckUnFormatAndWriteProtected() {
  Unformatted = false;
  WriteProtected = false;
  SmartFilePath.clear();

  std::unique_ptr<FILE, CMountTableCloser> table(setmntent(kMountTable, "re"));
  CardMount mount;
  if (table && FindCardMount(table.get(), ToNarrowString(DiskName), mount)) {
    const std::wstring mountPoint = ToWideString(mount.Directory);
    // A mount point the locale cannot carry: the file cannot be named.
    if (ToNarrowString(mountPoint) == mount.Directory) {
      SmartFilePath = mountPoint + L"/" + ToWideString(SmartFileName);
      WriteProtected = HasOptionToken(mount.Options.c_str(), "ro");
      return;
    }
  }
  Unformatted = true;
}

void CSmartInfoReader::ReadDataOfSmartVer3(unsigned char functionSelect) {
  Mode2Cmd->EnterSpecialMode2(0, 3);
  InitParameter();
  try {
    CreateFileForSpecialMode2ExtensionMode();
    if (functionSelect == 0) {
      EnterSpecialMode2ExtensionMode(0);
      ReadSmartDataFromFile(0);
    }
    for (const CardProtocol::FileSelector &f : CardProtocol::FileSelectors) {
      if (functionSelect & f.Bit) {
        EnterSpecialMode2ExtensionMode(f.Selector);
        ReadSmartDataFromFile(f.Selector);
      }
    }
    Mode2Cmd->LeaveSpecialMode2(0);
    SmartFile.reset();
  } catch (const CError &error) {
    SmartFile.reset();
    Mode2Cmd->LeaveSpecialMode2(0);
    throw SmartErrorCopy(error);
  } catch (...) {
    SmartFile.reset();
    try {
      Mode2Cmd->LeaveSpecialMode2(0);
    } catch (...) {
    }
    throw;
  }
}

void CSmartInfoReader::InitParameter() {
  FileHeaderFound = false;
  WaitFirstDetailBusy = true;
  const std::string node = ToNarrowString(DiskName);
  unsigned long sectors = 0;
  {
    CUniqueFd device(::open(node.c_str(), O_RDONLY | O_CLOEXEC));
    if (!device.IsOpen() || ::ioctl(device.Get(), BLKGETSIZE, &sectors) != 0)
      throw MakeError(Errors::CardSizeFailed);
  }
  const unsigned long long capacity =
      static_cast<unsigned long long>(sectors) * CardProtocol::SectorBytes;
  ExtensionUnit = capacity > kLargeCardLimit ? 1024 : 128;
  ReadUnits = 2 * ExtensionUnit;
  FileUnits = 4 * ExtensionUnit;
  SectorSize = CardProtocol::SectorBytes;
}

void CSmartInfoReader::CreateFileForSpecialMode2ExtensionMode() {
  SmartFile.reset();
  // Never follow a link planted at the file's place. The answers the card
  // puts into the file are nobody else's business: owner only.
  SmartFile = std::make_unique<CIoFile>(
      SmartFilePath, O_RDWR | O_CREAT | O_TRUNC | O_DIRECT | O_NOFOLLOW, O_CREAT | O_TRUNC, 0, 0);
  (void)::fchmod(SmartFile->GetHandle(), 0600); // a FAT mount's modes are fixed: no matter
  const size_t size = static_cast<size_t>(SectorSize) * FileUnits;
  CAlignedBuffer buffer(SectorSize, size);
  if (!buffer.IsValid())
    throw MakeError(Errors::AlignCreateFile);
  std::memset(buffer.Get(), 0, size);
  SmartFile->Write(buffer.Get(), static_cast<unsigned int>(size));
  TransferObserver::FileStep(SDSMART_TRANSFER_FILE_WRITE, 0, buffer.Get(), size);
  SmartFile->Seek(0, SEEK_SET);
}

void CSmartInfoReader::EnterSpecialMode2ExtensionMode(unsigned int selector) {
  CAlignedBuffer buffer(SectorSize, CardProtocol::SectorBytes);
  if (!buffer.IsValid())
    throw MakeError(Errors::AlignEnterMode);
  if (!SmartFile)
    throw MakeError(Errors::CannotWriteFile, {SmartFilePath});
  unsigned char *p = buffer.Get();
  using namespace CardProtocol;
  std::memset(p, 0, SectorBytes);
  const std::string entry = ToNarrowString(EntryPattern);
  std::memcpy(p + CommandAt, entry.data(), std::min<size_t>(entry.size(), EntryLength));
  p[UnitAt] = static_cast<unsigned char>(ExtensionUnit >> 8);
  p[UnitAt + 1] = static_cast<unsigned char>(ExtensionUnit);
  for (unsigned int i = 0; i < 4; ++i)
    p[SelectorAt + i] = static_cast<unsigned char>(selector >> (24 - 8 * i));
  SmartFile->Seek(0, SEEK_SET);
  SmartFile->Write(p, SectorBytes);
  TransferObserver::FileStep(SDSMART_TRANSFER_FILE_WRITE, 0, p, SectorBytes);
  SmartFile->Seek(0, SEEK_SET);
}

void CSmartInfoReader::ReadSmartDataFromFile(unsigned int selector) {
  const size_t length = static_cast<size_t>(SectorSize) * ReadUnits;
  CAlignedBuffer buffer(SectorSize, length);
  if (!buffer.IsValid())
    throw MakeError(Errors::AlignReadFile);
  if (!SmartFile)
    throw MakeError(Errors::CannotReadFile, {SmartFilePath});
  unsigned char *data = buffer.Get();
  std::memset(data, 0, length);
  SmartFile->Seek(0, SEEK_SET);
  SmartFile->Read(data, static_cast<unsigned int>(length));
  TransferObserver::FileStep(SDSMART_TRANSFER_FILE_READ, 0, data, length);
  SmartFile->Seek(0, SEEK_SET);

  // The answer is the first finished header; busy ones are passed over.
  bool signature = false;
  size_t answer = length;
  constexpr size_t kSector = CardProtocol::SectorBytes;
  for (size_t offset = 0; offset + kSector <= length; offset += kSector) {
    if (!IsSmartSignature(data + offset))
      continue;
    signature = true;
    FileHeaderFound = true;
    if (data[offset + offsetof(_SMART_INFO_HEADER, BusyFlag)] == 0) {
      answer = offset;
      break;
    }
  }
  if (!signature)
    throw SmartContentsError();
  if (answer == length)
    throw MakeError(Errors::HeaderBusy);

  CSmartInfoHeader header(data + answer);
  std::memcpy(&Header, header.Get(), sizeof(Header));
  const unsigned char type = static_cast<unsigned char>(selector & 0xFF);
  if (Header.DetailType != type)
    throw MakeError(Errors::FileDetailTypeMismatch);
  LoadHeader(Header);

  // The detail sectors must lie inside what was read back.
  const unsigned char *detail = data + answer + kSector;
  const size_t available = length - answer - kSector;
  size_t needed = static_cast<size_t>(DetailSectors) * kSector;
  if (type == DetailReadCount && GlobalReadCount)
    needed += static_cast<size_t>(Header.GlobalRemainderSectorCount) * kSector;
  if (type != DetailNone && needed > available)
    throw SmartContentsError();

  ReadDetailData(3, detail, available);
}

void CSmartInfoReader::ReadDetailData(unsigned char version, const unsigned char *data,
                                      size_t dataSize) {
  switch (Header.DetailType) {
  case DetailEraseCount:
    ReadEraseCountData(version, data, dataSize);
    break;
  case DetailReadCount:
    if (GlobalReadCount)
      ReadGlobalReadCountData(version, data, dataSize);
    else
      ReadNativeReadCountData(version, data, dataSize);
    break;
  case DetailRuntimeBad:
    ReadRuntimeBadData(version, data, dataSize);
    break;
  default:
    break;
  }
}

void CSmartInfoReader::DeleteSmartFile() {
  if (SmartFilePath.empty())
    return;
  const std::string path = ToNarrowString(SmartFilePath);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw MakeError(Errors::DeleteSmartFileFailed);
}
