// SPDX-License-Identifier: MIT
// What a redacted recording leaves out: the card's sector 0 as found (the
// partition table, boot code and disk signature) becomes a synthetic sector
// of the same kind; the CID's serial number and the reader's serial become
// keyed hashes; the entry string becomes a marker, in every byte the run
// sent or received.
#include "record/record.h"

#include <sdsmart/partition_table.h>
#include <sdsmart/sdsmart.h>

#include <algorithm>
#include <cstring>

namespace sdsmart_tool {
namespace {

using Bytes = std::vector<uint8_t>;

// SipHash-2-4 (Aumasson and Bernstein): a keyed hash made for short inputs.
uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

uint64_t Load64(const uint8_t *p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = v << 8 | p[i];
  return v;
}

uint64_t SipHash(const std::array<uint8_t, 16> &key, const uint8_t *in, size_t n) {
  const uint64_t k0 = Load64(key.data()), k1 = Load64(key.data() + 8);
  uint64_t v[4] = {k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull,
                   k0 ^ 0x6c7967656e657261ull, k1 ^ 0x7465646279746573ull};
  auto round = [&v] {
    v[0] += v[1], v[1] = Rotl(v[1], 13), v[1] ^= v[0], v[0] = Rotl(v[0], 32);
    v[2] += v[3], v[3] = Rotl(v[3], 16), v[3] ^= v[2];
    v[0] += v[3], v[3] = Rotl(v[3], 21), v[3] ^= v[0];
    v[2] += v[1], v[1] = Rotl(v[1], 17), v[1] ^= v[2], v[2] = Rotl(v[2], 32);
  };
  auto absorb = [&](uint64_t m) {
    v[3] ^= m;
    round(), round();
    v[0] ^= m;
  };
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    absorb(Load64(in + i));
  uint64_t last = static_cast<uint64_t>(n & 0xFF) << 56;
  for (size_t j = 0; i + j < n; ++j)
    last |= static_cast<uint64_t>(in[i + j]) << (8 * j);
  absorb(last);
  v[2] ^= 0xFF;
  round(), round(), round(), round();
  return v[0] ^ v[1] ^ v[2] ^ v[3];
}

// The CID's CRC-7 (x^7 + x^3 + 1) over its first 15 bytes.
uint8_t Crc7(const uint8_t *data, size_t n) {
  uint8_t crc = 0;
  for (size_t i = 0; i < n; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      const bool feedback = ((data[i] >> bit) ^ (crc >> 6)) & 1;
      crc = static_cast<uint8_t>((crc << 1) & 0x7F);
      if (feedback)
        crc ^= 0x09;
    }
  return crc;
}

// Every occurrence of `from` in `data` becomes `to` (same length).
void ReplaceAll(Bytes &data, const Bytes &from, const Bytes &to) {
  if (from.empty() || from == to)
    return;
  auto at = data.begin();
  while ((at = std::search(at, data.end(), from.begin(), from.end())) != data.end()) {
    std::copy(to.begin(), to.end(), at);
    at += static_cast<std::ptrdiff_t>(to.size());
  }
}

// Every sector of `data` that holds `from` holds `to` instead: sector data
// only ever carries a sector whole and in place.
void ReplaceSectors(Bytes &data, const Bytes &from, const Bytes &to) {
  for (size_t at = 0; at + from.size() <= data.size(); at += from.size())
    if (std::equal(from.begin(), from.end(), data.begin() + static_cast<std::ptrdiff_t>(at)))
      std::copy(to.begin(), to.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

template <class Edit> void EachBlob(Recording &r, Edit edit) {
  for (RecordedRequest &q : r.Requests) {
    edit(q.Out);
    edit(q.In);
  }
}

bool IsSectorZero(const RecordedRequest &q) {
  if (q.Kind == SDSMART_TRANSFER_SG_IO)
    return q.Cdb.size() >= 9 && (q.Cdb[0] == 0x28 || q.Cdb[0] == 0x2A) && q.Cdb[2] == 0 &&
           q.Cdb[3] == 0 && q.Cdb[4] == 0 && q.Cdb[5] == 0;
  return q.Kind == SDSMART_TRANSFER_MMC_CMD && q.Arg == 0 && (q.Opcode == 17 || q.Opcode == 24);
}

// The entry string, from the first enter pattern written: the entry at 0,
// mirrored at 248, 02 01 at 256.
bool FoundEntry(const Recording &r, Bytes &entry) {
  for (const RecordedRequest &q : r.Requests) {
    const Bytes &s = q.Out;
    if (!IsSectorZero(q) || s.size() < 512 || s[256] != 0x02 || s[257] != 0x01)
      continue;
    bool mirrored = true;
    for (int i = 0; i < 8; ++i)
      mirrored = mirrored && s[i] == s[255 - i];
    if (mirrored) {
      entry.assign(s.begin(), s.begin() + 8);
      return true;
    }
  }
  return false;
}

Bytes Reversed(Bytes b) {
  std::reverse(b.begin(), b.end());
  return b;
}

std::string HashedText(const std::string &text, const std::array<uint8_t, 16> &key) {
  if (text.empty())
    return text;
  char out[17];
  std::snprintf(out, sizeof out, "%016llx",
                static_cast<unsigned long long>(
                    SipHash(key, reinterpret_cast<const uint8_t *>(text.data()), text.size())));
  return out;
}

// The CID with its serial hashed (bytes 9 to 12 of an SD card's, 10 to 13
// of an eMMC's) and its CRC made anew; the bytes before the CRC are searched
// for, so a copy with a zero CRC byte is found too.
void RedactCid(Recording &r, const Bytes &cid, const std::array<uint8_t, 16> &key) {
  if (cid.size() != 16 || std::all_of(cid.begin(), cid.end(), [](uint8_t v) { return v == 0; }))
    return;
  Bytes hashed = cid;
  const uint32_t serial = HashedSerial(cid, key);
  const size_t serialAt = r.Card.Type == "MMC" ? 10 : 9;
  for (size_t i = 0; i < 4; ++i)
    hashed[serialAt + i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
  hashed[15] = static_cast<uint8_t>(Crc7(hashed.data(), 15) << 1 | 1);
  const Bytes from(cid.begin(), cid.begin() + 15), to(hashed.begin(), hashed.begin() + 15);
  EachBlob(r, [&](Bytes &b) {
    ReplaceAll(b, cid, hashed);
    ReplaceAll(b, from, to);
  });
  ReplaceAll(r.Card.Cid, cid, hashed);
}

} // namespace

void NoteSector0(Recording &r) {
  for (const RecordedRequest &q : r.Requests) {
    if (!IsSectorZero(q))
      continue;
    if (!q.Out.empty() || q.In.size() < 512 || q.Result != 0)
      return;
    std::copy(q.In.begin(), q.In.begin() + 512, r.Card.Sector0.begin());
    r.Card.Sector0Known = true;
    return;
  }
}

uint32_t HashedSerial(const std::vector<uint8_t> &cid, const std::array<uint8_t, 16> &key) {
  if (cid.size() < 15)
    return 0;
  return static_cast<uint32_t>(SipHash(key, cid.data(), 15));
}

std::array<uint8_t, 512> SyntheticSector0(const std::array<uint8_t, 512> &original) {
  std::array<uint8_t, 512> s{};
  if (std::all_of(original.begin(), original.end(), [](uint8_t b) { return b == 0; }))
    return s; // an empty sector stays empty
  using namespace PartitionTable;
  const bool signature = HasSignature(original.data());
  bool table = false;
  for (size_t p = 0; p < EntryCount; ++p)
    table = table || Entry(original.data(), p)[EntryTypeAt] != 0;
  if (signature && table) {
    // A partition table: the same partitions (type, start, length); no boot
    // code, no disk signature, no CHS values.
    for (size_t p = 0; p < EntryCount; ++p) {
      const size_t at = EntriesAt + EntryBytes * p;
      s[at + EntryTypeAt] = original[at + EntryTypeAt];
      std::copy(original.begin() + at + EntryFirstLbaAt, original.begin() + at + EntryBytes,
                s.begin() + at + EntryFirstLbaAt);
    }
  } else if (signature) {
    // A boot sector without a partition table: its jump only.
    std::copy(original.begin(), original.begin() + 3, s.begin());
  } else {
    // Other data.
    const char text[] = "synthetic sector 0 ";
    for (size_t i = 0; i < SignatureAt; ++i)
      s[i] = static_cast<uint8_t>(text[i % (sizeof text - 1)]);
    return s;
  }
  std::copy(Signature.begin(), Signature.end(), s.begin() + SignatureAt);
  return s;
}

void Redact(Recording &r, const std::vector<uint8_t> &cid, const std::array<uint8_t, 16> &key) {
  if (r.Card.Sector0Known) {
    const std::array<uint8_t, 512> synthetic = SyntheticSector0(r.Card.Sector0);
    const Bytes from(r.Card.Sector0.begin(), r.Card.Sector0.end());
    const Bytes to(synthetic.begin(), synthetic.end());
    EachBlob(r, [&](Bytes &b) { ReplaceSectors(b, from, to); });
    r.Card.Sector0 = synthetic;
  }
  Bytes entry;
  if (FoundEntry(r, entry) && entry != Bytes(8, 0)) {
    const Bytes marker(kEntryMarker, kEntryMarker + 8);
    EachBlob(r, [&](Bytes &b) {
      ReplaceAll(b, entry, marker);
      ReplaceAll(b, Reversed(entry), Reversed(marker));
    });
  }
  // Both copies of the CID: the header's and the one sysfs shows.
  const Bytes sysfsCid = r.Card.Cid;
  RedactCid(r, cid, key);
  if (sysfsCid != cid)
    RedactCid(r, sysfsCid, key);
  r.Card.ReaderSerial = HashedText(r.Card.ReaderSerial, key);
}

} // namespace sdsmart_tool
