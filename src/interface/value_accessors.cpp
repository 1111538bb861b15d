// SPDX-License-Identifier: MIT
// SMART values of the last acquisition, read from the session's header copy
// and tables. None touches the card and none fails.
#include "interface/session.h"

#include <cmath>
#include <cstring>
#include <vector>

extern "C" unsigned int GetAbnormalShutdownCount() { return _Header.AbnormalShutdownCount; }
extern "C" unsigned int GetECCUncorrectableCount() { return _ECCUncorrectableCnt; }
extern "C" unsigned int GetPowerCycleCount() { return _Header.PowerCycleCount; }
extern "C" unsigned int GetInitialBadBlockCount() { return _Header.InitialBadBlockCount; }

// Block totals are counted in virtual blocks on the card; a VB is BlocksPerVB
// physical blocks. The products wrap in 32 bits like the card's own counters.
extern "C" unsigned int GetLaterBadBlockCount() {
  return static_cast<unsigned int>(_Header.BlocksPerVB) * _Header.LaterBadBlockCount;
}
extern "C" unsigned int GetMinSpareBlockCount() {
  return static_cast<unsigned int>(_Header.BlocksPerVB) * _Header.MinSpareBlockCount;
}
extern "C" unsigned int GetTotalEraseCount() {
  return static_cast<unsigned int>(_Header.BlocksPerVB) * _Header.TotalEraseCount;
}

// Erases per virtual block, rounded up; 0 when the header names no blocks.
extern "C" unsigned int GetAverageEraseCount() {
  const uint64_t total = _Header.TotalEraseCount;
  const uint64_t blocks = _Header.TotalVBCount;
  if (blocks == 0)
    return 0;
  return static_cast<unsigned int>((total + blocks - 1) / blocks);
}

// Share of the rated endurance already used, in percent. The rated total
// (cycles x blocks) can pass 2^32, so it is formed in 64 bits.
extern "C" double GetLifeMonitor() {
  const double erased = static_cast<double>(_Header.TotalEraseCount);
  const double rated = static_cast<double>(static_cast<uint64_t>(_Header.PECycleCount) *
                                           static_cast<uint64_t>(_Header.TotalVBCount));
  return (100.0 * erased) / rated;
}

extern "C" float GetRemainingLife() { return static_cast<float>(100.0 - GetLifeMonitor()); }

extern "C" unsigned int GetTotalVBCountOfFlash() { return _Header.TotalVBCount; }
extern "C" unsigned int GetTotalPhysicalBlockCountOfFlash() {
  return static_cast<unsigned int>(_Header.BlocksPerVB) * _Header.TotalVBCount;
}
extern "C" unsigned int GetPECycleCount() { return _Header.PECycleCount; }
extern "C" unsigned int GetTotalCECount() {
  return static_cast<unsigned int>(_Header.CECount) * _Header.BlocksPerVB;
}
extern "C" unsigned char GetECCCapacity() { return _Header.ECCCapacity; }
extern "C" unsigned char GetWPStatus() { return _Header.WPStatus; }
extern "C" unsigned char GetHeaderVersion() { return _Header.HeaderVersion; }
extern "C" unsigned int GetMinEraseCount() { return _MinEraseCount; }
extern "C" unsigned int GetMaxEraseCount() { return _MaxEraseCount; }
extern "C" unsigned short GetMinEraseCountFromHeader() { return _Header.MinEraseCount; }
extern "C" unsigned short GetMaxEraseCountFromHeader() { return _Header.MaxEraseCount; }
extern "C" unsigned short GetEraseCountOffset() { return _Header.EraseCountOffset; }

namespace {

// byteCount is always set, so a host may ask with size 0 for the size needed.
int CopyTable(const std::vector<unsigned int> &table, char *buffer, unsigned int size,
              unsigned int &byteCount) {
  byteCount = static_cast<unsigned int>(table.size() * sizeof(unsigned int));
  if (byteCount > size)
    return 1;
  if (byteCount != 0)
    std::memcpy(buffer, table.data(), byteCount);
  return 0;
}

} // namespace

int GetDetailEraseCount(char *buffer, unsigned int size, unsigned int &byteCount) {
  return CopyTable(_EraseCount, buffer, size, byteCount);
}

int GetDetailReadCount(char *buffer, unsigned int size, unsigned int &byteCount) {
  return CopyTable(_ReadCount, buffer, size, byteCount);
}
