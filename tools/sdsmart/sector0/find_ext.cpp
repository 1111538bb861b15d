// SPDX-License-Identifier: MIT
// ext2/3/4 superblocks (1024 bytes into the file system) tell its length,
// and the file system can be walked from the root directory to /etc/fstab
// without mounting it: group descriptors, inodes, extent trees or block maps.
#include "sector0/partition_finder.h"

#include <cstring>

namespace sdsmart_tool {
namespace {

constexpr size_t kMostFile = 64 * 1024, kMostDirectory = 1024 * 1024;

uint32_t Le16(const uint8_t *p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const uint8_t *p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }

constexpr uint32_t kIncompatExtents = 0x40, kIncompat64Bit = 0x80, kIncompatFlexBg = 0x200;
constexpr uint32_t kCompatJournal = 0x4;
constexpr uint32_t kInodeExtents = 0x80000, kInodeInline = 0x10000000;

struct ExtLayout {
  uint64_t Start = 0, Blocks = 0;
  uint32_t BlockSize = 0, FirstDataBlock = 0, InodesPerGroup = 0, InodeSize = 0, DescSize = 0;
  uint32_t Incompat = 0, Compat = 0;
  std::string Label;
};

std::optional<ExtLayout> ParseSuperblock(const CardReader &card, uint64_t lba) {
  uint8_t s[1024];
  if (!card.Sector(lba + 2, s) || Le16(s + 56) != 0xEF53 || !card.Sector(lba + 3, s + 512))
    return std::nullopt;
  ExtLayout e;
  const uint32_t log = Le32(s + 24);
  e.Start = lba;
  e.Incompat = Le32(s + 96);
  e.Compat = Le32(s + 92);
  e.Blocks = Le32(s + 4) | (e.Incompat & kIncompat64Bit ? uint64_t(Le32(s + 336)) << 32 : 0);
  e.BlockSize = log <= 6 ? 1024u << log : 0;
  e.FirstDataBlock = Le32(s + 20);
  e.InodesPerGroup = Le32(s + 40);
  e.InodeSize = Le32(s + 76) >= 1 ? Le16(s + 88) : 128;
  e.DescSize = e.Incompat & kIncompat64Bit ? Le16(s + 254) : 32;
  e.Label.assign(reinterpret_cast<const char *>(s + 120),
                 strnlen(reinterpret_cast<const char *>(s + 120), 16));
  if (e.BlockSize == 0 || e.Blocks == 0 || e.InodesPerGroup == 0 || e.InodeSize < 128 ||
      e.DescSize < 32)
    return std::nullopt;
  return e;
}

// Bytes of the file system from `byte`, at most `n`.
std::string ReadBytes(const CardReader &card, const ExtLayout &e, uint64_t byte, size_t n) {
  std::string out;
  uint8_t s[512];
  for (uint64_t lba = e.Start + byte / 512; out.size() < n + byte % 512 && card.Sector(lba, s);
       ++lba)
    out.append(reinterpret_cast<char *>(s), 512);
  out.erase(0, std::min<size_t>(out.size(), byte % 512));
  out.resize(std::min(out.size(), n));
  return out;
}

struct Run {
  uint64_t Logical, Physical, Length; // in blocks
};

// The runs of an extent tree node (60 bytes in the inode, a block below).
void ExtentRuns(const CardReader &card, const ExtLayout &e, const uint8_t *node, int depth,
                std::vector<Run> &runs) {
  if (Le16(node) != 0xF30A || depth > 5)
    return;
  const uint32_t entries = Le16(node + 2), below = Le16(node + 6);
  for (uint32_t i = 0; i < entries && i < 340; ++i) {
    const uint8_t *x = node + 12 + 12 * i;
    if (below == 0) {
      const uint32_t length = Le16(x + 4);
      runs.push_back({Le32(x), (uint64_t(Le16(x + 6)) << 32) | Le32(x + 8),
                      length > 32768 ? length - 32768 : length});
      continue;
    }
    const uint64_t leaf = (uint64_t(Le16(x + 8)) << 32) | Le32(x + 4);
    const std::string block = ReadBytes(card, e, leaf * e.BlockSize, e.BlockSize);
    if (block.size() == e.BlockSize)
      ExtentRuns(card, e, reinterpret_cast<const uint8_t *>(block.data()), depth + 1, runs);
  }
}

// The contents of inode `number`, at most `most` bytes.
std::string InodeData(const CardReader &card, const ExtLayout &e, uint32_t number, size_t most) {
  const uint32_t group = (number - 1) / e.InodesPerGroup, index = (number - 1) % e.InodesPerGroup;
  const uint64_t table =
      uint64_t(e.FirstDataBlock + 1) * e.BlockSize + uint64_t(group) * e.DescSize;
  const std::string desc = ReadBytes(card, e, table, e.DescSize);
  if (desc.size() < 32)
    return "";
  const auto *d = reinterpret_cast<const uint8_t *>(desc.data());
  const uint64_t inodes = Le32(d + 8) | (e.DescSize >= 64 ? uint64_t(Le32(d + 0x28)) << 32 : 0);
  const std::string inode =
      ReadBytes(card, e, inodes * e.BlockSize + uint64_t(index) * e.InodeSize, 128);
  if (inode.size() < 128)
    return "";
  const auto *i = reinterpret_cast<const uint8_t *>(inode.data());
  const size_t size = std::min<size_t>(Le32(i + 4), most);
  const uint32_t flags = Le32(i + 32);
  if (flags & kInodeInline)
    return inode.substr(40, std::min<size_t>(size, 60));
  std::vector<Run> runs;
  if (flags & kInodeExtents)
    ExtentRuns(card, e, i + 40, 0, runs);
  else
    for (uint32_t b = 0; b < 12; ++b) // direct blocks: enough for a directory or fstab
      if (Le32(i + 40 + 4 * b))
        runs.push_back({b, Le32(i + 40 + 4 * b), 1});
  std::string data(size, '\0');
  for (const Run &r : runs)
    for (uint64_t b = 0; b < r.Length && (r.Logical + b) * e.BlockSize < size; ++b) {
      const uint64_t at = (r.Logical + b) * e.BlockSize;
      const std::string block = ReadBytes(card, e, (r.Physical + b) * e.BlockSize, e.BlockSize);
      const size_t n = std::min<size_t>(block.size(), size - at);
      data.replace(at, n, block, 0, n);
    }
  return data;
}

// The inode of `name` in a directory's contents; 0 when it is not there.
uint32_t FindEntry(const std::string &dir, const std::string &name) {
  for (size_t at = 0; at + 8 <= dir.size();) {
    const auto *d = reinterpret_cast<const uint8_t *>(dir.data() + at);
    const uint32_t length = Le16(d + 4), nameLength = d[6];
    if (length < 8) // damaged: try the next 1 KiB, the smallest block
      at = (at / 1024 + 1) * 1024;
    else {
      if (Le32(d) != 0 && at + 8 + nameLength <= dir.size() &&
          dir.compare(at + 8, nameLength, name) == 0 && nameLength == name.size())
        return Le32(d);
      at += length;
    }
  }
  return 0;
}

} // namespace

std::optional<FoundPartition> ExtAt(const CardReader &card, uint64_t lba) {
  const std::optional<ExtLayout> e = ParseSuperblock(card, lba);
  if (!e)
    return std::nullopt;
  FoundPartition p;
  p.Start = lba;
  p.Sectors = e->Blocks * (e->BlockSize / 512);
  p.Type = 0x83;
  p.Kind = e->Incompat & (kIncompatExtents | kIncompat64Bit | kIncompatFlexBg) ? "ext4"
           : e->Compat & kCompatJournal                                        ? "ext3"
                                                                               : "ext2";
  p.Label = e->Label;
  return p;
}

std::optional<std::string> ExtFileText(const CardReader &card, const FoundPartition &p,
                                       const std::string &path) {
  const std::optional<ExtLayout> e = ParseSuperblock(card, p.Start);
  if (!e)
    return std::nullopt;
  uint32_t inode = 2; // the root directory
  for (size_t at = 0; at <= path.size();) {
    const size_t slash = std::min(path.find('/', at), path.size());
    inode = FindEntry(InodeData(card, *e, inode, kMostDirectory), path.substr(at, slash - at));
    if (inode == 0)
      return std::nullopt;
    at = slash + 1;
  }
  return InodeData(card, *e, inode, kMostFile);
}

} // namespace sdsmart_tool
