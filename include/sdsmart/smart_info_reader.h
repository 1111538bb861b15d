// SPDX-License-Identifier: MIT
// CSmartInfoReader: one SMART acquisition over the special-mode channel. The
// direct method (version 2) reads the header and detail sectors at composed
// sector addresses; the host-file method (version 3) exchanges a command
// sector through a file on the card's mounted file system and falls back to
// version 2 when the card never answers in the file.
#pragma once

#include "sdsmart/smart_info_header_record.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CIoFile;
class CSpecialMode2Cmd;

class CSmartInfoReader {
public:
  // Detail types (header sector address and low byte of detail addresses).
  enum : unsigned char {
    DetailNone = 0,
    DetailEraseCount = 1,
    DetailReadCount = 2,
    DetailRuntimeBad = 3,
    DetailPmtClean = 16
  };
  // Marker values of the per-VB tables.
  static constexpr unsigned int EraseCountUnused = 0xFFFFFFFE;
  static constexpr unsigned int ReadCountNone = 0xFFFFE;
  // The largest count that is a value; anything above is a marker.
  static constexpr unsigned int LargestCount = ReadCountNone - 1;
  static constexpr const char *SmartFileName = "SmartFile6459.txt";

  // Keeps references to the channel and to the cancel flag (which another
  // thread may set at any time); copies the strings and the version.
  CSmartInfoReader(CSpecialMode2Cmd &channel, std::wstring &entry, std::wstring &diskName,
                   const bool &terminated, unsigned char &smartVersion);
  CSmartInfoReader(CSpecialMode2Cmd &channel, const std::wstring &entry,
                   const std::wstring &diskName, const bool &terminated,
                   const unsigned char &smartVersion);
  ~CSmartInfoReader();
  CSmartInfoReader(const CSmartInfoReader &) = delete;
  CSmartInfoReader &operator=(const CSmartInfoReader &) = delete;

  // functionSelect bits: 1 erase counts, 2 read counts, 4 run-time bad
  // blocks; 0 the header only; exactly 8 the PMT clean (version 2).
  void Execute(unsigned char functionSelect);
  void ReadHeader(unsigned char type);
  void ReadData(unsigned char *buffer, unsigned int count, unsigned int address,
                bool waitWhileBusy);
  bool IsHeaderWithBusy(unsigned char *sector);
  // Takes a header (host form) as the one the next detail pages belong to:
  // stores it and derives DetailSectors, WaitFirstDetailBusy and the global
  // read-count format from it. Also lets a tool decode a saved header and its
  // detail pages with the version-3 parsers.
  void LoadHeader(const _SMART_INFO_HEADER &host);
  void LeaveSpecialMode2();

  // Direct method.
  void ReadDataOfSmartVer2(unsigned char functionSelect);
  bool Clean_PMT_Data();
  void InitialVBInfo(unsigned char type);
  // version 2: read the detail sectors from the card (data unused);
  // version 3: take them from `data`, at most what a read-back delivers after
  // its answer sector ((ReadUnits - 1) sectors).
  void ReadEraseCountData(unsigned char version, unsigned char *data);
  void ReadNativeReadCountData(unsigned char version, unsigned char *data);
  void ReadGlobalReadCountData(unsigned char version, unsigned char *data);
  void ReadRuntimeBadData(unsigned char version, unsigned char *data);
  // The same with the bytes available at `data` given.
  void ReadEraseCountData(unsigned char version, const unsigned char *data, size_t dataSize);
  void ReadNativeReadCountData(unsigned char version, const unsigned char *data, size_t dataSize);
  void ReadGlobalReadCountData(unsigned char version, const unsigned char *data, size_t dataSize);
  void ReadRuntimeBadData(unsigned char version, const unsigned char *data, size_t dataSize);
  // The parser of the loaded header's detail type (nothing for DetailNone).
  void ReadDetailData(unsigned char version, const unsigned char *data, size_t dataSize);

  // Host-file method.
  void CheckUnFormatAndWriteProtected();
  void ReadDataOfSmartVer3(unsigned char functionSelect);
  void InitParameter();
  void CreateFileForSpecialMode2ExtensionMode();
  void EnterSpecialMode2ExtensionMode(unsigned int selector);
  void ReadSmartDataFromFile(unsigned int selector);
  void DeleteSmartFile();

  // Prints at most 10 value ranges of `values` to standard output.
  void ShowStatistics(unsigned int *values, unsigned int count, unsigned int weight);

  // Results.
  _SMART_INFO_HEADER *GetHeader();
  unsigned int GetECCUncorrectableCnt();
  std::vector<unsigned int> &GetDetailEraseCount();
  std::vector<unsigned int> &GetDetailReadCount();
  std::vector<unsigned char> &GetRuntimeBadStatus();
  std::vector<unsigned short> &GetMarks();
  unsigned int GetMaxEraseCount();
  unsigned int GetMinEraseCount();
  unsigned int GetMaxReadCount();
  unsigned char GetWPStatus();

  // State of the last run, for diagnostics and tools.
  unsigned int GetVBEntryCount();
  unsigned int GetDetailSectors();
  bool IsGlobalReadCount();
  bool IsWaitFirstDetailBusy();
  bool IsUnformatted();
  bool IsWriteProtected();
  bool IsFileHeaderFound();
  unsigned int GetExtensionUnit();
  const std::wstring &GetSmartFilePath();

private:
  bool IsTerminated() const;
  void ThrowIfTerminated() const;
  void CheckDetailFits(bool globalReadCounts) const;
  void ReadDetailSectors(unsigned char type, std::vector<unsigned char> &out);
  void TakeDetailData(const unsigned char *data, size_t dataSize, size_t bytes,
                      std::vector<unsigned char> &out) const;
  void RunVersion2(unsigned char functionSelect);
  size_t DeliveredDetailBytes() const;

  // The documented object, member for member: hosts place it on their stack.
  std::wstring EntryPattern;
  CSpecialMode2Cmd *Mode2Cmd;
  _SMART_INFO_HEADER Header{};
  std::vector<unsigned int> EraseCounts;
  std::vector<unsigned int> ReadCounts;
  std::vector<unsigned char> RuntimeBadStatus;
  std::vector<unsigned short> Marks;
  unsigned int ECCUncorrectableCnt = 0;
  unsigned int VBEntryCount = 0;
  const bool *Terminated;
  bool GlobalReadCount = false;
  unsigned int DetailSectors = 0;
  bool WaitFirstDetailBusy = false;
  std::unique_ptr<CIoFile> SmartFile;
  bool FileHeaderFound = false;
  unsigned int ExtensionUnit = 128;
  unsigned int ReadUnits = 256;
  unsigned int FileUnits = 4 * 128;
  std::wstring SmartFilePath;
  unsigned int SectorSize; // one card sector, set by the constructor
  std::wstring DiskName;
  bool Unformatted = false;
  bool WriteProtected = false;
  unsigned char SmartVerSupport;
  unsigned char WPAccumulated = 0;

  friend struct CSmartInfoReaderLayout;
};
