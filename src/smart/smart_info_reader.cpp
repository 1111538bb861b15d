// SPDX-License-Identifier: MIT
#include "sdsmart/smart_info_reader.h"
#include "smart/card_protocol.h"

#include "sdsmart/io_file.h"
#include "sdsmart/smart_info_header.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/erase_count_range.h"
#include "smart/smart_reader_errors.h"
#include "util/error_catalogue.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

namespace {

constexpr unsigned int kSector = CardProtocol::SectorBytes;

} // namespace

// The layout hosts were built against, member for member.
struct CSmartInfoReaderLayout {
  struct Documented {
    std::wstring EntryPattern;
    CSpecialMode2Cmd *Mode2Cmd;
    _SMART_INFO_HEADER Header;
    std::vector<unsigned int> EraseCounts;
    std::vector<unsigned int> ReadCounts;
    std::vector<unsigned char> RuntimeBadStatus;
    std::vector<unsigned short> Marks;
    unsigned int ECCUncorrectableCnt;
    unsigned int VBEntryCount;
    const bool *Terminated;
    bool GlobalReadCount;
    unsigned int DetailSectors;
    bool WaitFirstDetailBusy;
    CIoFile *SmartFile; // the exclusive owner has a plain pointer's layout
    bool FileHeaderFound;
    unsigned int ExtensionUnit;
    unsigned int ReadUnits;
    unsigned int FileUnits;
    std::wstring SmartFilePath;
    unsigned int SectorSize;
    std::wstring DiskName;
    bool Unformatted;
    bool WriteProtected;
    unsigned char SmartVerSupport;
    unsigned char WPAccumulated;
  };
  static_assert(sizeof(std::unique_ptr<CIoFile>) == sizeof(CIoFile *), "owner is a pointer");
  static_assert(sizeof(CSmartInfoReader) == sizeof(Documented), "CSmartInfoReader size");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#define SDSMART_SAME_OFFSET(m)                                                                     \
  static_assert(offsetof(CSmartInfoReader, m) == offsetof(Documented, m), #m)
  SDSMART_SAME_OFFSET(EntryPattern);
  SDSMART_SAME_OFFSET(Mode2Cmd);
  SDSMART_SAME_OFFSET(Header);
  SDSMART_SAME_OFFSET(EraseCounts);
  SDSMART_SAME_OFFSET(ReadCounts);
  SDSMART_SAME_OFFSET(RuntimeBadStatus);
  SDSMART_SAME_OFFSET(Marks);
  SDSMART_SAME_OFFSET(ECCUncorrectableCnt);
  SDSMART_SAME_OFFSET(VBEntryCount);
  SDSMART_SAME_OFFSET(Terminated);
  SDSMART_SAME_OFFSET(GlobalReadCount);
  SDSMART_SAME_OFFSET(DetailSectors);
  SDSMART_SAME_OFFSET(WaitFirstDetailBusy);
  SDSMART_SAME_OFFSET(SmartFile);
  SDSMART_SAME_OFFSET(FileHeaderFound);
  SDSMART_SAME_OFFSET(ExtensionUnit);
  SDSMART_SAME_OFFSET(ReadUnits);
  SDSMART_SAME_OFFSET(FileUnits);
  SDSMART_SAME_OFFSET(SmartFilePath);
  SDSMART_SAME_OFFSET(SectorSize);
  SDSMART_SAME_OFFSET(DiskName);
  SDSMART_SAME_OFFSET(Unformatted);
  SDSMART_SAME_OFFSET(WriteProtected);
  SDSMART_SAME_OFFSET(SmartVerSupport);
  SDSMART_SAME_OFFSET(WPAccumulated);
#undef SDSMART_SAME_OFFSET
#pragma GCC diagnostic pop
};

CError SmartErrorCopy(const CError &error) {
  CError copy;
  copy.Set(error.GetCode(), error.GetText());
  return copy;
}

CError SmartContentsError() { return MakeError(Errors::SmartContents); }

CSmartInfoReader::CSmartInfoReader(CSpecialMode2Cmd &channel, const std::wstring &entry,
                                   const std::wstring &diskName, const bool &terminated,
                                   const unsigned char &smartVersion)
    : EntryPattern(entry), Mode2Cmd(&channel), Terminated(&terminated),
      SectorSize(CardProtocol::SectorBytes), DiskName(diskName), SmartVerSupport(smartVersion) {}

CSmartInfoReader::CSmartInfoReader(CSpecialMode2Cmd &channel, std::wstring &entry,
                                   std::wstring &diskName, const bool &terminated,
                                   unsigned char &smartVersion)
    : CSmartInfoReader(channel, static_cast<const std::wstring &>(entry),
                       static_cast<const std::wstring &>(diskName), terminated,
                       static_cast<const unsigned char &>(smartVersion)) {}

CSmartInfoReader::~CSmartInfoReader() = default;

bool CSmartInfoReader::IsTerminated() const {
  // The host may set the flag from another thread at any time: read it afresh.
  return __atomic_load_n(Terminated, __ATOMIC_SEQ_CST);
}

void CSmartInfoReader::ThrowIfTerminated() const {
  if (IsTerminated())
    throw MakeError(Errors::UserTerminated);
}

void CSmartInfoReader::Execute(unsigned char functionSelect) {
  CheckUnFormatAndWriteProtected();
  switch (SmartVerSupport) {
  case 2:
    RunVersion2(functionSelect);
    break;
  case 3:
    if (Unformatted) {
      RunVersion2(functionSelect);
      break;
    }
    if (WriteProtected)
      throw MakeError(Errors::WriteProtected);
    try {
      ReadDataOfSmartVer3(functionSelect);
      DeleteSmartFile();
    } catch (const CError &error) {
      DeleteSmartFile();
      // Once the card has answered in the file, its answer is final.
      if (FileHeaderFound)
        throw SmartErrorCopy(error);
      RunVersion2(functionSelect);
    }
    break;
  default:
    throw MakeError(Errors::WrongSmartVersion, {std::to_wstring(SmartVerSupport)});
  }
}

void CSmartInfoReader::RunVersion2(unsigned char functionSelect) {
  try {
    ReadDataOfSmartVer2(functionSelect);
  } catch (const CError &error) {
    throw SmartErrorCopy(error);
  }
}

void CSmartInfoReader::ReadData(unsigned char *buffer, unsigned int count, unsigned int address,
                                bool waitWhileBusy) {
  for (unsigned int i = 0; i < count && !IsTerminated(); ++i) {
    unsigned char *sector = buffer + kSector * i;
    Mode2Cmd->Cmd18(address, sector, kSector);
    if (i != 0 || !waitWhileBusy)
      continue;
    // The card answers busy headers at this address until its data are ready.
    unsigned int rereads = 0;
    while (IsBusySmartHeader(sector)) {
      if (rereads >= CardProtocol::BusyPolls)
        throw MakeError(Errors::HeaderBusy);
      ThrowIfTerminated();
      if (rereads >= CardProtocol::ImmediateBusyReads)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      Mode2Cmd->Cmd18(address, sector, kSector);
      ++rereads;
    }
  }
  ThrowIfTerminated();
}

void CSmartInfoReader::ReadHeader(unsigned char type) {
  unsigned char sector[kSector];
  ReadData(sector, 1, type, true);
  CSmartInfoHeader header(sector);
  if (!header.CheckContentRight())
    throw SmartContentsError();
  std::memcpy(&Header, header.Get(), sizeof(Header));
  if (WPAccumulated == 0)
    WPAccumulated = Header.WPStatus;
  if (Header.DetailType != type)
    throw MakeError(Errors::DetailTypeMismatch);
  LoadHeader(Header);
}

void CSmartInfoReader::LoadHeader(const _SMART_INFO_HEADER &host) {
  if (&host != &Header)
    std::memcpy(&Header, &host, sizeof(Header));
  if (Header.DetailType == DetailReadCount && Header.GlobalRemainderSectorCount != 0)
    GlobalReadCount = true;
  DetailSectors = SmartDetailSectors(Header);
  WaitFirstDetailBusy = Header.HeaderVersion <= 1;
}

bool CSmartInfoReader::IsHeaderWithBusy(unsigned char *sector) { return IsBusySmartHeader(sector); }

void CSmartInfoReader::LeaveSpecialMode2() { Mode2Cmd->LeaveSpecialMode2(0); }

unsigned int CSmartInfoReader::GetMaxEraseCount() { return FindEraseCountRange(EraseCounts).Max; }

unsigned int CSmartInfoReader::GetMinEraseCount() { return FindEraseCountRange(EraseCounts).Min; }

unsigned int CSmartInfoReader::GetMaxReadCount() {
  unsigned int result = 0;
  for (unsigned int v : ReadCounts)
    if (v <= CardProtocol::LargestCount && v > result)
      result = v;
  return result;
}

_SMART_INFO_HEADER *CSmartInfoReader::GetHeader() { return &Header; }

unsigned int CSmartInfoReader::GetECCUncorrectableCnt() { return ECCUncorrectableCnt; }

std::vector<unsigned int> &CSmartInfoReader::GetDetailEraseCount() { return EraseCounts; }

std::vector<unsigned int> &CSmartInfoReader::GetDetailReadCount() { return ReadCounts; }

std::vector<unsigned char> &CSmartInfoReader::GetRuntimeBadStatus() { return RuntimeBadStatus; }

std::vector<unsigned short> &CSmartInfoReader::GetMarks() { return Marks; }

unsigned char CSmartInfoReader::GetWPStatus() { return WPAccumulated; }

unsigned int CSmartInfoReader::GetVBEntryCount() { return VBEntryCount; }

unsigned int CSmartInfoReader::GetDetailSectors() { return DetailSectors; }

bool CSmartInfoReader::IsGlobalReadCount() { return GlobalReadCount; }

bool CSmartInfoReader::IsWaitFirstDetailBusy() { return WaitFirstDetailBusy; }

bool CSmartInfoReader::IsUnformatted() { return Unformatted; }

bool CSmartInfoReader::IsWriteProtected() { return WriteProtected; }

bool CSmartInfoReader::IsFileHeaderFound() { return FileHeaderFound; }

unsigned int CSmartInfoReader::GetExtensionUnit() { return ExtensionUnit; }

const std::wstring &CSmartInfoReader::GetSmartFilePath() { return SmartFilePath; }
