// SPDX-License-Identifier: MIT
// The owning pointers of the session record are defined here in this order,
// so that at unload they are destroyed in the reverse one: reader, channel,
// native drive, USB drive.
#include "interface/session_record.h"

#include "interface/acquisition_journal.h"
#include "interface/configuration.h"
#include "interface/session.h"
#include "sdsmart/normal_reader_io.h"
#include "sdsmart/smart_info_reader.h"
#include "sdsmart/special_mode2_cmd.h"

#include <utility>

std::unique_ptr<CUsbDrive> _UsbDrive;
std::unique_ptr<CMmcDrive> _MmcDrive;
std::unique_ptr<CSpecialMode2Cmd> _SpecialMode2Cmd;
std::unique_ptr<CSmartInfoReader> _SmartInfoReader;

namespace {

// GetSector0JournalPath's buffer: the journal the last run ended with.
std::string JournalKept;
// GetSector0RestoredTime's: the time of the copy the last run wrote back.
std::string RestoredFromJournal;

Transport RecordTransport() { return _IsUsbDevice != 0 ? Transport::UsbReader : Transport::SdHost; }

CCardDrive TakeDrive(Transport transport) {
  if (transport == Transport::SdHost)
    return CCardDrive(std::move(_MmcDrive));
  return CCardDrive(std::move(_UsbDrive));
}

} // namespace

extern "C" const char *GetSector0JournalPath(void) { return JournalKept.c_str(); }
extern "C" const char *GetSector0RestoredTime(void) { return RestoredFromJournal.c_str(); }

void LoadDll_Main() {
  CRecordSession session;
  session->Acquire();
}

CSectorDevice RecordDevice() {
  return CSectorDevice::Select(RecordTransport(), _UsbDrive.get(), _MmcDrive.get());
}

// Everything is moved, not copied: a call costs the same whatever the size
// of the last run's tables.
CRecordSession::CRecordSession()
    : session(_DiskName, RecordTransport()), channelBefore(_SpecialMode2Cmd.get()) {
  CCardSession &s = session;
  s.Entry = _EntryStr;
  s.SmartVersion = _SmartVerSupport;
  s.Selection = static_cast<unsigned char>(_FuncSel & 0xFF);
  s.Cancel = &_Terminated;
  s.ConfigPath = GetDbFullPath();
  if (_JournalDirectoryChosen)
    s.JournalDirectory = _JournalDirectory;

  s.Drive = TakeDrive(s.Via);
  s.Channel = std::move(_SpecialMode2Cmd);
  s.Reader = std::move(_SmartInfoReader);

  CCardResults &r = s.Results;
  r.Sector0 = std::move(_MBRBuffer);
  r.Header = _Header;
  r.EccUncorrectable = _ECCUncorrectableCnt;
  r.EraseCounts = std::move(_EraseCount);
  r.ReadCounts = std::move(_ReadCount);
  r.MinEraseCount = _MinEraseCount;
  r.MaxEraseCount = _MaxEraseCount;
  r.FlashType = std::move(_FlashType);
  r.FlashId = std::move(_FlashID);
  r.JournalKept = std::move(JournalKept);
  r.RestoredFromJournal = std::move(RestoredFromJournal);
}

CRecordSession::~CRecordSession() {
  CCardSession &s = session;
  if (s.Channel && s.Channel.get() != channelBefore) {
    // What the documented channel constructors set for the process.
    CNormalReaderIo::FasterLBAReadWrite = false;
    CNormalReaderIo::IsUsbDrive = s.Via == Transport::UsbReader;
  }
  if (s.Via == Transport::SdHost)
    _MmcDrive = s.Drive.TakeMmc();
  else
    _UsbDrive = s.Drive.TakeUsb();
  _SpecialMode2Cmd = std::move(s.Channel);
  _SmartInfoReader = std::move(s.Reader);

  CCardResults &r = s.Results;
  _MBRBuffer = std::move(r.Sector0);
  _Header = r.Header;
  _ECCUncorrectableCnt = r.EccUncorrectable;
  _EraseCount = std::move(r.EraseCounts);
  _ReadCount = std::move(r.ReadCounts);
  _MinEraseCount = r.MinEraseCount;
  _MaxEraseCount = r.MaxEraseCount;
  _FlashType = std::move(r.FlashType);
  _FlashID = std::move(r.FlashId);
  JournalKept = std::move(r.JournalKept);
  RestoredFromJournal = std::move(r.RestoredFromJournal);
}

void ResetSessionRecord() {
  _SmartInfoReader.reset();
  _SpecialMode2Cmd.reset();
  _MmcDrive.reset();
  _UsbDrive.reset();
  _DiskName.clear();
  _IsUsbDevice = 1;
  _AppExePath.clear();
  _ConfigPath.clear();
  _AuthorCode = 0;
  _ExternelSDKName.clear();
  _UseExternelSDKName = false;
  const CCardSession fresh("", Transport::UsbReader);
  _EntryStr = fresh.Entry;
  _SmartVerSupport = fresh.SmartVersion;
  _FuncSel = fresh.Selection;
  __atomic_store_n(&_Terminated, false, __ATOMIC_SEQ_CST); // a host thread may read it
  const CCardResults none;
  _MBRBuffer = none.Sector0;
  _Header = none.Header;
  _ECCUncorrectableCnt = none.EccUncorrectable;
  _EraseCount = none.EraseCounts;
  _ReadCount = none.ReadCounts;
  _MinEraseCount = none.MinEraseCount;
  _MaxEraseCount = none.MaxEraseCount;
  _FlashType = none.FlashType;
  _FlashID = none.FlashId;
  JournalKept = none.JournalKept;
  RestoredFromJournal = none.RestoredFromJournal;
  _Error = CError();
}
