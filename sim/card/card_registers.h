// SPDX-License-Identifier: MIT
// The card's own registers and its factory sector 0, made to fit a card
// file that does not give them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sdsim {

std::uint8_t Crc7(const std::uint8_t *data, std::size_t n);
std::array<std::uint8_t, 16> DefaultCsd(std::uint64_t sectors, bool byteAddressed);
std::array<std::uint8_t, 16> DefaultCid(std::uint32_t serial);
std::array<std::uint8_t, 512> DefaultMbr(std::uint64_t sectors);

} // namespace sdsim
