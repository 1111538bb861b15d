// SPDX-License-Identifier: MIT
// The text reports of every register decoder, for real cards' registers and
// for images built field by field to reach the coded values, against golden
// files tests/data/registers/*.txt (regenerated as support.h says, with
// --gtest_filter='Reports.*').
#include "register_images.h"
#include "support.h"

#include "sdsmart/cid.h"
#include "sdsmart/csd.h"
#include "sdsmart/ext_csd.h"
#include "sdsmart/hardware_info.h"
#include "sdsmart/ocr.h"
#include "sdsmart/scr.h"
#include "sdsmart/sd_status.h"
#include "sdsmart/spi_response.h"
#include "sdsmart/switch_status.h"

#include <functional>
#include <vector>

using namespace sdtest;

namespace {

namespace F = SdStatusField;
using Report = std::pair<std::string, std::function<std::wstring()>>;

// The reports one after the other, each under its label; texts are ASCII.
void ExpectReports(const std::string &golden, const std::vector<Report> &reports) {
  std::string text;
  for (const auto &[label, report] : reports) {
    text += "== " + label + "\n";
    for (wchar_t c : report())
      text += c < 0x80 ? static_cast<char>(c) : '?';
    text += "\n";
  }
  ExpectGolden("registers/" + golden + ".txt", text);
}

std::array<unsigned char, 4> Ocr(uint32_t v) {
  return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

std::wstring CidWithMonth(unsigned month) {
  CSdCID cid(kSd16gCid.data());
  cid.SetMonth(month);
  return cid.Parse(0);
}

TEST(Reports, CidCsdScrOfRealCards) {
  ExpectReports(
      "real-cards",
      {
          {"CID, 512 GB SDXC",
           [] { return std::unique_ptr<CCID>(CCID::Create(false, kSn512Cid.data()))->Parse(2); }},
          {"CID, 16 GB SDHC",
           [] { return std::unique_ptr<CCID>(CCID::Create(false, kSd16gCid.data()))->Parse(0); }},
          {"CSD, 512 GB SDXC",
           [] { return std::unique_ptr<CCSD>(CCSD::Create(false, kSn512Csd.data()))->Parse(0); }},
          {"CSD, 16 GB SDHC",
           [] { return std::unique_ptr<CCSD>(CCSD::Create(false, kSd16gCsd.data()))->Parse(0); }},
          {"SCR, 512 GB SDXC", [] { return CSCR(kSn512Scr.data()).Parse(1); }},
          {"SCR, 16 GB SDHC", [] { return CSCR(kSd16gScr.data()).Parse(0); }},
      });
}

TEST(Reports, CidAndCsdFieldByField) {
  const auto mmcCid = std::array<unsigned char, 16>{0x15, 0x01, 0x00, 'M',  0x00, ' ',  0x7F, 0xC8,
                                                    'C',  0x21, 0x12, 0x34, 0x56, 0x78, 0x9F, 0};
  const auto mmcCsd = ImageWith<16>({{CsdField::SPEC_VERS, 4},
                                     {CsdField::C_SIZE, 4095},
                                     {CsdField::C_SIZE_MULT, 7},
                                     {CsdField::READ_BL_LEN, 9},
                                     {CsdField::ERASE_GRP_SIZE, 31},
                                     {CsdField::ERASE_GRP_MULT, 31},
                                     {CsdField::MMC_WP_GRP_SIZE, 3},
                                     {CsdField::DEFAULT_ECC, 2},
                                     {CsdField::TAAC, 0x26},
                                     {CsdField::CCC, 0x5B5}});
  const auto v30 = ImageWith<16>({{CsdField::CSD_STRUCTURE, 2}, {CsdField::READ_BL_LEN, 9}});
  ExpectReports(
      "cid-csd-fields",
      {
          {"MMC CID, unprintable name bytes", [&] { return CMmcCID(mmcCid.data()).Parse(0); }},
          {"SD CID, month 12", [] { return CidWithMonth(12); }},
          {"SD CID, month 13", [] { return CidWithMonth(13); }},
          {"MMC CSD, 1 GiB", [&] { return CMmcCSD(mmcCsd.data()).Parse(0); }},
          {"SD CSD, structure 2",
           [&] { return std::unique_ptr<CCSD>(CCSD::Create(false, v30.data()))->Parse(0); }},
      });
}

TEST(Reports, ScrOcrAndSpiFieldByField) {
  auto scr = [](FieldValues fields) {
    return [image = ImageWith<8>(fields)] { return CSCR(image.data()).Parse(0); };
  };
  auto ocr = [](uint32_t value, bool mmc) {
    return [=] { return std::unique_ptr<COCR>(COCR::Create(mmc, Ocr(value).data()))->Parse(0); };
  };
  namespace S = ScrField;
  const unsigned char r2[2] = {0x05, 0x81};
  ExpectReports("scr-ocr-spi",
                {
                    {"SCR 1.10", scr({{S::SD_SPEC, 1}, {S::SCR_STRUCTURE, 3}})},
                    {"SCR 2.0", scr({{S::SD_SPEC, 2}, {S::SD_SPECX, 2}, {S::SD_SECURITY, 5}})},
                    {"SCR 4.xx", scr({{S::SD_SPEC, 2}, {S::SD_SPEC3, 1}, {S::SD_SPEC4, 1}})},
                    {"SCR 5.xx", scr({{S::SD_SPEC, 2}, {S::SD_SPEC3, 1}, {S::SD_SPECX, 1}})},
                    {"SCR 9.xx",
                     scr({{S::SD_SPEC, 2}, {S::SD_SPEC3, 1}, {S::SD_SPEC4, 1}, {S::SD_SPECX, 5}})},
                    {"SCR, SD_SPECX 6", scr({{S::SD_SPEC, 2}, {S::SD_SPEC3, 1}, {S::SD_SPECX, 6}})},
                    {"SCR, reserved version", scr({{S::SD_SPEC, 7}, {S::SD_BUS_WIDTHS, 4}})},
                    {"SCR, all commands", scr({{RegisterField{"CMD_SUPPORT", 35, 32}, 0xF}})},
                    {"OCR, SD high capacity", ocr(0xC0FF8000, false)},
                    {"OCR, one window bit", ocr(0x00000100, false)},
                    {"OCR, first run of bits", ocr(0x00C03000, false)},
                    {"OCR, MMC dual voltage, sector mode", ocr(0xC0FF8080, true)},
                    {"OCR, MMC no voltage, mode 3", ocr(0x6100000F, true)},
                    {"SPI R2", [&] { return CSpiR2(r2).Parse(1); }},
                });
}

TEST(Reports, StatusRegistersAndHardwareInfo) {
  const auto uhs = ImageWith<64>({{F::DAT_BUS_WIDTH, 2},
                                  {F::SIZE_OF_PROTECTED_AREA, 0x05000000},
                                  {F::SPEED_CLASS, 4},
                                  {F::PERFORMANCE_MOVE, 20},
                                  {F::AU_SIZE, 9},
                                  {F::ERASE_SIZE, 0x0100},
                                  {F::ERASE_TIMEOUT, 10},
                                  {F::ERASE_OFFSET, 1},
                                  {F::UHS_SPEED_GRADE, 1},
                                  {F::UHS_AU_SIZE, 9},
                                  {F::VIDEO_SPEED_CLASS, 10},
                                  {F::VSC_AU_SIZE, 4},
                                  {F::APP_PERF_CLASS, 1},
                                  {F::DISCARD_SUPPORT, 1}});
  const auto coded = ImageWith<64>({{F::DAT_BUS_WIDTH, 3},
                                    {F::SECURED_MODE, 1},
                                    {F::SD_CARD_TYPE, 0x102},
                                    {F::SPEED_CLASS, 5},
                                    {F::PERFORMANCE_MOVE, 255},
                                    {F::AU_SIZE, 15},
                                    {F::ERASE_SIZE, 0xFFFF},
                                    {F::UHS_SPEED_GRADE, 3},
                                    {F::VIDEO_SPEED_CLASS, 91},
                                    {F::VSC_AU_SIZE, 27},
                                    {F::SUS_ADDR, 0x3FFFFF},
                                    {F::APP_PERF_CLASS, 2},
                                    {F::FULE_SUPPORT, 1}});
  std::array<unsigned char, 64> sw{};
  sw[1] = 0xC8, sw[3] = 0x01, sw[12] = 0x80, sw[13] = 0x03, sw[14] = 0x21, sw[16] = 0x0F;
  std::vector<unsigned char> ext(512, 0);
  const std::pair<unsigned, unsigned char> extBytes[] = {
      {504, 1},  {215, 0xE9}, {212, 0x01}, {210, 10}, {209, 11}, {208, 12}, {207, 13},
      {206, 14}, {205, 15},   {203, 20},   {202, 21}, {201, 22}, {200, 23}, {196, 3},
      {194, 2},  {192, 5},    {191, 6},    {189, 7},  {187, 8},  {185, 9},  {183, 2}};
  for (const auto &[at, value] : extBytes)
    ext[at] = value;
  CHardwareInfo info;
  info.SetMonth(3), info.SetDate(7), info.SetSerialNumber(12), info.SetHwID(26);
  ExpectReports(
      "status-registers",
      {
          {"SD Status, UHS-I card", [&] { return CSdStatus(true, true, uhs.data()).Parse(1); }},
          {"SD Status, no extended fields",
           [&] { return CSdStatus(false, false, uhs.data()).Parse(0); }},
          {"SD Status, coded values", [&] { return CSdStatus(true, true, coded.data()).Parse(0); }},
          {"Switch status", [&] { return CSwitchStatus(sw.data()).Parse(0); }},
          {"Extended CSD", [&] { return CExtCSD(ext.data()).Parse(0); }},
          {"Hardware information", [&] { return info.ToString(); }},
      });
}

} // namespace
