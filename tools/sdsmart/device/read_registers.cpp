// SPDX-License-Identifier: MIT
#include "device/read_registers.h"

#include <cstdlib>

namespace sdsmart_tool {
namespace {

std::optional<uint64_t> Number(const std::string &text, int base) {
  if (text.empty())
    return std::nullopt;
  char *end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, base);
  return *end == '\0' ? std::optional<uint64_t>(value) : std::nullopt;
}

} // namespace

CardRegisters ReadCardRegisters(const DeviceVerdict &verdict, const std::string &sysRoot) {
  CardRegisters r;
  const std::string block = sysRoot + "/class/block/" + verdict.Name, device = block + "/device";
  if (std::optional<uint64_t> sectors = Number(ReadSysfsAttribute(block + "/size"), 10))
    r.NodeBytes = *sectors * 512;
  if (verdict.Transport == CardTransport::NativeHost) {
    r.Cid = RegisterBytes(ReadSysfsAttribute(device + "/cid"));
    r.Csd = RegisterBytes(ReadSysfsAttribute(device + "/csd"));
    r.Scr = RegisterBytes(ReadSysfsAttribute(device + "/scr"));
    r.Ssr = RegisterBytes(ReadSysfsAttribute(device + "/ssr"));
    const std::string ocr = ReadSysfsAttribute(device + "/ocr");
    if (ocr.compare(0, 2, "0x") == 0)
      r.Ocr = Number(ocr.substr(2), 16);
    r.PreferredEraseSize = Number(ReadSysfsAttribute(device + "/preferred_erase_size"), 10);
  } else {
    r.ReaderVendor = ReadSysfsAttribute(device + "/vendor");
    r.ReaderModel = ReadSysfsAttribute(device + "/model");
    r.ReaderSerial = ReaderSerial(sysRoot, verdict.Name);
  }
  DecodeRegisters(r);
  return r;
}

} // namespace sdsmart_tool
