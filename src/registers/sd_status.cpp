// SPDX-License-Identifier: MIT
#include "sdsmart/sd_status.h"

#include <algorithm>
#include <cstring>

#include "registers/report_text.h"
#include "sdsmart/data_buf.h"

using namespace RegisterText;

namespace {

// The AU size for codes 1 to 15 in KiB (code 0: not defined).
const unsigned int kAuSizeKiB[] = {0,    16,   32,   64,    128,   256,   512,   1024,
                                   2048, 4096, 8192, 12288, 16384, 24576, 32768, 65536};

std::wstring AuSizeText(unsigned int code) {
  const unsigned int kib = kAuSizeKiB[code & 15];
  if (kib == 0)
    return L"Not Defined";
  return kib < 1024 ? Dec(kib) + L" KB" : Dec(kib / 1024) + L" MB";
}

} // namespace

CSdStatus::CSdStatus(bool extendedFields, bool protectedAreaInBytes, unsigned char *status)
    : CSdStatus(extendedFields, protectedAreaInBytes, static_cast<const unsigned char *>(status)) {}

CSdStatus::CSdStatus(bool extendedFields, bool protectedAreaInBytes, const unsigned char *status)
    : protectedAreaInBytes(protectedAreaInBytes), extendedFields(extendedFields) {
  std::memcpy(this->status, status, sizeof this->status);
}

void CSdStatus::GetContent(unsigned char *out, unsigned int length) {
  std::memcpy(out, status, std::min<size_t>(length, sizeof status));
}

void CSdStatus::Set_VSC_AU_Size(unsigned short v) {
  Put(SdStatusField::VSC_AU_SIZE, v);
  Put(SdStatusField::RESERVED_383_378, 0);
}

void CSdStatus::SetSuspentionAddress(unsigned int v) {
  Put(SdStatusField::SUS_ADDR, v);
  Put(SdStatusField::RESERVED_345_344, 0);
}

void CSdStatus::SetAppPerformanceClass(unsigned char v) {
  Put(SdStatusField::APP_PERF_CLASS, v);
  Put(SdStatusField::RESERVED_343_340, 0);
}

void CSdStatus::Set_Discard_Support(unsigned char v) {
  Put(SdStatusField::DISCARD_SUPPORT, v);
  Put(SdStatusField::RESERVED_319_314, 0);
}

void CSdStatus::Set_FULE_Support(unsigned char v) {
  Put(SdStatusField::FULE_SUPPORT, v);
  Put(SdStatusField::RESERVED_319_314, 0);
}

unsigned char CSdStatus::Get_SU_Size_By_AU_Size(unsigned short vscAuSize) {
  for (unsigned char su : {10, 9, 8, 7})
    if (vscAuSize % su == 0)
      return su;
  return 8;
}

std::wstring CSdStatus::Parse(unsigned int indent) {
  CReportText r(indent);
  r.Line(L"SD Status Register");
  r.Line(L"---------------------------------");
  r.Raw(CDataBuf(16, 1, 1, false, indent).Dump(status, sizeof status, false));

  const unsigned int busWidth = GetDataBusWidth();
  r.Line(L"Current DAT Bus Width  = " + (busWidth == 0   ? std::wstring(L"1 bit(DAT0)")
                                         : busWidth == 2 ? L"4 bit(DAT0-3)"
                                                         : Dec(busWidth) + L"(reserved)"));
  r.Line(GetSecuredMode() ? L"Secured Mode           = In Secured Mode"
                          : L"Secured Mode           = Not in the Mode");
  const unsigned int cardType = GetCardType();
  r.Line(L"SD Card Type           = " + (cardType == 0   ? std::wstring(L"Regular SD RD/WR Card")
                                         : cardType == 1 ? L"SD ROM Card"
                                                         : Dec(cardType) + L"(reserved)"));
  r.Line(L"Size of Protected Area = " + Dec(GetProtectedAreaSize()) +
         (protectedAreaInBytes ? L" Bytes" : L" * (MULT * BLOCK_LEN)"));

  static const unsigned int kSpeedClass[] = {0, 2, 4, 6, 10};
  const unsigned int speedClass = GetSpeedClass();
  r.Line(L"Speed Class            = " + (speedClass < std::size(kSpeedClass)
                                             ? L"Class " + Dec(kSpeedClass[speedClass])
                                             : Dec(speedClass) + L" (Reserved)"));
  const unsigned int move = GetPerformanceMove();
  r.Line(L"Performance Move       = " + (move == 0     ? std::wstring(L"Not Defined")
                                         : move == 255 ? L"Infinity"
                                                       : Dec(move) + L" MB/sec"));
  r.Line(L"AU Size                = " + AuSizeText(Get_AU_Size()));
  // The erase size counts AUs; the bracket gives the bytes they cover.
  const unsigned int eraseSize = GetEraseSize();
  r.Line(L"Erase Size             = " +
         (eraseSize == 0 ? std::wstring(L"Not Defined")
                         : Dec(eraseSize) + L" AU (0x" +
                               Hex(uint64_t{eraseSize} * kAuSizeKiB[Get_AU_Size()] * 1024) + L")"));
  const unsigned int timeout = GetEraseTimeout();
  r.Line(L"Erase Timeout          = " +
         (timeout == 0 ? std::wstring(L"Not Defined") : Dec(timeout) + L" sec"));
  r.Line(L"Erase Offset           = " + Dec(GetEraseOffset()) + L" sec");
  static const wchar_t *const kUhsGrade[] = {L"Less than 10MB/sec", L"10MB/sec and above",
                                             L"Reserved", L"30MB/sec and above"};
  r.Line(L"UHS Speed Grade        = " +
         std::wstring(TableText(kUhsGrade, Get_UHS_SpeedGrade(), L"Reserved")));
  r.Line(L"UHS AU Size            = " + AuSizeText(Get_UHS_AU_Size()));
  if (!extendedFields)
    return r.Text();

  const unsigned int video = GetVideoSpeedClass();
  r.Line(L"Video Speed Class      = " + (video < 91 ? Dec(video) : std::wstring(L"Others")));
  const unsigned short vscAu = Get_VSC_AU_Size();
  r.Line(L"VSC AU SIZE            = " + Dec(vscAu) + L" MB, SU Size = " +
         Dec(Get_SU_Size_By_AU_Size(vscAu)) + L" MB");
  const unsigned int suspension = GetSuspentionAddress();
  r.Line(suspension != 0 ? L"Suspention Address     = " + Dec(suspension) + L" (512KB)"
                         : std::wstring(L"Suspention Address     = No valid suspention address"));
  const unsigned int appClass = GetAppPerformanceClass();
  r.Line(L"App. Performance Class = " + (appClass == 0   ? std::wstring(L"Not Supported")
                                         : appClass == 1 ? Dec(1) + L" A1"
                                                         : L"Invalid Value"));
  r.Line(Get_Discard_Support() ? L"DISCARD Operation      = Supported"
                               : L"DISCARD Operation      = None Supported");
  r.Line(Get_FULE_Support() ? L"FULE Operation         = Supported"
                            : L"FULE Operation         = None Supported");
  return r.Text();
}

unsigned char CSdStatus::GetDataBusWidth() { return Byte(SdStatusField::DAT_BUS_WIDTH); }

bool CSdStatus::GetSecuredMode() { return Field(SdStatusField::SECURED_MODE); }

unsigned short CSdStatus::GetCardType() { return Short(SdStatusField::SD_CARD_TYPE); }

unsigned int CSdStatus::GetProtectedAreaSize() {
  return Field(SdStatusField::SIZE_OF_PROTECTED_AREA);
}

unsigned char CSdStatus::GetSpeedClass() { return Byte(SdStatusField::SPEED_CLASS); }

unsigned char CSdStatus::GetPerformanceMove() { return Byte(SdStatusField::PERFORMANCE_MOVE); }

unsigned char CSdStatus::Get_AU_Size() { return Byte(SdStatusField::AU_SIZE); }

unsigned short CSdStatus::GetEraseSize() { return Short(SdStatusField::ERASE_SIZE); }

unsigned char CSdStatus::GetEraseTimeout() { return Byte(SdStatusField::ERASE_TIMEOUT); }

unsigned char CSdStatus::GetEraseOffset() { return Byte(SdStatusField::ERASE_OFFSET); }

unsigned char CSdStatus::Get_UHS_SpeedGrade() { return Byte(SdStatusField::UHS_SPEED_GRADE); }

unsigned char CSdStatus::Get_UHS_AU_Size() { return Byte(SdStatusField::UHS_AU_SIZE); }

unsigned char CSdStatus::GetVideoSpeedClass() { return Byte(SdStatusField::VIDEO_SPEED_CLASS); }

unsigned short CSdStatus::Get_VSC_AU_Size() { return Short(SdStatusField::VSC_AU_SIZE); }

unsigned int CSdStatus::GetSuspentionAddress() { return Field(SdStatusField::SUS_ADDR); }

unsigned char CSdStatus::GetAppPerformanceClass() { return Byte(SdStatusField::APP_PERF_CLASS); }

unsigned char CSdStatus::Get_Discard_Support() { return Byte(SdStatusField::DISCARD_SUPPORT); }

unsigned char CSdStatus::Get_FULE_Support() { return Byte(SdStatusField::FULE_SUPPORT); }

void CSdStatus::SetProtectedAreaSize(unsigned int v) {
  Put(SdStatusField::SIZE_OF_PROTECTED_AREA, v);
}

void CSdStatus::SetSpeedClass(unsigned char v) { Put(SdStatusField::SPEED_CLASS, v); }

void CSdStatus::SetPerformanceMove(unsigned char v) { Put(SdStatusField::PERFORMANCE_MOVE, v); }

void CSdStatus::Set_AU_Size(unsigned char v) { Put(SdStatusField::AU_SIZE, v); }

void CSdStatus::SetEraseSize(unsigned short v) { Put(SdStatusField::ERASE_SIZE, v); }

void CSdStatus::SetEraseTimeout(unsigned char v) { Put(SdStatusField::ERASE_TIMEOUT, v); }

void CSdStatus::SetEraseOffset(unsigned char v) { Put(SdStatusField::ERASE_OFFSET, v); }

void CSdStatus::Set_UHS_SpeedGrade(unsigned char v) { Put(SdStatusField::UHS_SPEED_GRADE, v); }

void CSdStatus::Set_UHS_AU_Size(unsigned char v) { Put(SdStatusField::UHS_AU_SIZE, v); }

void CSdStatus::SetVideoSpeedClass(unsigned char v) { Put(SdStatusField::VIDEO_SPEED_CLASS, v); }
