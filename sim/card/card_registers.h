// SPDX-License-Identifier: MIT
// The card's own registers and its factory sector 0, made to fit a card
// file that does not give them.
#pragma once

#include "card/card_config.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sdsim {

std::uint8_t Crc7(const std::uint8_t *data, std::size_t n);
std::array<std::uint8_t, 16> DefaultCsd(std::uint64_t sectors, bool byteAddressed);
std::array<std::uint8_t, 16> DefaultCid(std::uint32_t serial);
// An eMMC's: CID in the JEDEC layout (product "SIMMC0"), CSD structure 3
// (version in EXT_CSD), and the 512-byte EXT_CSD of the card.
std::array<std::uint8_t, 16> DefaultEmmcCid(std::uint32_t serial);
std::array<std::uint8_t, 16> DefaultEmmcCsd();
std::array<std::uint8_t, 512> ExtCsd(const CardConfig &config);
// An SD Status that fits the card: speed class and allocation unit by
// capacity class (standard, high, extended capacity).
std::array<std::uint8_t, 64> DefaultSsr(std::uint64_t sectors, bool byteAddressed);
std::array<std::uint8_t, 512> DefaultMbr(std::uint64_t sectors);

} // namespace sdsim
