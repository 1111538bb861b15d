// SPDX-License-Identifier: MIT
#include "sdsmart/bit_array.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "registers/report_text.h"

using namespace RegisterText;

namespace {

unsigned int BytesFor(unsigned int bits) { return static_cast<unsigned int>((bits + 7ull) / 8); }

} // namespace

CBitArray::CBitArray(unsigned int bits) { Resize(bits); }

CBitArray::CBitArray(unsigned int bits, bool value) {
  Resize(bits);
  if (value)
    Set();
  else
    Reset();
}

void CBitArray::Resize(unsigned int bits) {
  const unsigned int bytes = BytesFor(bits);
  if (bytes != storage.Size()) {
    storage.Resize(bytes);
    if (bytes)
      std::memset(storage.Data(), 0, bytes);
  }
  bitCount = bits;
}

void CBitArray::Init(const unsigned char *data, unsigned int bytes, unsigned int bits) {
  Resize(bits);
  const unsigned int n = std::min(ByteLength(), bytes);
  if (n)
    std::memcpy(storage.Data(), data, n);
}

bool CBitArray::Test(unsigned int i) const {
  if (i >= bitCount)
    return false;
  return (storage[i / 8] >> (i % 8)) & 1u;
}

CBitArray &CBitArray::Set(unsigned int i, bool value) {
  if (i < bitCount) {
    const unsigned char mask = static_cast<unsigned char>(1u << (i % 8));
    storage[i / 8] =
        static_cast<unsigned char>(value ? storage[i / 8] | mask : storage[i / 8] & ~mask);
  }
  return *this;
}

CBitArray &CBitArray::Set() {
  if (ByteLength())
    std::memset(storage.Data(), 0xFF, ByteLength());
  Trim();
  return *this;
}

CBitArray &CBitArray::Reset() {
  if (ByteLength())
    std::memset(storage.Data(), 0, ByteLength());
  return *this;
}

CBitArray &CBitArray::Flip() {
  for (unsigned int i = 0; i < ByteLength(); ++i)
    storage[i] = static_cast<unsigned char>(~storage[i]);
  Trim();
  return *this;
}

void CBitArray::Trim() {
  if (bitCount % 8 != 0)
    storage[ByteLength() - 1] &= static_cast<unsigned char>((1u << (bitCount % 8)) - 1);
}

unsigned int CBitArray::CountRange(unsigned int first, unsigned int end) const {
  end = std::min(end, bitCount);
  if (first >= end)
    return 0;
  unsigned int count = 0;
  unsigned int bit = first;
  // Single bits up to a byte boundary.
  for (; bit < end && bit % 8 != 0; ++bit)
    count += Test(bit);
  // Whole 32-bit words, then whole bytes.
  for (; bit + 32 <= end; bit += 32) {
    uint32_t word;
    std::memcpy(&word, storage.Data() + bit / 8, sizeof word);
    count += word == 0xFFFFFFFFu ? 32u : static_cast<unsigned int>(__builtin_popcount(word));
  }
  for (; bit + 8 <= end; bit += 8)
    count += static_cast<unsigned int>(__builtin_popcount(storage[bit / 8]));
  // The low bits of the last partial byte.
  for (; bit < end; ++bit)
    count += Test(bit);
  return count;
}

unsigned int CBitArray::Count() const { return CountRange(0, bitCount); }

unsigned int CBitArray::Count(unsigned int last) const {
  return CountRange(0, last >= bitCount ? bitCount : last + 1);
}

unsigned int CBitArray::Count(unsigned int first, unsigned int n) const {
  const uint64_t end = static_cast<uint64_t>(first) + n;
  return CountRange(first, end > bitCount ? bitCount : static_cast<unsigned int>(end));
}

CBitArray &CBitArray::operator&=(const CBitArray &other) {
  const unsigned int n = std::min(ByteLength(), other.ByteLength());
  for (unsigned int i = 0; i < n; ++i)
    storage[i] &= other.storage[i];
  return *this;
}

CBitArray &CBitArray::operator|=(const CBitArray &other) {
  const unsigned int n = std::min(ByteLength(), other.ByteLength());
  for (unsigned int i = 0; i < n; ++i)
    storage[i] |= other.storage[i];
  Trim();
  return *this;
}

CBitArray &CBitArray::operator^=(const CBitArray &other) {
  const unsigned int n = std::min(ByteLength(), other.ByteLength());
  for (unsigned int i = 0; i < n; ++i)
    storage[i] ^= other.storage[i];
  Trim();
  return *this;
}

CBitArray &CBitArray::operator<<=(unsigned int n) {
  if (n >= bitCount)
    return Reset();
  const unsigned int len = ByteLength();
  const unsigned int bytes = n / 8;
  const unsigned int bits = n % 8;
  if (bytes) {
    for (unsigned int i = len; i-- > 0;)
      storage[i] = i >= bytes ? storage[i - bytes] : 0;
  }
  if (bits) {
    for (unsigned int i = len; i-- > 1;)
      storage[i] =
          static_cast<unsigned char>((storage[i] << bits) | (storage[i - 1] >> (8 - bits)));
    storage[0] = static_cast<unsigned char>(storage[0] << bits);
  }
  Trim();
  return *this;
}

CBitArray &CBitArray::operator>>=(unsigned int n) {
  if (n >= bitCount)
    return Reset();
  // Spare bits set by Init must not slide into the valid range.
  Trim();
  const unsigned int len = ByteLength();
  const unsigned int bytes = n / 8;
  const unsigned int bits = n % 8;
  if (bytes) {
    for (unsigned int i = 0; i < len; ++i)
      storage[i] = i + bytes < len ? storage[i + bytes] : 0;
  }
  if (bits) {
    for (unsigned int i = 0; i + 1 < len; ++i)
      storage[i] =
          static_cast<unsigned char>((storage[i] >> bits) | (storage[i + 1] << (8 - bits)));
    storage[len - 1] = static_cast<unsigned char>(storage[len - 1] >> bits);
  }
  return *this;
}

CBitArray CBitArray::operator<<(unsigned int n) const {
  CBitArray copy(*this);
  copy <<= n;
  return copy;
}

CBitArray CBitArray::operator>>(unsigned int n) const {
  CBitArray copy(*this);
  copy >>= n;
  return copy;
}

CBitArray CBitArray::operator~() const {
  CBitArray copy(*this);
  copy.Flip();
  return copy;
}

bool CBitArray::operator!=(const CBitArray &other) const {
  return bitCount != other.bitCount || storage != other.storage;
}

std::wstring CBitArray::ToString(unsigned int indent) {
  std::wstring out;
  for (unsigned int i = ByteLength(); i-- > 0;) {
    out.append(indent, L' ');
    for (int bit = 7; bit >= 0; --bit) {
      out += ((storage[i] >> bit) & 1u) ? L'1' : L'0';
      if (bit == 4)
        out += L" - ";
    }
    out += L"\r\n";
  }
  return out;
}

std::wstring CBitArray::ToByteString(unsigned int indent) {
  std::wstring out;
  for (unsigned int i = 0; i < ByteLength(); ++i) {
    if (i % 16 == 0)
      out.append(indent, L' ');
    out += Hex(storage[i], 2) + L" ";
    if (i % 16 == 15 || i + 1 == ByteLength())
      out += L"\r\n";
  }
  return out;
}

CBitArray operator&(const CBitArray &a, const CBitArray &b) {
  CBitArray copy(a);
  copy &= b;
  return copy;
}

bool operator<(const CBitArray &a, const CBitArray &b) { return a.Count() < b.Count(); }

bool operator>(const CBitArray &a, const CBitArray &b) { return a.Count() > b.Count(); }

unsigned int CBitArray::GetBitCount() const { return bitCount; }

Bulk<unsigned char> &CBitArray::GetArray() { return storage; }

const Bulk<unsigned char> &CBitArray::GetArray() const { return storage; }

bool CBitArray::operator[](unsigned int i) const { return Test(i); }

CBitArray &CBitArray::Reset(unsigned int i) { return Set(i, false); }

CBitArray &CBitArray::Flip(unsigned int i) { return Set(i, !Test(i)); }

bool CBitArray::Any() const { return Count() != 0; }

bool CBitArray::None() const { return !Any(); }

bool CBitArray::IsFullFill() { return Count() == bitCount; }

bool CBitArray::operator==(const CBitArray &other) const { return !(*this != other); }

CBitArray::CBitArray() = default;

CBitArray::CBitArray(const CBitArray &other) = default;

CBitArray &CBitArray::operator=(const CBitArray &other) = default;

void CBitArray::Init(unsigned char *data, unsigned int bytes, unsigned int bits) {
  Init(static_cast<const unsigned char *>(data), bytes, bits);
}
