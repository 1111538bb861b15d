// SPDX-License-Identifier: MIT
// Every error the library raises: its code and its text, in one place.
//
// Codes and texts are part of the interface: hosts compare GetErrorCode()
// against the numbers (the public header names them too, checked against
// these at build time) and show GetErrorMessage() to people. The texts stay
// exactly as hosts have always read them, typos and trailing blanks included.
#pragma once

#include "sdsmart/error.h"

#include <cstdint>
#include <initializer_list>
#include <string>

enum class ErrorCode : int64_t {
  Uncoded = -1, // the error is told by its text alone
  None = 0x0000,
  UsbTransaction = 0x1002,
  DeviceNotFound = 0x100A,
  DeviceNotReady = 0x100C,
  UsbDiskSize = 0x1200,
  CardSize = 0x2002,
  SmartContents = 0x3000,
  DetailTypeMismatch = 0x3001,
  SmartVersion = 0x3002,
  DeleteSmartFile = 0x3004,
  FileNotOpened = 0x4000,
  IniSyntax = 0x5000,
  IniSectionMissing = 0x5001,
  IniKeyMissing = 0x5002,
  IniNotInteger = 0x5003,
  IniTooFewIntegers = 0x5004,
  UserTerminated = 0x9000,
  WrongController = 0x9005,
  WriteProtected = 0xA000,
  BufferSize = 0xB000,
  AlignedAllocation = 0xB001,
  Unknown = 0xFFFE,
};

// One message: a code and its text. Each "{}" in the text stands for a detail
// filled in where the error is raised (a node, a file name, a number).
struct ErrorMessage {
  ErrorCode Code;
  const wchar_t *Text;
};

namespace Errors {

inline constexpr ErrorMessage NoError{ErrorCode::None, L""};
inline constexpr ErrorMessage UnknownError{ErrorCode::Unknown, L"Unknown Error"};

// Transport.
inline constexpr ErrorMessage UsbReadFailed{ErrorCode::UsbTransaction,
                                            L"USB Transaction Error (0)"};
inline constexpr ErrorMessage UsbWriteFailed{ErrorCode::UsbTransaction,
                                             L"USB Transaction Error (1)"};
inline constexpr ErrorMessage DriveNotFound{ErrorCode::DeviceNotFound,
                                            L"Drive not found, please detect again! {}"};
inline constexpr ErrorMessage DiskNotReady{ErrorCode::DeviceNotReady,
                                           L"[Error] : Disk is not ready."};
inline constexpr ErrorMessage UsbDiskSize{ErrorCode::UsbDiskSize,
                                          L"[Error] : Cannot read USB disk size."};
inline constexpr ErrorMessage ReadCapacityFailed{ErrorCode::Uncoded, L"Read Capacity Fail!!"};
inline constexpr ErrorMessage ReadWriteSectorFailed{ErrorCode::Uncoded, L"ReadWriteSector error!!"};
inline constexpr ErrorMessage SendStatusFailed{ErrorCode::Uncoded, L"Send Status Error \n"};
inline constexpr ErrorMessage StopTransmissionFailed{ErrorCode::Uncoded,
                                                     L"Stop Transmission Error \n"};
inline constexpr ErrorMessage SetBlockCountFailed{ErrorCode::Uncoded, L"Set Block Count Error \n"};

// Acquisition.
inline constexpr ErrorMessage UnsupportedSmartVersion{ErrorCode::SmartVersion,
                                                      L"Unsupported SMART Version"};
inline constexpr ErrorMessage PatternInSectorZero{
    ErrorCode::Uncoded,
    L"Sector 0 holds a special-mode pattern; restore the saved sector 0 first."};
inline constexpr ErrorMessage DeviceBusy{ErrorCode::Uncoded,
                                         L"Device is busy: another acquisition is running on {}"};
inline constexpr ErrorMessage DeviceNotLockable{ErrorCode::Uncoded,
                                                L"Cannot lock the device for the acquisition: {}"};
// The sector-0 journal (SetJournalDirectory). Every detail that names the
// journal is its path, so that a person can find it.
inline constexpr ErrorMessage JournalDirectoryUnusable{
    ErrorCode::Uncoded, L"The journal directory {} cannot be used: {}"};
inline constexpr ErrorMessage JournalUnreadable{
    ErrorCode::Uncoded, L"The journal {} cannot be read ({}); nothing was written to the card."};
inline constexpr ErrorMessage JournalNotSaved{
    ErrorCode::Uncoded, L"Cannot save sector 0 to the journal {} ({}); nothing was written to the "
                        L"card."};
inline constexpr ErrorMessage JournalOfAnotherCard{
    ErrorCode::Uncoded, L"Sector 0 holds a special-mode pattern, but the journal {} belongs to "
                        L"another card ({}; this card: {}); it is not applied and nothing was "
                        L"written."};
inline constexpr ErrorMessage JournalAmbiguous{
    ErrorCode::Uncoded, L"Sector 0 holds a special-mode pattern, and the journals {} both fit this "
                        L"card ({}) with different copies; neither is applied and nothing was "
                        L"written."};
inline constexpr ErrorMessage JournalDiffers{
    ErrorCode::Uncoded, L"The journal {} of an interrupted run holds another sector 0 than this "
                        L"card's ({}; this card: {}); nothing was written. Restore it to its "
                        L"card, or move it away."};
inline constexpr ErrorMessage JournalRestoreUnverified{
    ErrorCode::Uncoded, L"Sector 0 does not read back as the journal {} holds it; the journal is "
                        L"kept."};
inline constexpr ErrorMessage ConfigFileMissing{ErrorCode::FileNotOpened,
                                                L"config file not exist."};
inline constexpr ErrorMessage NoConfigFile{ErrorCode::Uncoded, L"Can't find config file"};

// SMART reader.
inline constexpr ErrorMessage CardSizeFailed{ErrorCode::CardSize, L"Get Card Size Fail"};
inline constexpr ErrorMessage SmartContents{ErrorCode::SmartContents,
                                            L"Incorrect S.M.A.R.T contents."};
inline constexpr ErrorMessage DetailTypeMismatch{ErrorCode::DetailTypeMismatch,
                                                 L"Type to indicated detail data is mismatched."};
// The host-file read has always said it without the full stop.
inline constexpr ErrorMessage FileDetailTypeMismatch{
    ErrorCode::DetailTypeMismatch, L"Type to indicated detail data is mismatched"};
inline constexpr ErrorMessage WrongVersionEraseCount{ErrorCode::SmartVersion,
                                                     L"Wrong SmartVer on Read Erase Count Data."};
inline constexpr ErrorMessage WrongVersionNativeReadCount{
    ErrorCode::SmartVersion, L"Wrong SmartVer on Read Native Read Count Data."};
inline constexpr ErrorMessage WrongVersionGlobalReadCount{
    ErrorCode::SmartVersion, L"Wrong SmartVer on Read Global Read Count Data."};
inline constexpr ErrorMessage WrongVersionRunTimeBad{ErrorCode::SmartVersion,
                                                     L"Wrong SmartVer on Read Run time Bad Data."};
inline constexpr ErrorMessage WrongSmartVersion{ErrorCode::Uncoded,
                                                L"Smart Version {} is not correct"};
inline constexpr ErrorMessage HeaderBusy{ErrorCode::Uncoded, L"Header is busy."};
inline constexpr ErrorMessage ForceErasePmtFailed{ErrorCode::Uncoded, L"Force Erase PMT Fail."};
inline constexpr ErrorMessage DeleteSmartFileFailed{ErrorCode::DeleteSmartFile,
                                                    L"Delete Smart File Fail."};
inline constexpr ErrorMessage UserTerminated{ErrorCode::UserTerminated, L"User terminated"};
inline constexpr ErrorMessage WriteProtected{ErrorCode::WriteProtected, L"Card Write Protected"};
inline constexpr ErrorMessage AlignCreateFile{ErrorCode::AlignedAllocation,
                                              L"posix_memalign failed in CreateFile."};
inline constexpr ErrorMessage AlignEnterMode{ErrorCode::AlignedAllocation,
                                             L"posix_memalign failed in ESM2."};
inline constexpr ErrorMessage AlignReadFile{ErrorCode::AlignedAllocation,
                                            L"posix_memalign failed in ReadFile."};

// Card registers.
inline constexpr ErrorMessage IncorrectController{ErrorCode::WrongController,
                                                  L"[Error] : Incorrect controller type = {}"};
inline constexpr ErrorMessage ForeignController{ErrorCode::WrongController,
                                                L"Controller type is {}, not NV6459A0A."};

// Buffers and files.
inline constexpr ErrorMessage BufferTooSmall{ErrorCode::BufferSize,
                                             L"[Error] : Buffer size < {} at {}, Line = {}"};
inline constexpr ErrorMessage NotWholeSectors{
    ErrorCode::BufferSize, L"[Error] : Buffer size( {} ) != N * 512, at {}, Line = {}"};
inline constexpr ErrorMessage IndexOutOfRange{
    ErrorCode::BufferSize, L"[Error] : Access index {} exceeds array size {} at {}, Line = {}"};
inline constexpr ErrorMessage CannotOpenFile{ErrorCode::FileNotOpened,
                                             L"[Error] : Cann't open file, {}."};
inline constexpr ErrorMessage CannotWriteFile{ErrorCode::Uncoded,
                                              L"[Error] : Cannot write file, {}."};
inline constexpr ErrorMessage CannotReadFile{ErrorCode::Uncoded,
                                             L"[Error] : Cannot read file, {}."};
// The blank after the bracket is how the empty case has always read.
inline constexpr ErrorMessage EmptyNumber{ErrorCode::Uncoded,
                                          L"[ Error] : Cann't convert empty string to integer."};
inline constexpr ErrorMessage NotANumber{ErrorCode::Uncoded,
                                         L"[Error] : Cann't convert \"{}\" to integer."};

// Configuration files; the first detail is always the file name.
inline constexpr ErrorMessage IniMissing{ErrorCode::IniSyntax,
                                         L"[Ini File Error] {}\n : Missing '{}' on line = {}."};
inline constexpr ErrorMessage IniMissingStar{ErrorCode::IniSyntax,
                                             L"[Ini File Error] {}\n : missing '*' on line = {}."};
inline constexpr ErrorMessage IniNoSection{ErrorCode::IniSectionMissing,
                                           L"[Ini File Error] {}\n : Can't find [{}]."};
inline constexpr ErrorMessage IniNoKey{ErrorCode::IniKeyMissing,
                                       L"[Ini File Error] {}\n : Cann't find \"{}\" in the [{}]."};
inline constexpr ErrorMessage IniEmptyInteger{
    ErrorCode::IniNotInteger, L"[Ini File Error] {}\n : Cann't convert empty string to integer."};
inline constexpr ErrorMessage IniNotInteger{
    ErrorCode::IniNotInteger, L"[Ini File Error] {}\n : Cann't convert \"{}\" to integer."};
inline constexpr ErrorMessage IniTooFewIntegers{
    ErrorCode::IniTooFewIntegers, L"[Ini File Error] {}\n : Actual integer count = {}, not {} when "
                                  L"Read \"{}\" in the [{}]."};

} // namespace Errors

// The message's text with each "{}" replaced by the next detail, in order
// (a "{}" without a detail is dropped; details are never searched for "{}").
std::wstring ErrorText(const ErrorMessage &message,
                       std::initializer_list<std::wstring> details = {});

// A CError with the message's code and composed text.
CError MakeError(const ErrorMessage &message, std::initializer_list<std::wstring> details = {});

// A configuration file's error: the file name is the first detail.
CIniFileError MakeIniError(const ErrorMessage &message, const std::wstring &fileName,
                           std::initializer_list<std::wstring> details = {});
