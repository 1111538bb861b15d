// SPDX-License-Identifier: MIT
// The process-wide session record: every variable is exported under its own
// name so that a host may read it directly. Nothing here is locked (the host
// calls from one thread at a time). The library itself works on a card
// session (card_session.h); the record shows the host's session and is
// filled from it at the exported boundary (session_record.h).
#pragma once

#include "sdsmart/bulk.h"
#include "sdsmart/error.h"
#include "sdsmart/sdsmart.h"
#include "sdsmart/smart_info_header_record.h"

#include <memory>
#include <string>
#include <vector>

class CUsbDrive;
class CMmcDrive;
class CSpecialMode2Cmd;
class CSmartInfoReader;

// C linkage keeps every name exactly as written in the dynamic symbol table
// (a std::string would otherwise carry its ABI tag).
extern "C" {

// Set-up (SetDiskName, SetConfigPath, SetSmartVersion) and configuration.
extern std::string _DiskName;
extern unsigned char _IsUsbDevice; // 1: SCSI disk behind a USB reader; 0: /dev/mmcblkN
extern std::wstring _AppExePath;   // working directory captured by SetDiskName
extern std::string _ConfigPath;    // empty: "config" in _AppExePath
extern int _AuthorCode;
extern std::wstring _EntryStr;
extern unsigned char _SmartVerSupport;
extern std::wstring _ExternelSDKName;
extern bool _UseExternelSDKName;
extern unsigned int _FuncSel;
extern bool _Terminated;

// Objects of the last acquisition. They are defined in one translation unit in
// this order, so at unload the reader goes first, then the channel, then the
// drives: nothing outlives what it refers to.
extern std::unique_ptr<CUsbDrive> _UsbDrive;
extern std::unique_ptr<CMmcDrive> _MmcDrive;
extern std::unique_ptr<CSpecialMode2Cmd> _SpecialMode2Cmd;
extern std::unique_ptr<CSmartInfoReader> _SmartInfoReader;

// Results of the last acquisition.
extern Bulk<unsigned char> _MBRBuffer; // sector 0 as found at the start
extern _SMART_INFO_HEADER _Header;     // host byte order
extern unsigned int _ECCUncorrectableCnt;
extern std::vector<unsigned int> _EraseCount;
extern std::vector<unsigned int> _ReadCount;
extern unsigned int _MinEraseCount;
extern unsigned int _MaxEraseCount;
extern std::string _FlashType;
extern std::string _FlashID;

// Last error and the buffer GetErrorMessage hands out.
extern CError _Error;
extern std::string _ErrorText;

// Result buffers of the text accessors, one each.
extern std::string _LibVersion;
extern std::string _MPVersion;
extern std::string _FWVersion;
extern std::string _HWVersion;
extern std::string _CustomizedID_CID;
extern std::string _ManufactureName_CID;
extern std::string _ManufacturingDate_CID;
extern std::string _ClientMark; // zero-terminated copy of the header's mark
extern unsigned short _ProductRevision_CID;
extern unsigned int _ProductSN_CID;

} // extern "C"
