// Error codes of the SMART reader and helpers shared by its source files.
#pragma once

#include "util/error.h"

constexpr unsigned int kSmartContentsCode = 0x3000; // "Incorrect S.M.A.R.T contents."
constexpr unsigned int kDetailTypeCode = 0x3001; // "Type to indicated detail data is mismatched."
constexpr unsigned int kWrongSmartVerCode = 0x3002;   // "Wrong SmartVer on Read ..."
constexpr unsigned int kDeleteSmartFileCode = 0x3004; // "Delete Smart File Fail."
constexpr unsigned int kCardSizeCode = 0x2002;        // "Get Card Size Fail"
constexpr unsigned int kUserTerminatedCode = 0x9000;  // "User terminated"
constexpr unsigned int kWriteProtectedCode = 0xA000;  // "Card Write Protected"
constexpr unsigned int kMemAlignCode = 0xB001;        // "posix_memalign failed in ..."

// A plain CError with the same code and text (the specific class is dropped).
CError SmartErrorCopy(const CError &error);
// 0x3000 "Incorrect S.M.A.R.T contents."
CError SmartContentsError();
