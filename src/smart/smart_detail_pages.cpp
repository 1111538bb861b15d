// SPDX-License-Identifier: MIT
#include "sdsmart/smart_info_header.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/card_protocol.h"
#include "smart/smart_reader_errors.h"

#include <cstring>
#include <vector>

namespace {

constexpr unsigned int kSector = CardProtocol::SectorBytes;
constexpr unsigned int kEntriesPerSector = CardProtocol::EntriesPerSector;
constexpr unsigned int kEraseCountCeiling = 100000;

unsigned int Be16(const unsigned char *p, size_t i) {
  return static_cast<unsigned int>(p[2 * i]) << 8 | p[2 * i + 1];
}

CError UserTerminatedError() { return MakeError(Errors::UserTerminated); }

// Decoders of the entries of one detail sector (card values, big-endian
// 16-bit): plain loops the compiler vectorises (a size_t index keeps 2i
// linear for it), each built for AVX2 processors and for every other; the
// loader picks the one for the processor at hand.
#define SDSMART_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

// A card value and the 16-bit offset add up to at most 0x1FFFE: signed
// arithmetic cannot overflow, and signed compares vectorise without the
// detour unsigned ones take.
SDSMART_VECTOR_CLONES void DecodeEraseCounts(const unsigned char *sector, size_t n, int offset,
                                             unsigned int *out) {
  for (size_t i = 0; i < n; ++i) {
    const int value = static_cast<int>(Be16(sector, i));
    const int sum = value + offset;
    const int kept = sum <= static_cast<int>(kEraseCountCeiling) ? sum : value;
    out[i] = value == CardProtocol::UnusedEntry ? CSmartInfoReader::EraseCountUnused
                                                : static_cast<unsigned int>(kept);
  }
}

SDSMART_VECTOR_CLONES void DecodeNativeReadCounts(const unsigned char *sector, size_t n,
                                                  unsigned int *out) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned int value = Be16(sector, i);
    out[i] = value == CardProtocol::UnusedEntry ? CSmartInfoReader::ReadCountNone : value * 255;
  }
}

// The status keeps the low byte; only the full value 2 is an uncorrectable
// ECC error. Returns the number of those.
SDSMART_VECTOR_CLONES unsigned int DecodeRuntimeStatus(const unsigned char *sector, size_t n,
                                                       unsigned char *out) {
  unsigned int uncorrectable = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned int value = Be16(sector, i);
    uncorrectable += value == 2;
    out[i] = static_cast<unsigned char>(value & 0xFF);
  }
  return uncorrectable;
}

#undef SDSMART_VECTOR_CLONES

// Decodes the entries detail sector k carries for a table of `entries` with
// `decode(sector, n, out)` and appends them: the table is written once, never
// zeroed first. Returns what `decode` tallied.
template <typename T, typename Decode>
unsigned int AppendEntries(std::vector<T> &table, unsigned int entries, unsigned int k,
                           const unsigned char *sector, Decode decode) {
  const size_t first = static_cast<size_t>(k) * kEntriesPerSector;
  if (first >= entries)
    return 0; // sectors past the table carry nothing it keeps
  const size_t n = entries - first < kEntriesPerSector ? entries - first : kEntriesPerSector;
  T decoded[kEntriesPerSector];
  const unsigned int tally = decode(sector, n, decoded);
  // Room for the whole table once the card has started to deliver: one
  // allocation, and its pages are touched only as entries arrive.
  if (table.capacity() == 0)
    table.reserve(entries);
  table.insert(table.end(), decoded, decoded + n);
  return tally;
}

// The per-VB table of one detail type, built aside from the detail data as
// each sector arrives: version 2 reads the sectors from the card (every one
// the header announces, one command each), version 3 takes them from `data`.
// `tally` adds up the decoder's tallies. False when the termination flag
// stopped the reads.
template <typename T, typename Stopped, typename Decode>
bool CollectDetail(CSmartInfoReader &reader, unsigned char version, const unsigned char *data,
                   size_t dataSize, unsigned char type, unsigned int entries, Stopped stopped,
                   std::vector<T> &table, Decode decode, unsigned int &tally) {
  const unsigned int sectors = reader.GetDetailSectors();
  if (version == 3) {
    if (sectors != 0 && (data == nullptr || dataSize / kSector < sectors))
      throw SmartContentsError();
    for (unsigned int k = 0; k < sectors && static_cast<size_t>(k) * kEntriesPerSector < entries;
         ++k)
      tally += AppendEntries(table, entries, k, data + static_cast<size_t>(k) * kSector, decode);
    return true;
  }
  unsigned char sector[kSector];
  for (unsigned int k = 0; k < sectors; ++k) {
    if (stopped())
      return false;
    reader.ReadData(sector, 1, CardProtocol::DetailSectorAddress(k, type),
                    k == 0 ? reader.IsWaitFirstDetailBusy() : false);
    tally += AppendEntries(table, entries, k, sector, decode);
  }
  return !stopped();
}

} // namespace

void CSmartInfoReader::ReadDataOfSmartVer2(unsigned char functionSelect) {
  bool reentered = false;
  WPAccumulated = 0;
  try {
    Mode2Cmd->EnterSpecialMode2(0, 2);
    using Select = CardProtocol::FunctionSelect;
    if (functionSelect == Select::PmtClean) {
      ReadHeader(DetailPmtClean);
      if (!Clean_PMT_Data())
        throw MakeError(Errors::ForceErasePmtFailed);
    } else if (functionSelect == Select::None) {
      ReadHeader(DetailNone);
    } else {
      if (functionSelect & Select::EraseCounts) {
        Mode2Cmd->LeaveSpecialMode2(0);
        Mode2Cmd->EnterSpecialMode2(0, 2);
        reentered = true;
        ReadHeader(DetailEraseCount);
        ReadEraseCountData(2, nullptr);
      }
      if (functionSelect & Select::ReadCounts) {
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
      if (functionSelect & Select::RuntimeBad) {
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
  for (unsigned int i = 0; i < CardProtocol::BusyPolls && !IsTerminated(); ++i) {
    Mode2Cmd->Cmd18(CardProtocol::DetailSectorAddress(i, DetailPmtClean), sector, kSector);
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
  uint64_t units = 1;
  const uint64_t entries = CardProtocol::DetailEntryCount(Header, &units);
  if (units == 0)
    throw SmartContentsError();
  if (globalReadCounts) {
    // The global format is sparse: a VB that no pair names keeps "no count",
    // and remainder bytes are taken modulo the remainder area, so the entry
    // count is not bounded by its own sectors; only the remainder area must
    // exist. It is still bounded by the largest table any detail format can
    // describe, so a hostile header cannot size a table of gigabytes.
    if (Header.GlobalRemainderSectorCount == 0 || entries > CardProtocol::LargestDetailTable)
      throw SmartContentsError();
    return;
  }
  const uint64_t capacity = static_cast<uint64_t>(DetailSectors) * CardProtocol::EntriesPerSector;
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

void CSmartInfoReader::ReadEraseCountData(unsigned char version, const unsigned char *data,
                                          size_t dataSize) {
  CheckDetailFits(false);
  if (version != 2 && version != 3) {
    InitialVBInfo(DetailEraseCount);
    throw MakeError(Errors::WrongVersionEraseCount);
  }
  const unsigned int entries = SmartVBEntryCount(Header);
  const int offset = Header.EraseCountOffset;
  const auto decode = [offset](const unsigned char *sector, size_t n, unsigned int *out) {
    DecodeEraseCounts(sector, n, offset, out);
    return 0u;
  };
  std::vector<unsigned int> table;
  unsigned int unusedTally = 0;
  if (!CollectDetail(
          *this, version, data, dataSize, DetailEraseCount, entries,
          [this] { return IsTerminated(); }, table, decode, unusedTally))
    throw UserTerminatedError();
  // The data are in hand: the table takes them whole.
  VBEntryCount = entries;
  EraseCounts = std::move(table);
  Marks.assign(VBEntryCount, 1);
}

void CSmartInfoReader::ReadNativeReadCountData(unsigned char version, const unsigned char *data,
                                               size_t dataSize) {
  // Native entries come one per VB from the detail sectors alone, whatever
  // format an earlier header announced.
  CheckDetailFits(false);
  if (version != 2 && version != 3) {
    InitialVBInfo(DetailReadCount);
    throw MakeError(Errors::WrongVersionNativeReadCount);
  }
  const unsigned int entries = SmartVBEntryCount(Header);
  const auto decode = [](const unsigned char *sector, size_t n, unsigned int *out) {
    DecodeNativeReadCounts(sector, n, out);
    return 0u;
  };
  std::vector<unsigned int> table;
  unsigned int unusedTally = 0;
  if (!CollectDetail(
          *this, version, data, dataSize, DetailReadCount, entries,
          [this] { return IsTerminated(); }, table, decode, unusedTally))
    throw UserTerminatedError();
  VBEntryCount = entries;
  ReadCounts = std::move(table);
  Marks.assign(VBEntryCount, 1);
}

void CSmartInfoReader::ReadRuntimeBadData(unsigned char version, const unsigned char *data,
                                          size_t dataSize) {
  CheckDetailFits(false);
  if (version != 2 && version != 3) {
    InitialVBInfo(DetailRuntimeBad);
    throw MakeError(Errors::WrongVersionRunTimeBad);
  }
  const unsigned int entries = SmartVBEntryCount(Header);
  const auto decode = DecodeRuntimeStatus;
  std::vector<unsigned char> table;
  unsigned int uncorrectable = 0;
  if (!CollectDetail(
          *this, version, data, dataSize, DetailRuntimeBad, entries,
          [this] { return IsTerminated(); }, table, decode, uncorrectable))
    throw UserTerminatedError();
  VBEntryCount = entries;
  RuntimeBadStatus = std::move(table);
  Marks.assign(VBEntryCount, 1);
  ECCUncorrectableCnt = uncorrectable;
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
    unsigned char sector[kSector];
    for (; pairSectors < DetailSectors && !IsTerminated(); ++pairSectors) {
      ReadData(sector, 1, CardProtocol::DetailSectorAddress(pairSectors, DetailReadCount),
               pairSectors == 0 ? WaitFirstDetailBusy : false);
      if (pages.capacity() == 0) // once the card has started to deliver
        pages.reserve(static_cast<size_t>(DetailSectors) * kSector);
      pages.insert(pages.end(), sector, sector + kSector);
    }
    for (unsigned int r = 0; r < Header.GlobalRemainderSectorCount && !IsTerminated(); ++r)
      ReadData(remainder.data() + static_cast<size_t>(r) * kSector, 1,
               CardProtocol::DetailSectorAddress(DetailSectors + r, DetailReadCount), false);
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
      if (vb == CardProtocol::EmptyPairSlot || count == CardProtocol::EmptyPairSlot ||
          vb >= VBEntryCount)
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
