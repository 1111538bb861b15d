// SPDX-License-Identifier: MIT
// Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.
// The seeds are checked in; rerun this only when a format changes:
//   build-fuzz/make_seeds fuzz/corpus
#include "sdsmart/bulk.h"
#include "sdsmart/ini_file.h"
#include "sdsmart/smart_info_header.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_root;

void Put(const std::string &target, const std::string &name, const Bytes &bytes) {
  const std::string dir = g_root + "/" + target;
  mkdir(dir.c_str(), 0755);
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}
void Put(const std::string &target, const std::string &name, const std::string &text) {
  Put(target, name, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Utf16(const std::wstring &text) {
  Bytes b = {0xFF, 0xFE};
  for (wchar_t c : text) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  return b;
}

void ConfigSeeds() {
  const std::wstring text =
      L"[Authorization]\r\nVendor ID = 4660;\r\n\r\n"
      L"[SMART Entry]\r\n4660 = SDSMTEST;\r\n\r\n"
      L"/* versions */\r\n[Version]\r\nSMART Version Support = 3;\r\n"
      L"Externel SDK Name = \"sdk one\" \"two\";\r\nUse Externel SDK Name = 0x1;\r\n"
      L"// flash names\r\n[Flash Type Name]\r\n98 3A 98 A3 76 51 = TLC 15nm;\r\n";
  Put("config", "plain.ini", Utf16(text));
  CIniFile ini;
  ini.WriteInteger(L"Authorization", L"Vendor ID", 4660);
  ini.WriteString(L"SMART Entry", L"4660", L"SDSMTEST");
  ini.WriteString(L"Version", L"SMART Version Support", L"2");
  ini.WriteString(L"Flash Type Name", L"45 DE 94 93 76 51", L"MLC a b c");
  const std::string tmp = g_root + "/.scrambled";
  ini.UpdateFile(std::wstring(tmp.begin(), tmp.end()), kConfigFileSeed);
  Put("config", "scrambled.ini", ReadFile(tmp));
  std::remove(tmp.c_str());
  Put("config", "empty", Bytes());
  Put("config", "bad-comment.ini", Utf16(L"[A]\r\nk = v; / x\r\n"));
}

void ConvertSeeds() {
  // Byte 0 picks widths and radix, then delimiters up to a zero byte, then text.
  Put("convert", "hex", std::string("\x05:\0  0x1Fzz", 11));
  Put("convert", "decimal", std::string("\x11 \0-2147483649", 15));
  Put("convert", "partition", std::string("\x02+\0 a : b +  c * d :", 21));
  Put("convert", "utf8",
      std::string("\x07,\0gr\xC3\xBC\xC3\x9F,\xE2\x82\xAC,\xF0\x9F\x98\x80", 19));
  Put("convert", "invalid-utf8", std::string("\x03;\0\xFF\xFE;\xC3(;\xED\xA0\x80", 12));
}

void RegisterSeeds() {
  // flags, 512-byte image (CID/CSD/SCR/... share the front), size word.
  const uint8_t csdV2[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                             0xED, 0xC8, 0x7F, 0x80, 0x0A, 0x40, 0x40, 0x01};
  const uint8_t csdV1[16] = {0x00, 0x2F, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC8,
                             0xAD, 0xDB, 0xCF, 0xFF, 0xD2, 0x40, 0x40, 0x01};
  const uint8_t cid[16] = {0x03, 0x53, 0x44, 0x53, 0x55, 0x33, 0x32, 0x47,
                           0x80, 0x12, 0x34, 0x56, 0x78, 0x01, 0x4A, 0x01};
  for (const auto &seed : {std::make_pair("csd-v2", csdV2), std::make_pair("csd-v1", csdV1),
                           std::make_pair("cid", cid)}) {
    Bytes b(1 + 512 + 16, 0);
    b[0] = 0x1B;
    std::memcpy(&b[1], seed.second, 16);
    b[1 + 512] = 0x07;
    b[1 + 515] = 0x40;
    Put("registers", seed.first, b);
  }
  Bytes ext(1 + 512 + 16, 0);
  ext[0] = 0x03;
  ext[1 + 212] = 0x00; // SEC_COUNT little-endian
  ext[1 + 213] = 0x00;
  ext[1 + 214] = 0xE4;
  ext[1 + 215] = 0x00;
  ext[1 + 192] = 8;
  ext[1 + 196] = 0x57;
  Put("registers", "ext-csd", ext);
}

void MountSeeds() {
  Put("mount", "partition",
      std::string("/dev/sdx\n/dev/sda1 / ext4 rw,relatime 0 0\n"
                  "/dev/sdx1 /media/card vfat rw,nosuid,nodev 0 0\n"));
  Put("mount", "read-only", std::string("/dev/sdx\n/dev/sdx /mnt/a\\040b vfat ro,noatime 0 0\n"));
  Put("mount", "mmc",
      std::string("/dev/mmcblk0\n/dev/mmcblk0p12 /run/media/x exfat rw,ro2 0 0\n"
                  "/dev/mmcblk01 /x vfat rw 0 0\n"));
  Put("mount", "not-mounted",
      std::string("/dev/sdx\n/dev/sdxa /x vfat rw 0 0\n/dev/sd /y vfat rw\n"));
}

_SMART_INFO_HEADER HostHeader(unsigned char type, unsigned int entries) {
  _SMART_INFO_HEADER h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.Signature, "SI0", 3);
  std::memcpy(h.HWVersion, "VC-A100-SDSIM", 13);
  std::memcpy(h.FWVersion, "FW1.07.22", 9);
  const uint8_t id[6] = {0x98, 0x3A, 0x98, 0xA3, 0x76, 0x51};
  std::memcpy(h.FlashID, id, 6);
  h.FlashTypeCode = 2;
  h.PECycleCount = 3000;
  h.BaseVBEntryCount = entries;
  h.InitialBadBlockCount = 12;
  h.MinSpareBlockCount = 40;
  h.ECCCapacity = 72;
  h.TotalEraseCount = 120 * entries;
  h.PowerCycleCount = 812;
  h.DetailType = type;
  h.CECount = 2;
  h.BlocksPerVB = 4;
  h.MPVersionMajor = 3;
  h.MPVersionMinor = 12;
  h.TotalVBCount = entries;
  h.VBsPerUnit = 0;
  h.DetailSectorCount = static_cast<unsigned char>((entries + 255) / 256);
  h.DetailSectorCountEx = static_cast<uint16_t>((entries + 255) / 256);
  h.MinEraseCount = 100;
  h.MaxEraseCount = 140;
  const uint8_t cidBytes[16] = {0x03, 0x53, 0x44, 0x53, 0x55, 0x33, 0x32, 0x47,
                                0x80, 0x12, 0x34, 0x56, 0x78, 0x01, 0x4A, 0x01};
  std::memcpy(h.CID, cidBytes, 16);
  std::memcpy(h.ClientMark, "SDSIM VIRTUAL CARD", 18);
  h.HeaderVersion = 2;
  return h;
}

Bytes CardForm(const _SMART_INFO_HEADER &host) {
  Bulk<unsigned char> out(512);
  CSmartInfoHeader(host).ToBuffer(out);
  return Bytes(out.Data(), out.Data() + 512);
}

// Detail sectors of big-endian 16-bit values.
Bytes Detail(unsigned int entries, unsigned int sectors, unsigned int base) {
  Bytes b(static_cast<size_t>(sectors) * 512, 0xFF);
  for (unsigned int i = 0; i < entries; ++i) {
    const unsigned int v = (i % 97 == 5) ? 0xFFFE : base + (i * 31) % 40;
    b[2 * i] = static_cast<uint8_t>(v >> 8);
    b[2 * i + 1] = static_cast<uint8_t>(v);
  }
  return b;
}

void Append(Bytes &to, const Bytes &from) { to.insert(to.end(), from.begin(), from.end()); }

void SmartSeeds() {
  const unsigned int n = 600; // three detail sectors
  // Saved pages: header and detail.
  for (unsigned char type : {1, 2, 3}) {
    Bytes b = CardForm(HostHeader(type, n));
    Append(b, Detail(n, 3, type == 3 ? 0 : 100));
    Put("smart_file", "type" + std::to_string(type), b);
  }
  {
    _SMART_INFO_HEADER h = HostHeader(2, n);
    h.GlobalRemainderSectorCount = 2;
    h.DetailSectorCountEx = 4;
    h.DetailSectorCount = 4;
    Bytes b = CardForm(h);
    Bytes pairs(4 * 512, 0xFF);
    for (unsigned int j = 0; j < 200; ++j) {
      pairs[2 * j] = static_cast<uint8_t>((j * 3) >> 8); // index sector 0
      pairs[2 * j + 1] = static_cast<uint8_t>(j * 3);
      pairs[512 + 2 * j] = 0; // value sector 1
      pairs[512 + 2 * j + 1] = static_cast<uint8_t>(j);
    }
    Append(b, pairs);
    Append(b, Bytes(2 * 512, 0x11));
    Put("smart_file", "global-read-count", b);
  }

  // Card answers. Byte 0: bit 0 version 3, bits 1..3 selection index
  // (0:0 1:1 2:2 3:4 4:7 5:8 6:3 7:6); byte 1: bit 0 mounted, bit 1 read-only,
  // bit 3 native host.
  _SMART_INFO_HEADER busy = HostHeader(0, n);
  busy.BusyFlag = 1;
  {
    Bytes b = {0 << 1, 0};
    Append(b, CardForm(busy));
    Append(b, CardForm(HostHeader(0, n)));
    Put("smart_card", "v2-header-only", b);
  }
  {
    Bytes b = {4 << 1, 0}; // erase, read and run-time bad counts
    for (unsigned char type : {1, 2, 3}) {
      Append(b, CardForm(HostHeader(type, n)));
      Append(b, Detail(n, 3, type == 3 ? 0 : 100));
    }
    Put("smart_card", "v2-all-details", b);
  }
  {
    Bytes b = {5 << 1, 0}; // PMT clean: header, two busy polls, the confirmation
    Append(b, CardForm(HostHeader(16, n)));
    _SMART_INFO_HEADER poll = HostHeader(16, n);
    poll.BusyFlag = 1;
    Append(b, CardForm(poll));
    Append(b, CardForm(poll));
    Append(b, Bytes(512, 0));
    Put("smart_card", "v2-pmt-clean", b);
  }
  {
    _SMART_INFO_HEADER h = HostHeader(1, n);
    h.HeaderVersion = 1; // the first detail sector may be busy too
    Bytes b = {1 << 1, 0};
    Append(b, CardForm(h));
    Append(b, CardForm(busy));
    Append(b, Detail(n, 3, 100));
    Put("smart_card", "v2-erase-busy-detail", b);
  }
  {
    Bytes b = {1 | (1 << 1), 1, 2560 >> 8, 2560 & 0xFF}; // version 3, erase counts in the file
    Append(b, CardForm(busy));
    Append(b, CardForm(HostHeader(1, n)));
    Append(b, Detail(n, 3, 100));
    Put("smart_card", "v3-file-erase", b);
  }
  {
    Bytes b = {1 | (0 << 1), 1, 0, 0}; // version 3, header only; no answer, then version 2
    Append(b, CardForm(HostHeader(0, n)));
    Put("smart_card", "v3-no-answer-fallback", b);
  }
  {
    Bytes b = {1 | (1 << 1), 3}; // version 3 on a read-only mount
    Put("smart_card", "v3-read-only", b);
  }
  {
    // A flaky reader: the first read of the erase counts fails, the run
    // leaves special mode and restores sector 0 (control byte 0 lets a
    // transfer through, 0xF0 fails it).
    Bytes b = {1 << 1, 16, 0, 0, 0, 0, 0}; // backup read, four mode writes
    Append(b, Bytes{0});
    Append(b, CardForm(HostHeader(1, n)));
    Append(b, Bytes{0xF0});
    Put("smart_card", "flaky-read-fails", b);
  }
  {
    Bytes b = {4 << 1, 8}; // the native host: all details
    for (unsigned char type : {1, 2, 3}) {
      Append(b, CardForm(HostHeader(type, n)));
      Append(b, Detail(n, 3, type == 3 ? 0 : 100));
    }
    Put("smart_card", "native-v2-all-details", b);
  }
  {
    Bytes b = {1 | (2 << 1), 9, 2048 >> 8, 2048 & 0xFF}; // native, version 3, read counts
    Append(b, CardForm(HostHeader(2, n)));
    Append(b, Detail(n, 3, 100));
    Put("smart_card", "native-v3-file-read", b);
  }
}

void StatisticsSeeds() {
  // Regions, weight, small-value switch, then the values.
  Bytes counts = {10, 4, 1};
  for (unsigned int i = 0; i < 600; ++i) {
    const unsigned int v = 100 + (i * 31) % 40;
    counts.push_back(static_cast<uint8_t>(v >> 8));
    counts.push_back(static_cast<uint8_t>(v));
  }
  Put("statistics", "erase-counts", counts);
  Bytes markers = {5, 0, 0};
  for (uint32_t v : {0xFFFFFFFEu, 0xFFFFEu, 3u, 0xFFFDu, 0xFFFEu, 7u, 0xFFFFDu, 0u})
    for (int shift = 24; shift >= 0; shift -= 8)
      markers.push_back(static_cast<uint8_t>(v >> shift));
  Put("statistics", "markers", markers);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  mkdir(g_root.c_str(), 0755);
  ConfigSeeds();
  ConvertSeeds();
  RegisterSeeds();
  MountSeeds();
  SmartSeeds();
  StatisticsSeeds();
  return 0;
}
