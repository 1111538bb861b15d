// SPDX-License-Identifier: MIT
// The last error of the session and the two functions that report it.
#include "interface/boundary.h"
#include "sdsmart/convert.h"
#include "sdsmart/sdsmart.h"
#include "util/error_catalogue.h"

namespace {

// The public header names the codes a host compares against; they are the
// catalogue's numbers.
constexpr bool Same(SdsmartErrorCode named, ErrorCode code) {
  return static_cast<int64_t>(named) == static_cast<int64_t>(code);
}
static_assert(Same(SDSMART_E_UNCODED, ErrorCode::Uncoded));
static_assert(Same(SDSMART_E_NONE, ErrorCode::None));
static_assert(Same(SDSMART_E_USB_TRANSACTION, ErrorCode::UsbTransaction));
static_assert(Same(SDSMART_E_DEVICE_NOT_FOUND, ErrorCode::DeviceNotFound));
static_assert(Same(SDSMART_E_DEVICE_NOT_READY, ErrorCode::DeviceNotReady));
static_assert(Same(SDSMART_E_USB_DISK_SIZE, ErrorCode::UsbDiskSize));
static_assert(Same(SDSMART_E_CARD_SIZE, ErrorCode::CardSize));
static_assert(Same(SDSMART_E_SMART_CONTENTS, ErrorCode::SmartContents));
static_assert(Same(SDSMART_E_DETAIL_TYPE_MISMATCH, ErrorCode::DetailTypeMismatch));
static_assert(Same(SDSMART_E_SMART_VERSION, ErrorCode::SmartVersion));
static_assert(Same(SDSMART_E_DELETE_SMART_FILE, ErrorCode::DeleteSmartFile));
static_assert(Same(SDSMART_E_FILE_NOT_OPENED, ErrorCode::FileNotOpened));
static_assert(Same(SDSMART_E_INI_SYNTAX, ErrorCode::IniSyntax));
static_assert(Same(SDSMART_E_INI_SECTION_MISSING, ErrorCode::IniSectionMissing));
static_assert(Same(SDSMART_E_INI_KEY_MISSING, ErrorCode::IniKeyMissing));
static_assert(Same(SDSMART_E_INI_NOT_INTEGER, ErrorCode::IniNotInteger));
static_assert(Same(SDSMART_E_INI_TOO_FEW_INTEGERS, ErrorCode::IniTooFewIntegers));
static_assert(Same(SDSMART_E_USER_TERMINATED, ErrorCode::UserTerminated));
static_assert(Same(SDSMART_E_WRONG_CONTROLLER, ErrorCode::WrongController));
static_assert(Same(SDSMART_E_WRITE_PROTECTED, ErrorCode::WriteProtected));
static_assert(Same(SDSMART_E_BUFFER_SIZE, ErrorCode::BufferSize));
static_assert(Same(SDSMART_E_ALIGNED_ALLOCATION, ErrorCode::AlignedAllocation));
static_assert(Same(SDSMART_E_UNKNOWN, ErrorCode::Unknown));

} // namespace

CError _Error;
std::string _ErrorText;

void RecordUnknownError() { _Error = MakeError(Errors::UnknownError); }

extern "C" int GetErrorCode() { return static_cast<int>(_Error.GetCode()); }

extern "C" const char *GetErrorMessage() {
  try {
    _ErrorText = ToNarrowString(_Error.GetText());
  } catch (...) {
    // Out of memory while copying the text: hand out what the buffer holds.
  }
  return _ErrorText.c_str();
}
