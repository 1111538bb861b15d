// SPDX-License-Identifier: MIT
// FAT12/16/32 and exFAT boot sectors: the file system's own fields tell its
// length, and the root directory of a FAT volume holds the boot files of a
// single-board computer (cmdline.txt).
#include "sector0/partition_finder.h"

#include <sdsmart/partition_table.h>

#include <cstring>

namespace sdsmart_tool {
namespace {

constexpr size_t kMostText = 64 * 1024;

uint32_t Le16(const uint8_t *p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const uint8_t *p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const uint8_t *p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// Boot code a formatter writes only when it makes a volume bootable: not all
// one byte, not the "not a bootable disk" stub mkfs puts there.
bool HasBootCode(const uint8_t *b, size_t from) {
  bool varied = false;
  const size_t end = PartitionTable::SignatureAt;
  for (size_t i = from + 1; i < end && !varied; ++i)
    varied = b[i] != b[from];
  const std::string code(reinterpret_cast<const char *>(b + from), end - from);
  return varied && code.find("not a bootable") == std::string::npos;
}

std::string Label(const uint8_t *at) {
  std::string label(reinterpret_cast<const char *>(at), 11);
  while (!label.empty() && label.back() == ' ')
    label.pop_back();
  return label == "NO NAME" ? "" : label;
}

// The layout of a FAT volume, from its boot sector.
struct FatLayout {
  unsigned Bits = 0; // 12, 16 or 32
  uint64_t Start = 0, Total = 0, FatStart = 0, RootStart = 0, RootSectors = 0, DataStart = 0;
  uint32_t PerCluster = 0, RootCluster = 0;
};

std::optional<FatLayout> ParseFat(const uint8_t *b, uint64_t lba) {
  const uint32_t perCluster = b[13], reserved = Le16(b + 14), fats = b[16];
  const bool jump = (b[0] == 0xEB && b[2] == 0x90) || b[0] == 0xE9;
  if (!PartitionTable::HasSignature(b) || !jump || Le16(b + 11) != 512 || perCluster == 0 ||
      (perCluster & (perCluster - 1)) != 0 || reserved == 0 || fats < 1 || fats > 2)
    return std::nullopt;
  FatLayout f;
  f.Start = lba;
  f.Total = Le16(b + 19) ? Le16(b + 19) : Le32(b + 32);
  const uint64_t fatSize = Le16(b + 22) ? Le16(b + 22) : Le32(b + 36);
  f.PerCluster = perCluster;
  f.FatStart = lba + reserved;
  f.RootStart = f.FatStart + fats * fatSize;
  f.RootSectors = (Le16(b + 17) * 32 + 511) / 512;
  f.DataStart = f.RootStart + f.RootSectors;
  if (f.Total == 0 || fatSize == 0 || f.DataStart - lba >= f.Total)
    return std::nullopt;
  const uint64_t clusters = (f.Total - (f.DataStart - lba)) / perCluster;
  f.Bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
  if (f.Bits == 32) {
    f.RootCluster = Le32(b + 44);
    f.RootSectors = 0;
  }
  return f;
}

// The FAT entry of `cluster`: the next one of its chain.
uint32_t NextCluster(const CardReader &card, const FatLayout &f, uint32_t cluster) {
  const uint64_t byte = f.Bits == 12 ? cluster + cluster / 2 : cluster * (f.Bits / 8ull);
  uint8_t s[1024];
  if (!card.Sector(f.FatStart + byte / 512, s) ||
      !card.Sector(f.FatStart + byte / 512 + 1, s + 512))
    return 0;
  const uint8_t *p = s + byte % 512;
  if (f.Bits == 32)
    return Le32(p) & 0x0FFFFFFF;
  if (f.Bits == 16)
    return Le16(p);
  return cluster & 1 ? Le16(p) >> 4 : Le16(p) & 0xFFF;
}

bool EndOfChain(const FatLayout &f, uint32_t cluster) {
  const uint32_t end = f.Bits == 32 ? 0x0FFFFFF8 : f.Bits == 16 ? 0xFFF8 : 0xFF8;
  return cluster < 2 || cluster >= end;
}

// The sectors of a cluster chain (the FAT12/16 root directory when first is
// 0), at most `most` bytes of them.
std::string ReadChain(const CardReader &card, const FatLayout &f, uint32_t first, size_t most) {
  std::string data;
  uint8_t s[512];
  if (first == 0) {
    for (uint64_t i = 0; i < f.RootSectors && data.size() < most && card.Sector(f.RootStart + i, s);
         ++i)
      data.append(reinterpret_cast<char *>(s), 512);
    return data;
  }
  for (uint32_t c = first, hops = 0; !EndOfChain(f, c) && data.size() < most && hops < 4096;
       c = NextCluster(card, f, c), ++hops)
    for (uint32_t i = 0; i < f.PerCluster && data.size() < most; ++i) {
      if (!card.Sector(f.DataStart + uint64_t(c - 2) * f.PerCluster + i, s))
        return data;
      data.append(reinterpret_cast<char *>(s), 512);
    }
  return data;
}

} // namespace

std::optional<FoundPartition> FatAt(const CardReader &card, uint64_t lba) {
  uint8_t b[512];
  if (!card.Sector(lba, b) || !PartitionTable::HasSignature(b))
    return std::nullopt;
  FoundPartition p;
  p.Start = lba;
  if (std::memcmp(b + 3, "EXFAT   ", 8) == 0) {
    const uint64_t offset = Le64(b + 64);
    if (b[108] != 9 || (offset != 0 && offset != lba))
      return std::nullopt; // 512-byte sectors only; a copy elsewhere is not the volume
    p.Sectors = Le64(b + 72);
    p.Type = 0x07;
    p.Kind = "exFAT";
    p.Boot = HasBootCode(b, 120);
    return p.Sectors ? std::optional<FoundPartition>(p) : std::nullopt;
  }
  const std::optional<FatLayout> f = ParseFat(b, lba);
  if (!f)
    return std::nullopt;
  p.Sectors = f->Total;
  p.Kind = "FAT" + std::to_string(f->Bits);
  p.Type = f->Bits == 32 ? 0x0C : f->Bits == 16 ? 0x06 : 0x01;
  const size_t extended = f->Bits == 32 ? 66 : 38; // the extended boot signature
  p.Label = b[extended] == 0x29 ? Label(b + extended + 5) : "";
  p.Boot = HasBootCode(b, f->Bits == 32 ? 90 : 62);
  return p;
}

std::optional<std::string> FatFileText(const CardReader &card, const FoundPartition &p,
                                       const std::string &name) {
  uint8_t b[512];
  if (!card.Sector(p.Start, b))
    return std::nullopt;
  const std::optional<FatLayout> f = ParseFat(b, p.Start);
  if (!f)
    return std::nullopt;
  const std::string dir = ReadChain(card, *f, f->RootCluster, kMostText);
  for (size_t at = 0; at + 32 <= dir.size() && dir[at] != '\0'; at += 32) {
    const auto *e = reinterpret_cast<const uint8_t *>(dir.data() + at);
    if (e[0] == 0xE5 || (e[11] & 0x18) != 0 || dir.compare(at, 11, name) != 0)
      continue; // deleted, a long name's part, a label or a directory
    const uint32_t first = (f->Bits == 32 ? Le16(e + 20) << 16 : 0) | Le16(e + 26);
    const size_t size = Le32(e + 28);
    if (first == 0)
      return std::string(); // an empty file has no cluster
    std::string text = ReadChain(card, *f, first, std::min(size, kMostText));
    text.resize(std::min(text.size(), size));
    return text;
  }
  return std::nullopt;
}

} // namespace sdsmart_tool
