// SPDX-License-Identifier: MIT
// CSD register fields, SD Physical Layer (CSD versions 1.0 and 2.0) and MMC.
#pragma once

#include "sdsmart/register_field.h"

namespace CsdField {
// clang-format off
//                                 name                  high  low
// Common to SD and MMC.
inline constexpr RegisterField CSD_STRUCTURE      {"CSD_STRUCTURE",      127, 126};
inline constexpr RegisterField TAAC               {"TAAC",               119, 112};
inline constexpr RegisterField NSAC               {"NSAC",               111, 104};
inline constexpr RegisterField TRAN_SPEED         {"TRAN_SPEED",         103,  96};
inline constexpr RegisterField CCC                {"CCC",                 95,  84};
inline constexpr RegisterField READ_BL_LEN        {"READ_BL_LEN",         83,  80};
inline constexpr RegisterField READ_BL_PARTIAL    {"READ_BL_PARTIAL",     79,  79};
inline constexpr RegisterField WRITE_BLK_MISALIGN {"WRITE_BLK_MISALIGN",  78,  78};
inline constexpr RegisterField READ_BLK_MISALIGN  {"READ_BLK_MISALIGN",   77,  77};
inline constexpr RegisterField DSR_IMP            {"DSR_IMP",             76,  76};
inline constexpr RegisterField C_SIZE             {"C_SIZE",              73,  62};
inline constexpr RegisterField VDD_R_CURR_MIN     {"VDD_R_CURR_MIN",      61,  59};
inline constexpr RegisterField VDD_R_CURR_MAX     {"VDD_R_CURR_MAX",      58,  56};
inline constexpr RegisterField VDD_W_CURR_MIN     {"VDD_W_CURR_MIN",      55,  53};
inline constexpr RegisterField VDD_W_CURR_MAX     {"VDD_W_CURR_MAX",      52,  50};
inline constexpr RegisterField C_SIZE_MULT        {"C_SIZE_MULT",         49,  47};
inline constexpr RegisterField WP_GRP_ENABLE      {"WP_GRP_ENABLE",       31,  31};
inline constexpr RegisterField R2W_FACTOR         {"R2W_FACTOR",          28,  26};
inline constexpr RegisterField WRITE_BL_LEN       {"WRITE_BL_LEN",        25,  22};
inline constexpr RegisterField WRITE_BL_PARTIAL   {"WRITE_BL_PARTIAL",    21,  21};
inline constexpr RegisterField FILE_FORMAT_GRP    {"FILE_FORMAT_GRP",     15,  15};
inline constexpr RegisterField COPY               {"COPY",                14,  14};
inline constexpr RegisterField PERM_WRITE_PROTECT {"PERM_WRITE_PROTECT",  13,  13};
inline constexpr RegisterField TMP_WRITE_PROTECT  {"TMP_WRITE_PROTECT",   12,  12};
inline constexpr RegisterField FILE_FORMAT        {"FILE_FORMAT",         11,  10};
inline constexpr RegisterField CRC                {"CRC",                  7,   0};
// SD only (both versions).
inline constexpr RegisterField ERASE_BLK_EN       {"ERASE_BLK_EN",        46,  46};
inline constexpr RegisterField SECTOR_SIZE        {"SECTOR_SIZE",         45,  39};
inline constexpr RegisterField WP_GRP_SIZE        {"WP_GRP_SIZE",         38,  32};
// SD version 2.0 only: the device size in units of 512 KiB.
inline constexpr RegisterField C_SIZE_V20         {"C_SIZE",              69,  48};
// MMC only.
inline constexpr RegisterField SPEC_VERS          {"SPEC_VERS",          125, 122};
inline constexpr RegisterField ERASE_GRP_SIZE     {"ERASE_GRP_SIZE",      46,  42};
inline constexpr RegisterField ERASE_GRP_MULT     {"ERASE_GRP_MULT",      41,  37};
inline constexpr RegisterField MMC_WP_GRP_SIZE    {"WP_GRP_SIZE",         36,  32};
inline constexpr RegisterField DEFAULT_ECC        {"DEFAULT_ECC",         30,  29};
inline constexpr RegisterField CONTENT_PROT_APP   {"CONTENT_PROT_APP",    16,  16};
inline constexpr RegisterField ECC                {"ECC",                  9,   8};
// clang-format on

// Every field of each layout, top bit first.
// clang-format off
inline constexpr RegisterField SdV10[] = {
    CSD_STRUCTURE, TAAC, NSAC, TRAN_SPEED, CCC, READ_BL_LEN, READ_BL_PARTIAL, WRITE_BLK_MISALIGN,
    READ_BLK_MISALIGN, DSR_IMP, C_SIZE, VDD_R_CURR_MIN, VDD_R_CURR_MAX, VDD_W_CURR_MIN,
    VDD_W_CURR_MAX, C_SIZE_MULT, ERASE_BLK_EN, SECTOR_SIZE, WP_GRP_SIZE, WP_GRP_ENABLE,
    R2W_FACTOR, WRITE_BL_LEN, WRITE_BL_PARTIAL, FILE_FORMAT_GRP, COPY, PERM_WRITE_PROTECT,
    TMP_WRITE_PROTECT, FILE_FORMAT, CRC};
inline constexpr RegisterField SdV20[] = {
    CSD_STRUCTURE, TAAC, NSAC, TRAN_SPEED, CCC, READ_BL_LEN, READ_BL_PARTIAL, WRITE_BLK_MISALIGN,
    READ_BLK_MISALIGN, DSR_IMP, C_SIZE_V20, ERASE_BLK_EN, SECTOR_SIZE, WP_GRP_SIZE,
    WP_GRP_ENABLE, R2W_FACTOR, WRITE_BL_LEN, WRITE_BL_PARTIAL, FILE_FORMAT_GRP, COPY,
    PERM_WRITE_PROTECT, TMP_WRITE_PROTECT, FILE_FORMAT, CRC};
inline constexpr RegisterField Mmc[] = {
    CSD_STRUCTURE, SPEC_VERS, TAAC, NSAC, TRAN_SPEED, CCC, READ_BL_LEN, READ_BL_PARTIAL,
    WRITE_BLK_MISALIGN, READ_BLK_MISALIGN, DSR_IMP, C_SIZE, VDD_R_CURR_MIN, VDD_R_CURR_MAX,
    VDD_W_CURR_MIN, VDD_W_CURR_MAX, C_SIZE_MULT, ERASE_GRP_SIZE, ERASE_GRP_MULT, MMC_WP_GRP_SIZE,
    WP_GRP_ENABLE, DEFAULT_ECC, R2W_FACTOR, WRITE_BL_LEN, WRITE_BL_PARTIAL, CONTENT_PROT_APP,
    FILE_FORMAT_GRP, COPY, PERM_WRITE_PROTECT, TMP_WRITE_PROTECT, FILE_FORMAT, ECC, CRC};
// clang-format on
} // namespace CsdField
