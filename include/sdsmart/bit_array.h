// SPDX-License-Identifier: MIT
// A resizable set of bits in a byte buffer. Bit k lives in byte k / 8 at
// position k % 8 (position 0 the least significant), so the array reads as one
// little-endian integer: left shifts move bits to higher numbers.
#pragma once

#include <string>

#include "sdsmart/bulk.h"

class CBitArray {
public:
  CBitArray();
  CBitArray(const CBitArray &other);
  CBitArray &operator=(const CBitArray &other);
  // The bits start cleared.
  explicit CBitArray(unsigned int bits);
  CBitArray(unsigned int bits, bool value);

  // Sets the bit count; storage of a new byte length starts cleared, storage
  // of the same byte length is kept.
  void Resize(unsigned int bits);
  // Resize(bits), then copies min(storage, bytes) raw bytes (spare bits too).
  void Init(unsigned char *data, unsigned int bytes, unsigned int bits);
  void Init(const unsigned char *data, unsigned int bytes, unsigned int bits);
  unsigned int GetBitCount() const;
  Bulk<unsigned char> &GetArray();
  const Bulk<unsigned char> &GetArray() const;

  // Single bits; indexes at or above the bit count read false and are not
  // written.
  bool Test(unsigned int i) const;
  bool operator[](unsigned int i) const;
  CBitArray &Set(unsigned int i, bool value);
  CBitArray &Reset(unsigned int i);
  CBitArray &Flip(unsigned int i);

  CBitArray &Set();
  CBitArray &Reset();
  CBitArray &Flip();
  bool Any() const;
  bool None() const;
  // Population counts over the valid bits only: all of them, bits 0..last,
  // or the n bits from first on. Ranges past the bit count are cut at it.
  unsigned int Count() const;
  unsigned int Count(unsigned int last) const;
  unsigned int Count(unsigned int first, unsigned int n) const;
  bool IsFullFill();
  // Clears the spare bits above the bit count in the last byte.
  void Trim();

  // Byte-wise logic over the common prefix of the two storages.
  CBitArray &operator&=(const CBitArray &other);
  CBitArray &operator|=(const CBitArray &other);
  CBitArray &operator^=(const CBitArray &other);
  CBitArray &operator<<=(unsigned int n);
  CBitArray &operator>>=(unsigned int n);
  CBitArray operator<<(unsigned int n) const;
  CBitArray operator>>(unsigned int n) const;
  CBitArray operator~() const;
  // Raw comparison: bit counts, storage lengths and every storage byte.
  bool operator!=(const CBitArray &other) const;
  bool operator==(const CBitArray &other) const;

  // One line per byte from the last to byte 0: "1010 - 0101".
  std::wstring ToString(unsigned int indent);
  // The bytes in ascending order, 16 to a line, "a5 " each.
  std::wstring ToByteString(unsigned int indent);

private:
  unsigned int ByteLength() const { return storage.Size(); }
  // Set bits among the valid bits [first, end).
  unsigned int CountRange(unsigned int first, unsigned int end) const;

  unsigned int bitCount = 0;
  Bulk<unsigned char> storage;
};

CBitArray operator&(const CBitArray &a, const CBitArray &b);
// Compare the population counts.
bool operator<(const CBitArray &a, const CBitArray &b);
bool operator>(const CBitArray &a, const CBitArray &b);
