// SPDX-License-Identifier: MIT
// What of the error catalogue a host can be hurt by: a code of the public
// header that two meanings share or that no error carries, and the texts of
// the errors told by their text alone (hosts match those as they have always
// read them, typos and trailing blanks included).
#include "sdsmart/sdsmart.h"
#include "util/error_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ErrorCatalogue, EveryHeaderCodeIsOneErrorsCode) {
  using namespace Errors;
  const std::pair<int, ErrorMessage> raised[] = {
      {SDSMART_E_NONE, NoError},
      {SDSMART_E_USB_TRANSACTION, UsbWriteFailed},
      {SDSMART_E_DEVICE_NOT_FOUND, DriveNotFound},
      {SDSMART_E_DEVICE_NOT_READY, DiskNotReady},
      {SDSMART_E_USB_DISK_SIZE, UsbDiskSize},
      {SDSMART_E_CARD_SIZE, CardSizeFailed},
      {SDSMART_E_SMART_CONTENTS, SmartContents},
      {SDSMART_E_DETAIL_TYPE_MISMATCH, DetailTypeMismatch},
      {SDSMART_E_SMART_VERSION, UnsupportedSmartVersion},
      {SDSMART_E_DELETE_SMART_FILE, DeleteSmartFileFailed},
      {SDSMART_E_FILE_NOT_OPENED, ConfigFileMissing},
      {SDSMART_E_INI_SYNTAX, IniMissing},
      {SDSMART_E_INI_SECTION_MISSING, IniNoSection},
      {SDSMART_E_INI_KEY_MISSING, IniNoKey},
      {SDSMART_E_INI_NOT_INTEGER, IniNotInteger},
      {SDSMART_E_INI_TOO_FEW_INTEGERS, IniTooFewIntegers},
      {SDSMART_E_USER_TERMINATED, UserTerminated},
      {SDSMART_E_WRONG_CONTROLLER, IncorrectController},
      {SDSMART_E_WRITE_PROTECTED, WriteProtected},
      {SDSMART_E_ALIGNED_ALLOCATION, AlignReadFile},
      {SDSMART_E_UNKNOWN, UnknownError},
      {SDSMART_E_UNCODED, HeaderBusy}};
  std::set<int> codes;
  for (const auto &[code, message] : raised) {
    EXPECT_TRUE(codes.insert(code).second) << "two names for " << code;
    EXPECT_EQ(MakeError(message).GetCode(), code);
  }
  EXPECT_EQ(CBufferSizeError("X", 1, 2).GetCode(), SDSMART_E_BUFFER_SIZE);
}

TEST(ErrorCatalogue, TextsOfUncodedErrors) {
  using namespace Errors;
  const std::pair<CError, const wchar_t *> pinned[] = {
      {MakeError(ReadCapacityFailed), L"Read Capacity Fail!!"},
      {MakeError(ReadWriteSectorFailed), L"ReadWriteSector error!!"},
      {MakeError(SendStatusFailed), L"Send Status Error \n"},
      {MakeError(StopTransmissionFailed), L"Stop Transmission Error \n"},
      {MakeError(SetBlockCountFailed), L"Set Block Count Error \n"},
      {MakeError(NoConfigFile), L"Can't find config file"},
      {MakeError(WrongSmartVersion, {L"4"}), L"Smart Version 4 is not correct"},
      {MakeError(HeaderBusy), L"Header is busy."},
      {MakeError(ForceErasePmtFailed), L"Force Erase PMT Fail."},
      {MakeError(CannotWriteFile, {L"a.bin"}), L"[Error] : Cannot write file, a.bin."},
      {MakeError(CannotReadFile, {L"a.bin"}), L"[Error] : Cannot read file, a.bin."},
      {MakeError(EmptyNumber), L"[ Error] : Cann't convert empty string to integer."},
      {MakeError(NotANumber, {L"1z"}), L"[Error] : Cann't convert \"1z\" to integer."},
      {MakeError(DeviceBusy, {L"/dev/sdx"}),
       L"Device is busy: another acquisition is running on /dev/sdx"},
  };
  for (const auto &[error, text] : pinned) {
    EXPECT_EQ(error.GetCode(), SDSMART_E_UNCODED) << text;
    EXPECT_EQ(error.GetText(), text);
  }
}

// A detail is put in as it is, even where it looks like a place for one.
TEST(ErrorCatalogue, DetailsAreNotSearchedForPlaces) {
  EXPECT_EQ(MakeIniError(Errors::IniNoSection, L"/tmp/{}.ini", {L"S"}).GetText(),
            L"[Ini File Error] /tmp/{}.ini\n : Can't find [S].");
  EXPECT_EQ(ErrorText(Errors::DeviceBusy, {L"/dev/{}"}),
            L"Device is busy: another acquisition is running on /dev/{}");
}
