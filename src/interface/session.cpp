// SPDX-License-Identifier: MIT
// Definitions of the session record with its initial values. The owning
// pointers to the acquisition objects live in session_objects.cpp, which sees
// the complete classes.
#include "interface/session.h"
#include "smart/card_protocol.h"

std::string _DiskName;
unsigned char _IsUsbDevice = 1;
std::wstring _AppExePath;
std::string _ConfigPath;
int _AuthorCode = 0;
std::wstring _EntryStr;
unsigned char _SmartVerSupport = 2;
std::wstring _ExternelSDKName;
bool _UseExternelSDKName = false;
unsigned int _FuncSel = CardProtocol::FunctionSelect::Default;
bool _Terminated = false;

Bulk<unsigned char> _MBRBuffer;
_SMART_INFO_HEADER _Header = {};
unsigned int _ECCUncorrectableCnt = 0;
std::vector<unsigned int> _EraseCount;
std::vector<unsigned int> _ReadCount;
unsigned int _MinEraseCount = 0;
unsigned int _MaxEraseCount = 0;
std::string _FlashType;
std::string _FlashID;

std::string _LibVersion;
std::string _MPVersion;
std::string _FWVersion;
std::string _HWVersion;
std::string _CustomizedID_CID;
std::string _ManufactureName_CID;
std::string _ManufacturingDate_CID;
std::string _ClientMark;
unsigned short _ProductRevision_CID = 0;
unsigned int _ProductSN_CID = 0;
