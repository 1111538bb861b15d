// SPDX-License-Identifier: MIT
// Identity of the card and the library: version texts, CID fields, raw
// register copies and the customer mark, all from the session record.
#include "interface/capacity.h"
#include "interface/session.h"
#include "sdsmart/convert.h"
#include "sdsmart/flash_naming.h"

#include <cstring>
#include <string>

namespace {

// Runs an accessor body that builds text into `buffer`; on a failure (only
// allocation can fail here) the buffer is left empty rather than letting the
// exception out.
template <typename F> const char *BuildText(std::string &buffer, F &&build) {
  try {
    build();
  } catch (...) {
    buffer.clear();
  }
  return buffer.c_str();
}

// All 16 bytes, zero bytes included: a caller sees the text up to its first
// zero byte.
void CopyVersionField(std::string &buffer, const unsigned char (&field)[16]) {
  buffer.assign(reinterpret_cast<const char *>(field), sizeof field);
}

// Flash IDs whose cards carry the 6459 production tool whatever their size.
const wchar_t *const Flash6459Ids[] = {L"45 de 94 93 76 51", L"45 3a 94 93 76 51",
                                       L"45 3c 95 93 7a 51", L"45 3e 96 93 7e 51",
                                       L"45 3a 95 93 7a 51", L"45 3c 96 93 7e 51"};

int RegisterCopy(const unsigned char *field, unsigned int n, unsigned char *buffer,
                 unsigned int size) {
  if (_Header.HeaderVersion == 0)
    return -1;
  if (n > size)
    return 0;
  std::memcpy(buffer, field, n);
  return static_cast<int>(n);
}

} // namespace

extern "C" const char *GetFWVersion() {
  return BuildText(_FWVersion, [] { CopyVersionField(_FWVersion, _Header.FWVersion); });
}

extern "C" const char *GetHWVersion() {
  return BuildText(_HWVersion, [] { CopyVersionField(_HWVersion, _Header.HWVersion); });
}

extern "C" const char *GetMPVersion() {
  return BuildText(_MPVersion, [] {
    const unsigned int cap = GetCapacityMB();
    std::string prefix = cap > 2048 ? "6459." : "6437.";
    const std::string hw = GetHWVersion(); // up to its first zero byte
    if (hw.find("6459") != std::string::npos) {
      if (_AuthorCode == 7)
        prefix = "6459.";
      const std::wstring flashId = FlashIDToString(_Header.FlashID);
      for (const wchar_t *id : Flash6459Ids)
        if (flashId == id)
          prefix = "6459.";
    } else if (hw.find("6461") != std::string::npos) {
      prefix = "6461.";
    }
    const int code = _AuthorCode == 65534 ? 0 : _AuthorCode;
    _MPVersion = prefix + std::to_string(code) + "." + std::to_string(_Header.MPVersionMajor) +
                 "." + std::to_string(_Header.MPVersionMinor);
  });
}

extern "C" const char *GetLibraryVersion() {
  return BuildText(_LibVersion, [] {
    if (_UseExternelSDKName) {
      _LibVersion = ToNarrowString(_ExternelSDKName);
      return;
    }
    _LibVersion = "6459." + std::to_string(_SmartVerSupport) + ".0.0.228.0";
  });
}

extern "C" const char *GetFlashID() { return _FlashID.c_str(); }
extern "C" const char *GetFlashType() { return _FlashType.c_str(); }

// The OEM part of the CID: its first 8 bytes without the zero bytes.
extern "C" const char *GetCustomizedID_CID() {
  return BuildText(_CustomizedID_CID, [] {
    _CustomizedID_CID.clear();
    for (int i = 0; i < 8; ++i)
      if (_Header.CID[i] != 0)
        _CustomizedID_CID += static_cast<char>(_Header.CID[i]);
  });
}

extern "C" const char *GetManufactureName_CID() {
  return BuildText(_ManufactureName_CID, [] {
    const bool ours = std::memcmp(_Header.Signature, "SI0", 3) == 0;
    // "UnKnow" as hosts have always matched it.
    _ManufactureName_CID = ours ? "Tolvarex" : "UnKnow";
  });
}

extern "C" unsigned short GetProductRevision_CID() {
  _ProductRevision_CID = _Header.CID[8];
  return _ProductRevision_CID;
}

extern "C" unsigned int GetSerialNumber_CID() {
  const unsigned char *sn = _Header.CID + 9;
  _ProductSN_CID = (static_cast<unsigned int>(sn[0]) << 24) +
                   (static_cast<unsigned int>(sn[1]) << 16) +
                   (static_cast<unsigned int>(sn[2]) << 8) + sn[3];
  return _ProductSN_CID;
}

extern "C" const char *GetManufacturingDate_CID() {
  static const char *const months[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
  return BuildText(_ManufacturingDate_CID, [] {
    const unsigned int hi = _Header.CID[13];
    const unsigned int lo = _Header.CID[14];
    const unsigned int year = (hi << 4) + (lo >> 4) + 2000;
    const unsigned int month = lo & 0x0F;
    if (month >= 1 && month <= 12)
      _ManufacturingDate_CID = months[month - 1];
    else
      _ManufacturingDate_CID = "month = " + std::to_string(month);
    _ManufacturingDate_CID += " " + std::to_string(year);
  });
}

extern "C" int GetSD_CID(unsigned char *buffer, unsigned int size) {
  return RegisterCopy(_Header.CID, sizeof _Header.CID, buffer, size);
}
extern "C" int GetSD_CSD(unsigned char *buffer, unsigned int size) {
  return RegisterCopy(_Header.CSD, sizeof _Header.CSD, buffer, size);
}
extern "C" int GetSD_SCR(unsigned char *buffer, unsigned int size) {
  return RegisterCopy(_Header.SCR, sizeof _Header.SCR, buffer, size);
}

// A copy of the mark up to its first zero byte, at most its 356 bytes, in a
// buffer of its own: the header field itself need not be terminated.
extern "C" const char *GetClientMark() {
  return BuildText(_ClientMark, [] {
    const char *mark = reinterpret_cast<const char *>(_Header.ClientMark);
    _ClientMark.assign(mark, strnlen(mark, sizeof _Header.ClientMark));
  });
}
