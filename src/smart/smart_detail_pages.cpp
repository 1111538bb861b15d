#include "smart/smart_info_header.h"
#include "smart/smart_info_reader.h"
#include "smart/smart_reader_errors.h"
#include "smart/special_mode2_cmd.h"

#include <cstring>

namespace {

constexpr unsigned int kSector = 512;
constexpr unsigned int kEntriesPerSector = kSector / 2;
// DetailSectorCountEx counts at most 0xFFFF sectors (0xFFFF itself means
// "use DetailSectorCount", which is smaller still).
constexpr unsigned long long kLargestDetailTable = 0xFFFFull * kEntriesPerSector;
constexpr unsigned int kPmtPolls = 5000;
constexpr unsigned int kEraseCountCeiling = 100000;

unsigned int Be16(const unsigned char *p, size_t i) {
  return static_cast<unsigned int>(p[2 * i]) << 8 | p[2 * i + 1];
}

unsigned int DetailAddress(unsigned int k, unsigned char type) {
  return 256 * (k + 1) + 128 + type;
}

} // namespace

void CSmartInfoReader::ReadDataOfSmartVer2(unsigned char functionSelect) {
  bool reentered = false;
  WPAccumulated = 0;
  try {
    Mode2Cmd->EnterSpecialMode2(0, 2);
    if (functionSelect == 8) {
      ReadHeader(DetailPmtClean);
      if (!Clean_PMT_Data())
        throw MakeError(Errors::ForceErasePmtFailed);
    } else if (functionSelect == 0) {
      ReadHeader(DetailNone);
    } else {
      if (functionSelect & 1) {
        Mode2Cmd->LeaveSpecialMode2(0);
        Mode2Cmd->EnterSpecialMode2(0, 2);
        reentered = true;
        ReadHeader(DetailEraseCount);
        ReadEraseCountData(2, nullptr);
      }
      if (functionSelect & 2) {
        if (reentered) {
          Mode2Cmd->LeaveSpecialMode2(0);
          Mode2Cmd->EnterSpecialMode2(0, 2);
        }
        ReadHeader(DetailReadCount);
        if (GlobalReadCount)
          ReadGlobalReadCountData(2, nullptr);
        else
          ReadNativeReadCountData(2, nullptr);
        reentered = true;
      }
      if (functionSelect & 4) {
        if (reentered) {
          Mode2Cmd->LeaveSpecialMode2(0);
          Mode2Cmd->EnterSpecialMode2(0, 2);
        }
        ReadHeader(DetailRuntimeBad);
        ReadRuntimeBadData(2, nullptr);
      }
    }
    Mode2Cmd->LeaveSpecialMode2(0);
  } catch (const CError &error) {
    Mode2Cmd->LeaveSpecialMode2(0);
    throw SmartErrorCopy(error);
  } catch (...) {
    // Not one of ours (out of memory, ...): still never leave the card in
    // special mode.
    try {
      Mode2Cmd->LeaveSpecialMode2(0);
    } catch (...) {
    }
    throw;
  }
  Header.WPStatus = WPAccumulated;
}

bool CSmartInfoReader::Clean_PMT_Data() {
  unsigned char sector[kSector] = {};
  for (unsigned int i = 0; i < kPmtPolls && !IsTerminated(); ++i) {
    Mode2Cmd->Cmd18(DetailAddress(i, DetailPmtClean), sector, kSector);
    if (!IsBusySmartHeader(sector))
      return true;
    ThrowIfTerminated();
  }
  return false;
}

// A damaged or hostile header must not size a table beyond the data the card
// sends for it: the entry count may not exceed the entries its detail sectors
// describe, and a unit count of zero (which wraps the count) is damage too.
void CSmartInfoReader::CheckDetailFits(bool globalReadCounts) const {
  unsigned long long units = 1;
  if (Header.VBsPerUnit != 0) {
    units = Header.TotalVBCount / Header.VBsPerUnit;
    if (units == 0)
      throw SmartContentsError();
  }
  const unsigned long long entries =
      Header.BaseVBEntryCount +
      static_cast<unsigned long long>(Header.ExtraVBEntriesPerUnit) * (units - 1);
  if (globalReadCounts) {
    // The global format is sparse: a VB that no pair names keeps "no count",
    // and remainder bytes are taken modulo the remainder area, so the entry
    // count is not bounded by its own sectors; only the remainder area must
    // exist. It is still bounded by the largest table any detail format can
    // describe, so a hostile header cannot size a table of gigabytes.
    if (Header.GlobalRemainderSectorCount == 0 || entries > kLargestDetailTable)
      throw SmartContentsError();
    return;
  }
  const unsigned long long capacity =
      static_cast<unsigned long long>(DetailSectors) * kEntriesPerSector;
  if (entries > capacity)
    throw SmartContentsError();
}

void CSmartInfoReader::InitialVBInfo(unsigned char type) {
  CheckDetailFits(type == DetailReadCount && GlobalReadCount);
  VBEntryCount = SmartVBEntryCount(Header);
  if (type == DetailEraseCount)
    EraseCounts.assign(VBEntryCount, 0);
  else if (type == DetailReadCount)
    ReadCounts.assign(VBEntryCount, ReadCountNone);
  else
    RuntimeBadStatus.assign(VBEntryCount, 0);
  Marks.assign(VBEntryCount, 1);
}

// The buffer grows with the sectors the card actually delivers, so a header
// that announces more than the card sends costs no memory up front.
void CSmartInfoReader::ReadDetailSectors(unsigned char type, std::vector<unsigned char> &out) {
  out.clear();
  for (unsigned int k = 0; k < DetailSectors && !IsTerminated(); ++k) {
    out.resize(out.size() + kSector);
    ReadData(out.data() + static_cast<size_t>(k) * kSector, 1, DetailAddress(k, type),
             k == 0 ? WaitFirstDetailBusy : false);
  }
  ThrowIfTerminated();
}

void CSmartInfoReader::TakeDetailData(const unsigned char *data, size_t dataSize, size_t bytes,
                                      std::vector<unsigned char> &out) const {
  if (bytes == 0) {
    out.clear();
    return;
  }
  if (data == nullptr || dataSize < bytes)
    throw SmartContentsError();
  out.assign(data, data + bytes);
}

void CSmartInfoReader::ReadEraseCountData(unsigned char version, const unsigned char *data,
                                          size_t dataSize) {
  CheckDetailFits(false);
  std::vector<unsigned char> detail;
  if (version == 2)
    ReadDetailSectors(DetailEraseCount, detail);
  else if (version == 3)
    TakeDetailData(data, dataSize, static_cast<size_t>(DetailSectors) * kSector, detail);
  else {
    InitialVBInfo(DetailEraseCount);
    throw MakeError(Errors::WrongVersionEraseCount);
  }
  // Tables are sized once the data are in hand.
  InitialVBInfo(DetailEraseCount);
  for (size_t i = 0; i < EraseCounts.size(); ++i) {
    const unsigned int v = Be16(detail.data(), i);
    if (v == 0xFFFE) {
      EraseCounts[i] = EraseCountUnused;
      continue;
    }
    const unsigned int sum = v + Header.EraseCountOffset;
    EraseCounts[i] = sum <= kEraseCountCeiling ? sum : v;
  }
}

void CSmartInfoReader::ReadNativeReadCountData(unsigned char version, const unsigned char *data,
                                               size_t dataSize) {
  // Native entries come one per VB from the detail sectors alone, whatever
  // format an earlier header announced.
  CheckDetailFits(false);
  std::vector<unsigned char> detail;
  if (version == 2)
    ReadDetailSectors(DetailReadCount, detail);
  else if (version == 3)
    TakeDetailData(data, dataSize, static_cast<size_t>(DetailSectors) * kSector, detail);
  else {
    InitialVBInfo(DetailReadCount);
    throw MakeError(Errors::WrongVersionNativeReadCount);
  }
  // Tables are sized once the data are in hand.
  InitialVBInfo(DetailReadCount);
  for (size_t i = 0; i < ReadCounts.size(); ++i) {
    const unsigned int v = Be16(detail.data(), i);
    ReadCounts[i] = v == 0xFFFE ? ReadCountNone : v * 255;
  }
}

void CSmartInfoReader::ReadRuntimeBadData(unsigned char version, const unsigned char *data,
                                          size_t dataSize) {
  CheckDetailFits(false);
  std::vector<unsigned char> detail;
  if (version == 2)
    ReadDetailSectors(DetailRuntimeBad, detail);
  else if (version == 3)
    TakeDetailData(data, dataSize, static_cast<size_t>(DetailSectors) * kSector, detail);
  else {
    InitialVBInfo(DetailRuntimeBad);
    throw MakeError(Errors::WrongVersionRunTimeBad);
  }
  // Tables are sized once the data are in hand.
  InitialVBInfo(DetailRuntimeBad);
  ECCUncorrectableCnt = 0;
  for (size_t i = 0; i < RuntimeBadStatus.size(); ++i) {
    const unsigned int v = Be16(detail.data(), i);
    RuntimeBadStatus[i] = static_cast<unsigned char>(v & 0xFF);
    if (v == 2)
      ++ECCUncorrectableCnt;
  }
}

void CSmartInfoReader::ReadGlobalReadCountData(unsigned char version, const unsigned char *data,
                                               size_t dataSize) {
  CheckDetailFits(true);
  const size_t remainderBytes = static_cast<size_t>(Header.GlobalRemainderSectorCount) * kSector;
  std::vector<unsigned char> remainder(remainderBytes, 0xFF);
  std::vector<unsigned char> pages; // the index and value sectors the card delivered
  const unsigned char *pairs = nullptr;
  unsigned int pairSectors = 0;
  bool stopped = false;
  if (version == 2) {
    for (; pairSectors < DetailSectors && !IsTerminated(); ++pairSectors) {
      pages.resize(pages.size() + kSector);
      ReadData(pages.data() + static_cast<size_t>(pairSectors) * kSector, 1,
               DetailAddress(pairSectors, DetailReadCount),
               pairSectors == 0 ? WaitFirstDetailBusy : false);
    }
    for (unsigned int r = 0; r < Header.GlobalRemainderSectorCount && !IsTerminated(); ++r)
      ReadData(remainder.data() + static_cast<size_t>(r) * kSector, 1,
               DetailAddress(DetailSectors + r, DetailReadCount), false);
    stopped = IsTerminated();
    pairs = pages.data();
  } else if (version == 3) {
    const size_t pairBytes = static_cast<size_t>(DetailSectors) * kSector;
    if (data == nullptr || dataSize < pairBytes + remainderBytes) // remainderBytes > 0 here
      throw SmartContentsError();
    pairs = data;
    pairSectors = DetailSectors;
    std::memcpy(remainder.data(), data + pairBytes, remainderBytes);
  } else {
    InitialVBInfo(DetailReadCount);
    throw MakeError(Errors::WrongVersionGlobalReadCount);
  }

  InitialVBInfo(DetailReadCount);
  // Index j of an index sector goes with value j of the value sector after it;
  // an index sector without its value sector is not used.
  for (unsigned int k = 1; k < pairSectors; k += 2) {
    const unsigned char *index = pairs + static_cast<size_t>(k - 1) * kSector;
    const unsigned char *value = pairs + static_cast<size_t>(k) * kSector;
    for (unsigned int j = 0; j < kEntriesPerSector; ++j) {
      const unsigned int vb = Be16(index, j);
      const unsigned int count = Be16(value, j);
      if (vb == 0xFFFF || count == 0xFFFF || vb >= VBEntryCount)
        continue;
      ReadCounts[vb] = count * 255;
    }
  }
  for (size_t v = 0; v < ReadCounts.size(); ++v) {
    const unsigned char b = remainder[v % remainderBytes];
    if (ReadCounts[v] != ReadCountNone && b != 0xFF)
      ReadCounts[v] += b;
  }
  // What was read is merged; the stop itself is still reported.
  if (stopped)
    throw MakeError(Errors::UserTerminated);
}

// The two-parameter parsers take their data from a read-back of this reader:
// after its answer sector there are at most ReadUnits - 1 sectors.
size_t CSmartInfoReader::DeliveredDetailBytes() const {
  return ReadUnits > 0 ? static_cast<size_t>(ReadUnits - 1) * SectorSize : 0;
}

void CSmartInfoReader::ReadEraseCountData(unsigned char version, unsigned char *data) {
  ReadEraseCountData(version, data, DeliveredDetailBytes());
}

void CSmartInfoReader::ReadNativeReadCountData(unsigned char version, unsigned char *data) {
  ReadNativeReadCountData(version, data, DeliveredDetailBytes());
}

void CSmartInfoReader::ReadGlobalReadCountData(unsigned char version, unsigned char *data) {
  ReadGlobalReadCountData(version, data, DeliveredDetailBytes());
}

void CSmartInfoReader::ReadRuntimeBadData(unsigned char version, unsigned char *data) {
  ReadRuntimeBadData(version, data, DeliveredDetailBytes());
}
