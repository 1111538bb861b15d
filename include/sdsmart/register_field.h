// SPDX-License-Identifier: MIT
// Register fields as the SD and MMC standards write them: a name and a bit
// range [high:low] counted from the last bit of the register. Register images
// are kept as the card sends them, most significant byte first, so bit b of an
// N-byte image lives in byte N - 1 - b / 8 at position b % 8.
#pragma once

#include <cstddef>
#include <cstdint>

struct RegisterField {
  const char *name;
  unsigned int high;
  unsigned int low;

  constexpr unsigned int Width() const { return high - low + 1; }
  // The largest value the field holds (fields are at most 32 bits wide).
  constexpr uint32_t Max() const {
    return Width() >= 32 ? 0xFFFFFFFFu : static_cast<uint32_t>((1ull << Width()) - 1);
  }
  // Index of the image byte holding the field's top bit, and the number of
  // bytes the field touches.
  constexpr unsigned int FirstByte(unsigned int imageBytes) const {
    return imageBytes - 1 - high / 8;
  }
  constexpr unsigned int ByteCount() const { return high / 8 - low / 8 + 1; }
};

// Reads or writes a field of at most 32 bits; bits outside the field are kept.
uint32_t ReadField(const unsigned char *image, size_t imageBytes, const RegisterField &field);
void WriteField(unsigned char *image, size_t imageBytes, const RegisterField &field,
                uint32_t value);

template <size_t N> uint32_t ReadField(const unsigned char (&image)[N], const RegisterField &f) {
  return ReadField(image, N, f);
}
template <size_t N>
void WriteField(unsigned char (&image)[N], const RegisterField &f, uint32_t value) {
  WriteField(image, N, f, value);
}
