// SPDX-License-Identifier: MIT
// Every code and text of the error catalogue, as hosts have always read them
// (typos, missing full stops and trailing blanks included).
#include "util/error_catalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Pinned {
  CError error;
  int64_t code;
  const wchar_t *text;
};

} // namespace

TEST(ErrorCatalogue, CodesAndTexts) {
  using namespace Errors;
  const Pinned pinned[] = {
      {MakeError(NoError), 0, L""},
      {MakeError(UnknownError), 65534, L"Unknown Error"},
      {MakeError(UsbReadFailed), 4098, L"USB Transaction Error (0)"},
      {MakeError(UsbWriteFailed), 4098, L"USB Transaction Error (1)"},
      {MakeError(DriveNotFound, {L"/dev/sdx"}), 4106,
       L"Drive not found, please detect again! /dev/sdx"},
      {MakeError(DriveNotFound), 4106, L"Drive not found, please detect again! "},
      {MakeError(DiskNotReady), 4108, L"[Error] : Disk is not ready."},
      {MakeError(UsbDiskSize), 4608, L"[Error] : Cannot read USB disk size."},
      {MakeError(ReadCapacityFailed), -1, L"Read Capacity Fail!!"},
      {MakeError(ReadWriteSectorFailed), -1, L"ReadWriteSector error!!"},
      {MakeError(SendStatusFailed), -1, L"Send Status Error \n"},
      {MakeError(StopTransmissionFailed), -1, L"Stop Transmission Error \n"},
      {MakeError(SetBlockCountFailed), -1, L"Set Block Count Error \n"},
      {MakeError(UnsupportedSmartVersion), 12290, L"Unsupported SMART Version"},
      {MakeError(PatternInSectorZero), -1,
       L"Sector 0 holds a special-mode pattern; restore the saved sector 0 first."},
      {MakeError(DeviceBusy, {L"/dev/sdx"}), -1,
       L"Device is busy: another acquisition is running on /dev/sdx"},
      {MakeError(DeviceNotLockable, {L"/dev/sdx"}), -1,
       L"Cannot lock the device for the acquisition: /dev/sdx"},
      {MakeError(ConfigFileMissing), 16384, L"config file not exist."},
      {MakeError(NoConfigFile), -1, L"Can't find config file"},
      {MakeError(CardSizeFailed), 8194, L"Get Card Size Fail"},
      {MakeError(SmartContents), 12288, L"Incorrect S.M.A.R.T contents."},
      {MakeError(DetailTypeMismatch), 12289, L"Type to indicated detail data is mismatched."},
      {MakeError(FileDetailTypeMismatch), 12289, L"Type to indicated detail data is mismatched"},
      {MakeError(WrongVersionEraseCount), 12290, L"Wrong SmartVer on Read Erase Count Data."},
      {MakeError(WrongVersionNativeReadCount), 12290,
       L"Wrong SmartVer on Read Native Read Count Data."},
      {MakeError(WrongVersionGlobalReadCount), 12290,
       L"Wrong SmartVer on Read Global Read Count Data."},
      {MakeError(WrongVersionRunTimeBad), 12290, L"Wrong SmartVer on Read Run time Bad Data."},
      {MakeError(WrongSmartVersion, {L"4"}), -1, L"Smart Version 4 is not correct"},
      {MakeError(HeaderBusy), -1, L"Header is busy."},
      {MakeError(ForceErasePmtFailed), -1, L"Force Erase PMT Fail."},
      {MakeError(DeleteSmartFileFailed), 12292, L"Delete Smart File Fail."},
      {MakeError(UserTerminated), 36864, L"User terminated"},
      {MakeError(WriteProtected), 40960, L"Card Write Protected"},
      {MakeError(AlignCreateFile), 45057, L"posix_memalign failed in CreateFile."},
      {MakeError(AlignEnterMode), 45057, L"posix_memalign failed in ESM2."},
      {MakeError(AlignReadFile), 45057, L"posix_memalign failed in ReadFile."},
      {MakeError(IncorrectController, {L"7"}), 36869, L"[Error] : Incorrect controller type = 7"},
      {MakeError(ForeignController, {L"WK805A0B"}), 36869,
       L"Controller type is WK805A0B, not NV6459A0A."},
      {CBufferSizeError("X", 7, 512), 45056, L"[Error] : Buffer size < 512 at X, Line = 7"},
      {CSectorBufferSizeError("SpecialMode2Cmd", 262, 513), 45056,
       L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 262"},
      {CArrayIndexError("Y", 3, 9, 8), 45056,
       L"[Error] : Access index 9 exceeds array size 8 at Y, Line = 3"},
      {COpenFileError(L"a.bin"), 16384, L"[Error] : Cann't open file, a.bin."},
      {MakeError(CannotWriteFile, {L"a.bin"}), -1, L"[Error] : Cannot write file, a.bin."},
      {MakeError(CannotReadFile, {L"a.bin"}), -1, L"[Error] : Cannot read file, a.bin."},
      {MakeError(EmptyNumber), -1, L"[ Error] : Cann't convert empty string to integer."},
      {MakeError(NotANumber, {L"1z"}), -1, L"[Error] : Cann't convert \"1z\" to integer."},
      {MakeIniError(IniMissing, L"c", {L";", L"3"}), 20480,
       L"[Ini File Error] c\n : Missing ';' on line = 3."},
      {MakeIniError(IniMissingStar, L"c", {L"0"}), 20480,
       L"[Ini File Error] c\n : missing '*' on line = 0."},
      {MakeIniError(IniNoSection, L"c", {L"S"}), 20481, L"[Ini File Error] c\n : Can't find [S]."},
      {MakeIniError(IniNoKey, L"c", {L"K", L"S"}), 20482,
       L"[Ini File Error] c\n : Cann't find \"K\" in the [S]."},
      {MakeIniError(IniEmptyInteger, L"c"), 20483,
       L"[Ini File Error] c\n : Cann't convert empty string to integer."},
      {MakeIniError(IniNotInteger, L"c", {L"v"}), 20483,
       L"[Ini File Error] c\n : Cann't convert \"v\" to integer."},
      {MakeIniError(IniTooFewIntegers, L"c", {L"1", L"2", L"K", L"S"}), 20484,
       L"[Ini File Error] c\n : Actual integer count = 1, not 2 when Read \"K\" in the [S]."},
  };
  for (const Pinned &p : pinned) {
    EXPECT_EQ(p.error.GetCode(), p.code) << p.text;
    EXPECT_EQ(p.error.GetText(), p.text);
  }
}

// A detail is put in as it is, even where it looks like a place for one.
TEST(ErrorCatalogue, DetailsAreNotSearchedForPlaces) {
  EXPECT_EQ(MakeIniError(Errors::IniNoSection, L"/tmp/{}.ini", {L"S"}).GetText(),
            L"[Ini File Error] /tmp/{}.ini\n : Can't find [S].");
  EXPECT_EQ(ErrorText(Errors::DeviceBusy, {L"/dev/{}"}),
            L"Device is busy: another acquisition is running on /dev/{}");
}
