// SPDX-License-Identifier: MIT
#include "sdsmart/register_field.h"

namespace {

bool BitOf(const unsigned char *image, size_t imageBytes, unsigned int bit) {
  return (image[imageBytes - 1 - bit / 8] >> (bit % 8)) & 1u;
}

void PutBit(unsigned char *image, size_t imageBytes, unsigned int bit, bool value) {
  unsigned char &byte = image[imageBytes - 1 - bit / 8];
  const unsigned char mask = static_cast<unsigned char>(1u << (bit % 8));
  byte = static_cast<unsigned char>(value ? (byte | mask) : (byte & ~mask));
}

bool Fits(size_t imageBytes, const RegisterField &field) {
  return field.low <= field.high && field.Width() <= 32 && field.high / 8 < imageBytes;
}

} // namespace

uint32_t ReadField(const unsigned char *image, size_t imageBytes, const RegisterField &field) {
  if (!Fits(imageBytes, field))
    return 0;
  uint32_t value = 0;
  for (unsigned int bit = field.high + 1; bit-- > field.low;)
    value = (value << 1) | (BitOf(image, imageBytes, bit) ? 1u : 0u);
  return value;
}

void WriteField(unsigned char *image, size_t imageBytes, const RegisterField &field,
                uint32_t value) {
  if (!Fits(imageBytes, field))
    return;
  for (unsigned int bit = field.low; bit <= field.high; ++bit, value >>= 1)
    PutBit(image, imageBytes, bit, value & 1u);
}
