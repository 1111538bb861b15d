// SPDX-License-Identifier: MIT
// Bulk<T>: an owned array of T with a 32-bit element count. Storage from
// Bulk(n) and Resize(n) is left uninitialised, as callers fill it at once.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

template <typename T> class Bulk {
public:
  Bulk() = default;
  explicit Bulk(uint32_t n) : data(n ? new T[n] : nullptr), count(n) {}
  Bulk(const Bulk &other) : Bulk(other.count) {
    if (count)
      std::memcpy(data.get(), other.data.get(), count * sizeof(T));
  }
  Bulk(Bulk &&other) noexcept : data(std::move(other.data)), count(other.count) { other.count = 0; }
  Bulk &operator=(const Bulk &other) {
    if (this != &other) {
      Bulk copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  Bulk &operator=(Bulk &&other) noexcept {
    data = std::move(other.data);
    count = other.count;
    other.count = 0;
    return *this;
  }
  ~Bulk() = default;

  // Keeps the contents when the size is unchanged; otherwise the old storage
  // is dropped and n fresh elements take its place.
  void Resize(uint32_t n) {
    if (n == count)
      return;
    data.reset(n ? new T[n] : nullptr);
    count = n;
  }

  uint32_t Size() const { return count; }
  T *Data() const { return data.get(); }
  operator T *() const { return data.get(); }
  T &operator[](uint32_t i) const { return data[i]; }

  bool operator!=(const Bulk &other) const {
    if (count != other.count)
      return true;
    return count != 0 && std::memcmp(data.get(), other.data.get(), count * sizeof(T)) != 0;
  }
  bool operator==(const Bulk &other) const { return !(*this != other); }

private:
  std::unique_ptr<T[]> data;
  uint32_t count = 0;
};
