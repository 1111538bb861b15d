// SPDX-License-Identifier: MIT
// Every documented member, referenced the way a host program reaches it:
// addresses of non-virtual members, qualified (non-virtual) calls of virtual
// ones, constructors and destructors by name. Nothing here runs; the object
// file's undefined symbols are checked against the library's dynamic symbols.
#include "documented.h"

#include <new>

template <typename T> T KeptValue{};
template <typename T> void Keep(T value) { KeptValue<T> = value; }

namespace {

// A host class that derives from the card command interface.
class HostIo : public CSdHostIo {
public:
  void ExecCmd(unsigned int, unsigned int) override {}
  void ExecCmd(unsigned int, unsigned int, unsigned int, unsigned char *) override {}
  void CmdDataIn(unsigned int, unsigned int, unsigned int, unsigned char *) override {}
  void CmdDataOut(unsigned int, unsigned int, unsigned int, unsigned char *) override {}
  void CmdSectorDataIn(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override {}
  void CmdSectorDataOut(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override {}
  void WriteSector(unsigned int, unsigned int, unsigned char *) override {}
  void ReadSector(unsigned int, unsigned int, unsigned char *) override {}
  void Cmd56Read(unsigned char *, unsigned int) override {}
  void Cmd56Write(unsigned char *, unsigned int) override {}
  void Cmd24Write(unsigned int, unsigned char *) override {}
  void GetControllerType(CHardwareInfo &, bool) override {}
  void DownloadVendorFirmware(const std::wstring &) override {}
  void DownloadBindedVendorFirmware(const std::wstring &) override {}
  int MeasureSystemClockOfCard(unsigned char, unsigned char, unsigned char) override { return 0; }
  void Reset() override {}
  int WriteSpeedTest(unsigned int, unsigned int, bool, bool) override { return 0; }
  unsigned int ReadCapacity() override { return 0; }
};

} // namespace

void ReferenceSharedTypes(void *raw) {
  const std::wstring w;
  const std::string s;
  CError *e = new (raw) CError();
  new (raw) CError(1L);
  new (raw) CError(w);
  new (raw) CError(1u, w);
  new (raw) CError(*e);
  Keep(&CError::operator=);
  e->CError::what();
  Keep(&CError::GetCode);
  Keep(&CError::GetText);
  Keep(&CError::Set);
  Keep(&CError::SetText);
  new (raw) CBufferSizeError(s, 1, 2);
  new (raw) CSectorBufferSizeError(s, 1, 2);
  new (raw) CArrayIndexError(s, 1, 2, 3);
  new (raw) COpenFileError(w);
  new (raw) CIniFileError(1, w, w);
  Keep(&GetDetailEraseCount);
  Keep(&GetDetailReadCount);
}

void ReferenceTransport(void *raw) {
  const std::wstring w;
  new (raw) CCbwParam();
  Keep(&CCbwParam::Reset);
  Keep(&CCbwParam::SetTransLenInByte);
  Keep(&CCbwParam::SetFlag);
  Keep(&CCbwParam::SetLun);
  Keep(&CCbwParam::SetCbdLen);
  Keep(&CCbwParam::SetCbd);
  Keep(&CCbwParam::SetOpCode);
  Keep(&CCbwParam::SetLba);
  Keep(&CCbwParam::SetCount);
  Keep(&CCbwParam::SetArg);
  Keep(&CCbwParam::GetTransLenInByte);
  Keep(&CCbwParam::GetFlag);
  Keep(&CCbwParam::GetLun);
  Keep(&CCbwParam::GetCbdLen);
  Keep(static_cast<unsigned char *(CCbwParam::*)()>(&CCbwParam::GetCbd));
  Keep(static_cast<void (CCbwParam::*)(unsigned char *, unsigned int)>(&CCbwParam::GetCbd));
  Keep(&CCbwParam::GetCmdWrapper);

  Keep(static_cast<int (*)(const std::string &)>(&scsi_base::open_handle));
  Keep(static_cast<int (*)(const std::wstring &)>(&scsi_base::open_handle));
  Keep(&scsi_base::close_handle);
  Keep(&scsi_base::dev_io_ctl);
  Keep(&scsi_base::init_scsi_struct);
  Keep(&trace_on);
  Keep(&g_tracer);

  CUsbDrive *usb = new (raw) CUsbDrive();
  new (raw) CUsbDrive(w, false);
  usb->~CUsbDrive();
  Keep(&CUsbDrive::Open);
  Keep(&CUsbDrive::ReOpen);
  Keep(&CUsbDrive::IsOpen);
  Keep(&CUsbDrive::Close);
  Keep(&CUsbDrive::ReadCapacity);
  Keep(&CUsbDrive::ReadSector);
  Keep(&CUsbDrive::WriteSector);
  Keep(&CUsbDrive::WaitForDiskReady);
  Keep(&CUsbDrive::GetScsiStatus);
  Keep(&CUsbDrive::GetHandle);
  Keep(&CUsbDrive::GetDiskName);

  CMmcDrive *mmc = new (raw) CMmcDrive();
  new (raw) CMmcDrive(w, false);
  mmc->~CMmcDrive();
  Keep(&CMmcDrive::Open);
  Keep(&CMmcDrive::ReOpen);
  Keep(&CMmcDrive::IsOpen);
  Keep(&CMmcDrive::Close);
  Keep(&CMmcDrive::ReadCapacity);
  Keep(&CMmcDrive::ReadWriteSector);
  Keep(&CMmcDrive::ReadSector);
  Keep(&CMmcDrive::WriteSector);
  Keep(&CMmcDrive::WaitForDiskReady);
  Keep(&CMmcDrive::GetHandle);
  Keep(&CMmcDrive::GetRCA);
  Keep(&CMmcDrive::SendStatus);
  Keep(&CMmcDrive::Stop_Transmission);
  Keep(&CMmcDrive::SetBlockCount);

  HostIo *host = new (raw) HostIo();
  host->~HostIo();
  CNormalReaderIo *io = new (raw) CNormalReaderIo(*usb);
  new (raw) CNormalReaderIo(*mmc);
  Keep(&CNormalReaderIo::IsUsbDrive);
  Keep(&CNormalReaderIo::FasterLBAReadWrite);
  Keep(&CNormalReaderIo::GetUsbDrive);
  unsigned char *b = nullptr;
  io->CNormalReaderIo::ExecCmd(0, 0);
  io->CNormalReaderIo::ExecCmd(0, 0, 0, b);
  io->CNormalReaderIo::CmdDataIn(0, 0, 0, b);
  io->CNormalReaderIo::CmdDataOut(0, 0, 0, b);
  io->CNormalReaderIo::CmdSectorDataIn(0, 0, 0, b, false);
  io->CNormalReaderIo::CmdSectorDataOut(0, 0, 0, b, false);
  io->CNormalReaderIo::WriteSector(0, 0, b);
  io->CNormalReaderIo::ReadSector(0, 0, b);
  io->CNormalReaderIo::Cmd56Read(b, 0);
  io->CNormalReaderIo::Cmd56Write(b, 0);
  io->CNormalReaderIo::Cmd24Write(0, b);
  io->CNormalReaderIo::GetControllerType(*static_cast<CHardwareInfo *>(raw), false);
  io->CNormalReaderIo::DownloadVendorFirmware(w);
  io->CNormalReaderIo::DownloadBindedVendorFirmware(w);
  io->CNormalReaderIo::MeasureSystemClockOfCard(0, 0, 0);
  io->CNormalReaderIo::Reset();
  io->CNormalReaderIo::WriteSpeedTest(0, 0, false, false);
  io->CNormalReaderIo::ReadCapacity();
  io->CNormalReaderIo::~CNormalReaderIo();

  new (raw) CDriveInfo();
  new (raw) CDriveInfo(w);
  Keep(&CDriveInfo::SetDriveName);
  Keep(&CDriveInfo::Get);
  Keep(&CDriveInfo::IsNTFS);
  Keep(&CDriveInfo::GetVolumnMounted);
  Keep(&CDriveInfo::IsFormatted);
  Keep(&CDriveInfo::IsAvailable);
  Keep(&CDriveInfo::IsWriteProtected);
  Keep(&CDriveInfo::ToDriveCaption);
  Keep(&CDriveInfo::SimpleDriveCaption);
  new (raw) CDiskVolumn(w);
  Keep(&CDiskVolumn::Refresh);
  Keep(&CDiskVolumn::GetVolumnMounted);
  Keep(&CDiskVolumn::IsVolumnMounted);
  Keep(&CDiskVolumn::IsDriveOpen);
  Keep(&CDiskVolumn::GetUsbDrive);
}

void ReferenceSmart(void *raw) {
  std::wstring w;
  CUsbDrive *usb = static_cast<CUsbDrive *>(raw);
  CSpecialMode2Cmd *cmd = new (raw) CSpecialMode2Cmd(*usb, w);
  new (raw) CSpecialMode2Cmd(*static_cast<CMmcDrive *>(raw), w);
  cmd->~CSpecialMode2Cmd();
  using Mode2 = CSpecialMode2Cmd;
  Keep(&Mode2::IsNormalReader);
  Keep(&Mode2::LockControl);
  Keep(&Mode2::SetEntryPattern);
  Keep(&Mode2::EnterSpecialMode2);
  Keep(&Mode2::LeaveSpecialMode2);
  Keep(&Mode2::CreateMode2EnterPattern);
  Keep(&Mode2::CreateMode2LeavePattern);
  Keep(&Mode2::SpcEnterLeaveWrite);
  Keep(static_cast<void (Mode2::*)(unsigned int, void *, unsigned int)>(&Mode2::Cmd18));
  Keep(static_cast<void (Mode2::*)(unsigned int, void *, unsigned int)>(&Mode2::Cmd25));
  Keep(static_cast<void (Mode2::*)(unsigned int, void *, unsigned int)>(&Mode2::Cmd27));
  Keep(static_cast<void (Mode2::*)(void *, unsigned int)>(&Mode2::Cmd18));
  Keep(static_cast<void (Mode2::*)(void *, unsigned int)>(&Mode2::Cmd25));
  Keep(static_cast<void (Mode2::*)(void *, unsigned int)>(&Mode2::Cmd27));

  CSmartInfoHeader *h = new (raw) CSmartInfoHeader();
  new (raw) CSmartInfoHeader(static_cast<unsigned char *>(raw));
  new (raw) CSmartInfoHeader(*static_cast<_SMART_INFO_HEADER *>(raw));
  h->~CSmartInfoHeader();
  Keep(&CSmartInfoHeader::Get);
  Keep(&CSmartInfoHeader::ToBuffer);
  Keep(&CSmartInfoHeader::CheckContentRight);
  Keep(&CSmartInfoHeader::Invert);

  bool terminated = false;
  unsigned char version = 2;
  using Reader = CSmartInfoReader;
  Reader *r = new (raw) Reader(*cmd, w, w, terminated, version);
  r->~Reader();
  Keep(&Reader::Execute);
  Keep(&Reader::ReadHeader);
  Keep(&Reader::ReadData);
  Keep(&Reader::IsHeaderWithBusy);
  Keep(&Reader::LeaveSpecialMode2);
  Keep(&Reader::ReadDataOfSmartVer2);
  Keep(&Reader::Clean_PMT_Data);
  Keep(&Reader::InitialVBInfo);
  Keep(&Reader::ReadEraseCountData);
  Keep(&Reader::ReadNativeReadCountData);
  Keep(&Reader::ReadGlobalReadCountData);
  Keep(&Reader::ReadRuntimeBadData);
  Keep(&Reader::GetHeader);
  Keep(&Reader::GetECCUncorrectableCnt);
  Keep(&Reader::GetDetailEraseCount);
  Keep(&Reader::GetDetailReadCount);
  Keep(&Reader::GetMarks);
  Keep(&Reader::GetMaxEraseCount);
  Keep(&Reader::GetMinEraseCount);
  Keep(&Reader::GetMaxReadCount);
  Keep(&Reader::GetWPStatus);
  Keep(&Reader::CheckUnFormatAndWriteProtected);
  Keep(&Reader::ReadDataOfSmartVer3);
  Keep(&Reader::InitParameter);
  Keep(&Reader::CreateFileForSpecialMode2ExtensionMode);
  Keep(&Reader::EnterSpecialMode2ExtensionMode);
  Keep(&Reader::ReadSmartDataFromFile);
  Keep(&Reader::DeleteSmartFile);
  Keep(&Reader::ShowStatistics);

  Keep(&CreateBins);
  Keep(&FindBinNo);
  Keep(&GatherStatistics);
  Keep(&FitRealBoundary);
}

void ReferenceBitArrayAndCrc(void *raw) {
  CBitArray *a = new (raw) CBitArray();
  new (raw) CBitArray(8u);
  new (raw) CBitArray(8u, true);
  new (raw) CBitArray(*a);
  Keep(&CBitArray::operator=);
  Keep(&CBitArray::Resize);
  Keep(&CBitArray::Init);
  Keep(&CBitArray::GetBitCount);
  Keep(static_cast<Bulk<unsigned char> &(CBitArray::*)()>(&CBitArray::GetArray));
  Keep(static_cast<const Bulk<unsigned char> &(CBitArray::*)() const>(&CBitArray::GetArray));
  Keep(&CBitArray::Test);
  Keep(&CBitArray::operator[]);
  Keep(static_cast<CBitArray &(CBitArray::*)(unsigned int, bool)>(&CBitArray::Set));
  Keep(static_cast<CBitArray &(CBitArray::*)(unsigned int)>(&CBitArray::Reset));
  Keep(static_cast<CBitArray &(CBitArray::*)(unsigned int)>(&CBitArray::Flip));
  Keep(static_cast<CBitArray &(CBitArray::*)()>(&CBitArray::Set));
  Keep(static_cast<CBitArray &(CBitArray::*)()>(&CBitArray::Reset));
  Keep(static_cast<CBitArray &(CBitArray::*)()>(&CBitArray::Flip));
  Keep(&CBitArray::Any);
  Keep(&CBitArray::None);
  Keep(static_cast<unsigned int (CBitArray::*)() const>(&CBitArray::Count));
  Keep(static_cast<unsigned int (CBitArray::*)(unsigned int) const>(&CBitArray::Count));
  Keep(static_cast<unsigned int (CBitArray::*)(unsigned int, unsigned int) const>(
      &CBitArray::Count));
  Keep(&CBitArray::IsFullFill);
  Keep(&CBitArray::Trim);
  Keep(&CBitArray::operator&=);
  Keep(&CBitArray::operator|=);
  Keep(&CBitArray::operator^=);
  Keep(&CBitArray::operator<<=);
  Keep(&CBitArray::operator>>=);
  Keep(&CBitArray::operator<<);
  Keep(&CBitArray::operator>>);
  Keep(&CBitArray::operator~);
  Keep(&CBitArray::operator!=);
  Keep(&CBitArray::operator==);
  Keep(&CBitArray::ToString);
  Keep(&CBitArray::ToByteString);
  Keep(static_cast<CBitArray (*)(const CBitArray &, const CBitArray &)>(&operator&));
  Keep(static_cast<bool (*)(const CBitArray &, const CBitArray &)>(&operator<));
  Keep(static_cast<bool (*)(const CBitArray &, const CBitArray &)>(&operator>));

  Keep(&CCRC7::Generate);
  Keep(&CCRC16::Generate);
  Keep(&CCRC16::CRC16Table);
}

void ReferenceCidCsd(void *raw) {
  const unsigned char *bytes = static_cast<const unsigned char *>(raw);
  Keep(static_cast<CCID *(*)(bool)>(&CCID::Create));
  Keep(static_cast<CCID *(*)(bool, const unsigned char *)>(&CCID::Create));
  CSdCID *sd = new (raw) CSdCID();
  new (raw) CSdCID(bytes);
  CMmcCID *mmc = new (raw) CMmcCID();
  new (raw) CMmcCID(bytes);
  sd->CSdCID::ToBuffer(nullptr);
  mmc->CMmcCID::ToBuffer(nullptr);
  sd->CCID::~CCID();
  Keep(&CCID::Parse);
  Keep(&CCID::GetMID);
  Keep(&CCID::GetOID);
  Keep(&CCID::GetProductName);
  Keep(&CCID::GetProductRevision);
  Keep(&CCID::GetSerialNumber);
  Keep(&CCID::GetYear);
  Keep(&CCID::GetMonth);
  Keep(&CCID::GetCRC7);
  Keep(&CCID::SetMID);
  Keep(&CCID::SetOID);
  Keep(&CCID::SetProductName);
  Keep(&CCID::SetProductRevision);
  Keep(&CCID::SetSerialNumber);
  Keep(&CCID::SetYear);
  Keep(&CCID::SetMonth);

  Keep(&CCSD::Create);
  CCSD *csd = new (raw) CCSD();
  new (raw) CCSD(bytes);
  CSdCSD *v1 = new (raw) CSdCSD(bytes);
  CSdCSDV20 *v2 = new (raw) CSdCSDV20(bytes);
  CMmcCSD *m = new (raw) CMmcCSD(bytes);
  csd->CCSD::UpdateDeviceSize(0);
  csd->CCSD::Parse(0);
  v1->CSdCSD::Parse(0);
  v1->CSdCSD::GetProtectedAreaUnit();
  v2->CSdCSDV20::UpdateDeviceSize(0);
  v2->CSdCSDV20::Parse(0);
  v2->CSdCSDV20::GetProtectedAreaUnit();
  m->CMmcCSD::Parse(0);
  csd->CCSD::~CCSD();
  Keep(static_cast<unsigned char *(CCSD::*)()>(&CCSD::Data));
  Keep(static_cast<const unsigned char *(CCSD::*)() const>(&CCSD::Data));
  Keep(&CCSD::ToBuffer);
  Keep(&CCSD::GetCSDStructure);
  Keep(&CCSD::GetTAAC);
  Keep(&CCSD::GetNSAC);
  Keep(&CCSD::GetTransferSpeed);
  Keep(&CCSD::GetCardCommandClass);
  Keep(&CCSD::GetMaxReadBlockLength);
  Keep(&CCSD::GetPartialReadEn);
  Keep(&CCSD::GetWriteMisalignmentEn);
  Keep(&CCSD::GetReadMisalignmentEn);
  Keep(&CCSD::GetDSRImplemented);
  Keep(&CCSD::Get_C_SIZE);
  Keep(&CCSD::GetVDD_R_CURR_MIN);
  Keep(&CCSD::GetVDD_R_CURR_MAX);
  Keep(&CCSD::GetVDD_W_CURR_MIN);
  Keep(&CCSD::GetVDD_W_CURR_MAX);
  Keep(&CCSD::Get_C_SIZE_MULT);
  Keep(&CCSD::GetWriteProtectGroupEnabled);
  Keep(&CCSD::GetWriteSpeedFactor);
  Keep(&CCSD::GetMaxWriteBlockLength);
  Keep(&CCSD::GetPartialWriteEn);
  Keep(&CCSD::GetFileFormatGroup);
  Keep(&CCSD::GetCopyFlag);
  Keep(&CCSD::GetPermanentWriteProtection);
  Keep(&CCSD::GetTemporaryWriteProtection);
  Keep(&CCSD::GetFileFormat);
  Keep(&CCSD::GetCRC7);
  Keep(&CCSD::GetCapacity);
  Keep(&CCSD::GetErasedUnit);
  Keep(&CCSD::GetWriteProtectionUnit);
  Keep(&CCSD::GetMaxBlockLength);
  Keep(&CCSD::GetTotalErasedGroups);
  Keep(&CCSD::GetTotalWpGroups);
  Keep(&CCSD::SetTAAC);
  Keep(&CCSD::SetNSAC);
  Keep(&CCSD::SetTransferSpeed);
  Keep(&CCSD::SetVDD_R_CURR_MIN);
  Keep(&CCSD::SetVDD_R_CURR_MAX);
  Keep(&CCSD::SetVDD_W_CURR_MIN);
  Keep(&CCSD::SetVDD_W_CURR_MAX);
  Keep(&CCSD::SetWriteSpeedFactor);
  Keep(&CCSD::SetPermanentWriteProtection);
  Keep(&CCSD::SetTemporaryWriteProtection);
  Keep(&CCSD::SetCapacity);
  Keep(&CCSD::UpdateCRC7);
  Keep(&CSdCSD::GetErasedBlockEn);
  Keep(&CSdCSD::GetEraseSectorSize);
  Keep(&CSdCSD::GetWriteProtectGroupSize);
  Keep(&CSdCSDV20::Get_C_SIZE);
  Keep(&CMmcCSD::GetSystemSpecVersion);
  Keep(&CMmcCSD::GetEraseGroupSize);
  Keep(&CMmcCSD::GetEraseGroupMult);
  Keep(&CMmcCSD::GetWriteProtectGroupSize);
  Keep(&CMmcCSD::GetDefaultECC);
  Keep(&CMmcCSD::GetContentProtectionApplication);
  Keep(&CMmcCSD::GetECC);
}

void ReferenceSmallRegisters(void *raw) {
  unsigned char *bytes = static_cast<unsigned char *>(raw);
  new (raw) CSCR(bytes);
  Keep(&CSCR::GetSCRVersion);
  Keep(&CSCR::GetSDMemoryCardSpec);
  Keep(&CSCR::GetDataAfterErase);
  Keep(&CSCR::GetSDSecurityVersion);
  Keep(&CSCR::GetDataBusWidth);
  Keep(&CSCR::IsSdSpec3);
  Keep(&CSCR::IsSdSpec4);
  Keep(&CSCR::GetSDSpecX);
  Keep(&CSCR::GetCmdSupport);
  Keep(&CSCR::IsSdSpec5);
  Keep(&CSCR::Parse);

  Keep(&COCR::Create);
  COCR *ocr = new (raw) CSdOCR(bytes);
  CMmcOCR *mocr = new (raw) CMmcOCR(bytes);
  static_cast<CSdOCR *>(ocr)->CSdOCR::Parse(0);
  mocr->CMmcOCR::Parse(0);
  ocr->COCR::~COCR();
  Keep(&COCR::IsCardInitFinished);
  Keep(&CSdOCR::GetHighCapacityEn);
  Keep(&CMmcOCR::GetAccessMode);

  new (raw) CSpiR1(0);
  new (raw) CSpiR2(bytes);
  Keep(&CSpiR1::Parse);
  Keep(&CSpiR2::Parse);

  Keep(&CCardHwId::Create);
  CNV6459A0AHwId *a = new (raw) CNV6459A0AHwId(26);
  CNV6437A0AHwId *b = new (raw) CNV6437A0AHwId(25);
  a->CNV6459A0AHwId::GetPartNumber();
  a->CNV6459A0AHwId::GetModelName();
  a->CNV6459A0AHwId::GetNormalVendorFwPath();
  a->CNV6459A0AHwId::GetUniversalVendorFwPath();
  a->CNV6459A0AHwId::GetRomChecksum();
  a->CNV6459A0AHwId::CanSupportDowngradeFlash();
  a->CNV6459A0AHwId::CanROMCodeSupportReadRetry();
  a->CNV6459A0AHwId::CanSupportSDv30();
  b->CNV6437A0AHwId::GetPartNumber();
  b->CNV6437A0AHwId::GetModelName();
  b->CNV6437A0AHwId::GetNormalVendorFwPath();
  b->CNV6437A0AHwId::GetUniversalVendorFwPath();
  b->CNV6437A0AHwId::GetRomChecksum();
  b->CNV6437A0AHwId::CanSupportDowngradeFlash();
  b->CNV6437A0AHwId::CanROMCodeSupportReadRetry();
  b->CNV6437A0AHwId::CanSupportSDv30();
  a->CCardHwId::~CCardHwId();

  new (raw) CHardwareInfo();
  Keep(&CHardwareInfo::GetMonth);
  Keep(&CHardwareInfo::SetMonth);
  Keep(&CHardwareInfo::GetDate);
  Keep(&CHardwareInfo::SetDate);
  Keep(&CHardwareInfo::GetSerialNumber);
  Keep(&CHardwareInfo::SetSerialNumber);
  Keep(&CHardwareInfo::GetHwID);
  Keep(&CHardwareInfo::SetHwID);
  Keep(&CHardwareInfo::ToString);
}

void ReferenceStatusRegisters(void *raw) {
  unsigned char *bytes = static_cast<unsigned char *>(raw);
  new (raw) CSdStatus(false, false, bytes);
  Keep(&CSdStatus::GetContent);
  Keep(&CSdStatus::Get_SU_Size_By_AU_Size);
  Keep(&CSdStatus::Parse);
  Keep(&CSdStatus::GetDataBusWidth);
  Keep(&CSdStatus::GetSecuredMode);
  Keep(&CSdStatus::GetCardType);
  Keep(&CSdStatus::GetProtectedAreaSize);
  Keep(&CSdStatus::SetProtectedAreaSize);
  Keep(&CSdStatus::GetSpeedClass);
  Keep(&CSdStatus::SetSpeedClass);
  Keep(&CSdStatus::GetPerformanceMove);
  Keep(&CSdStatus::SetPerformanceMove);
  Keep(&CSdStatus::Get_AU_Size);
  Keep(&CSdStatus::Set_AU_Size);
  Keep(&CSdStatus::GetEraseSize);
  Keep(&CSdStatus::SetEraseSize);
  Keep(&CSdStatus::GetEraseTimeout);
  Keep(&CSdStatus::SetEraseTimeout);
  Keep(&CSdStatus::GetEraseOffset);
  Keep(&CSdStatus::SetEraseOffset);
  Keep(&CSdStatus::Get_UHS_SpeedGrade);
  Keep(&CSdStatus::Set_UHS_SpeedGrade);
  Keep(&CSdStatus::Get_UHS_AU_Size);
  Keep(&CSdStatus::Set_UHS_AU_Size);
  Keep(&CSdStatus::GetVideoSpeedClass);
  Keep(&CSdStatus::SetVideoSpeedClass);
  Keep(&CSdStatus::Get_VSC_AU_Size);
  Keep(&CSdStatus::Set_VSC_AU_Size);
  Keep(&CSdStatus::GetSuspentionAddress);
  Keep(&CSdStatus::SetSuspentionAddress);
  Keep(&CSdStatus::GetAppPerformanceClass);
  Keep(&CSdStatus::SetAppPerformanceClass);
  Keep(&CSdStatus::Get_Discard_Support);
  Keep(&CSdStatus::Set_Discard_Support);
  Keep(&CSdStatus::Get_FULE_Support);
  Keep(&CSdStatus::Set_FULE_Support);
  new (raw) CSwitchStatus(bytes);
  Keep(&CSwitchStatus::Parse);

  new (raw) CExtCSD(bytes);
  Keep(&CExtCSD::GetSupportedCmdSet);
  Keep(&CExtCSD::GetSectorCount);
  Keep(&CExtCSD::GetMinPerfW_8_52);
  Keep(&CExtCSD::GetMinPerfR_8_52);
  Keep(&CExtCSD::GetMinPerfW_8_26_4_52);
  Keep(&CExtCSD::GetMinPerfR_8_26_4_52);
  Keep(&CExtCSD::GetMinPerfW_4_26);
  Keep(&CExtCSD::GetMinPerfR_4_26);
  Keep(&CExtCSD::GetPowerClass_26_360);
  Keep(&CExtCSD::GetPowerClass_52_360);
  Keep(&CExtCSD::GetPowerClass_26_195);
  Keep(&CExtCSD::GetPowerClass_52_195);
  Keep(&CExtCSD::GetCardType);
  Keep(&CExtCSD::GetCSDStructureVersion);
  Keep(&CExtCSD::GetExtendedCSDRevision);
  Keep(&CExtCSD::GetCmdSet);
  Keep(&CExtCSD::GetCmdSetRevision);
  Keep(&CExtCSD::GetPowerClass);
  Keep(&CExtCSD::GetHighSpeedTiming);
  Keep(&CExtCSD::GetBusWidth);
  Keep(&CExtCSD::Parse);
}

void ReferenceIni(void *raw) {
  const std::wstring w;
  new (raw) CIniFileLoader(w);
  new (raw) CIniFileLoader(w, 1u);
  Keep(&CIniFileLoader::End);
  Keep(&CIniFileLoader::GetItem);
  Keep(&CIniFileLoader::GetKeyMap);
  Keep(&CIniFileLoader::GetPositionOfComment);
  Keep(&CIniFileLoader::Find);
  Keep(&CIniFileLoader::FindFirstNotOf);

  using S = const std::wstring &;
  CIniFile *ini = new (raw) CIniFile(1u, w, 0u);
  new (raw) CIniFile(*ini);
  Keep(&CIniFile::operator=);
  Keep(static_cast<void (CIniFile::*)(S, unsigned int)>(&CIniFile::Open));
  Keep(static_cast<void (CIniFile::*)(S, unsigned int, unsigned int)>(&CIniFile::Open));
  Keep(&CIniFile::Load);
  Keep(&CIniFile::FindKey);
  Keep(static_cast<std::wstring (CIniFile::*)(S, S) const>(&CIniFile::ReadString));
  Keep(static_cast<std::wstring (CIniFile::*)(S, S, S) const>(&CIniFile::ReadString));
  Keep(static_cast<void (CIniFile::*)(S, S, std::vector<std::wstring> &) const>(
      &CIniFile::ReadStrings));
  Keep(static_cast<void (CIniFile::*)(S, S, unsigned int, std::vector<std::wstring> &) const>(
      &CIniFile::ReadStrings));
  Keep(&CIniFile::StringToInteger);
  Keep(static_cast<int (CIniFile::*)(S, S) const>(&CIniFile::ReadInteger));
  Keep(static_cast<int (CIniFile::*)(S, S, int) const>(&CIniFile::ReadInteger));
  Keep(static_cast<int (CIniFile::*)(S, S) const>(&CIniFile::ReadHexInteger));
  Keep(static_cast<int (CIniFile::*)(S, S, int) const>(&CIniFile::ReadHexInteger));
  Keep(&CIniFile::WriteString);
  Keep(&CIniFile::WriteInteger);
  Keep(&CIniFile::DeleteSection);
  Keep(&CIniFile::DeleteKey);
  Keep(static_cast<void (CIniFile::*)(S)>(&CIniFile::UpdateFile));
  Keep(static_cast<void (CIniFile::*)()>(&CIniFile::UpdateFile));
  Keep(&CIniFile::operator==);
  Keep(&CIniFile::operator!=);
  Keep(&CIniFile::operator+=);
  Keep(static_cast<CIniFile (*)(const CIniFile &, const CIniFile &)>(&operator+));
}

void ReferenceConversions() {
  using NS = const std::string &;
  using WS = const std::wstring &;
  Keep(&ToWideString);
  Keep(&ToNarrowString);
  Keep(&c2w);
  Keep(&w2c);
  Keep(static_cast<int (*)(NS)>(&StringToInteger));
  Keep(static_cast<int (*)(WS)>(&StringToInteger));
  Keep(static_cast<long (*)(NS)>(&StringToInteger64));
  Keep(static_cast<long (*)(WS)>(&StringToInteger64));
  Keep(static_cast<unsigned int (*)(NS)>(&HexStringToInteger));
  Keep(static_cast<unsigned int (*)(WS)>(&HexStringToInteger));
  Keep(static_cast<unsigned long (*)(NS)>(&HexStringToInteger64));
  Keep(static_cast<unsigned long (*)(WS)>(&HexStringToInteger64));
  Keep(static_cast<std::string (*)(int)>(&IntegerToString));
  Keep(static_cast<std::wstring (*)(int)>(&IntegerToWideString));
  Keep(static_cast<std::string (*)(int, unsigned int)>(&IntegerToString));
  Keep(static_cast<std::wstring (*)(int, unsigned int)>(&IntegerToWideString));
  Keep(&Integer64ToString);
  Keep(&Integer64ToWideString);
  Keep(&IntegerToHexString);
  Keep(&IntegerToHexWideString);
  Keep(&Integer64ToHexString);
  Keep(&Integer64ToHexWideString);
  Keep(&itoa);
  Keep(&_itow);
  Keep(static_cast<void (*)(NS, NS, std::vector<std::string> &)>(&SplitString));
  Keep(static_cast<void (*)(WS, WS, std::vector<std::wstring> &)>(&SplitString));
  Keep(&ByteArrayToHexStr);
  Keep(static_cast<bool (*)(std::string &)>(&ErasePartitionChar));
  Keep(static_cast<bool (*)(std::wstring &)>(&ErasePartitionChar));
  Keep(static_cast<bool (*)(NS)>(&IsDigit));
  Keep(static_cast<bool (*)(WS)>(&IsDigit));
  Keep(static_cast<bool (*)(NS)>(&IsHexDigit));
  Keep(static_cast<bool (*)(WS)>(&IsHexDigit));
  Keep(&IsAsciiString);
  Keep(&EraseLineEnd);
  Keep(&ElapsedTimeMsToString);
  Keep(&GetDateTimeString);
  Keep(static_cast<bool (*)(const wchar_t *)>(&FileExists));
  Keep(static_cast<bool (*)(const char *)>(&FileExists));
  Keep(static_cast<std::string (*)(const char *)>(&extract_fname));
  Keep(static_cast<std::wstring (*)(const wchar_t *)>(&extract_fname));
  Keep(&FillMemory);
  Keep(&CloseHandle);
  Keep(&SwapBytes<unsigned int>);
}

void ReferenceUtilities(void *raw) {
  new (raw) CEndian();
  Keep(&CEndian::IsBigEndian);
  Keep(&CEndian::SwapWord);
  Keep(&CEndian::SwapDWord);
  Keep(&CEndian::SwapWords);
  Keep(&CEndian::SwapDWords);

  new (raw) CDataBuf(16, 1, 1, false, 0);
  Keep(&CDataBuf::ToText);
  Keep(&CDataBuf::ToAscii);
  Keep(static_cast<std::wstring (CDataBuf::*)(unsigned char *, unsigned int, bool)>(
      &CDataBuf::Dump));
  Keep(static_cast<std::wstring (CDataBuf::*)(unsigned int, unsigned int, unsigned char *)>(
      &CDataBuf::Dump));

  const std::string s;
  const std::wstring w;
  CIoFile *f = new (raw) CIoFile();
  new (raw) CIoFile(s, 0, 0, 0, 0);
  new (raw) CIoFile(w, 0, 0, 0, 0);
  f->~CIoFile();
  using NOpen = void (CIoFile::*)(const std::string &, unsigned int, unsigned int, unsigned int,
                                  unsigned int);
  using WOpen = void (CIoFile::*)(const std::wstring &, unsigned int, unsigned int, unsigned int,
                                  unsigned int);
  Keep(static_cast<NOpen>(&CIoFile::Open));
  Keep(static_cast<WOpen>(&CIoFile::Open));
  Keep(&CIoFile::IsOpen);
  Keep(&CIoFile::IsValidFileHandle);
  Keep(&CIoFile::Close);
  Keep(&CIoFile::Write);
  Keep(&CIoFile::Read);
  Keep(&CIoFile::WriteByte);
  Keep(&CIoFile::WriteWord);
  Keep(&CIoFile::WriteDWord);
  Keep(&CIoFile::ReadByte);
  Keep(&CIoFile::ReadWord);
  Keep(&CIoFile::ReadDWord);
  Keep(&CIoFile::Flush);
  Keep(&CIoFile::GetSize);
  Keep(&CIoFile::Seek);
  Keep(&CIoFile::WriteByteOrderMarkOfLittleEndian);
  Keep(&CIoFile::IsUTF16);
  Keep(static_cast<void (CIoFile::*)(const std::string &)>(&CIoFile::WriteString));
  Keep(static_cast<void (CIoFile::*)(const std::wstring &)>(&CIoFile::WriteString));
  Keep(static_cast<void (CIoFile::*)(std::string &)>(&CIoFile::ReadString));
  Keep(static_cast<void (CIoFile::*)(std::wstring &)>(&CIoFile::ReadString));
  Keep(static_cast<CIoFile &(CIoFile::*)(const std::wstring &)>(&CIoFile::operator<<));
  Keep(static_cast<CIoFile &(CIoFile::*)(wchar_t)>(&CIoFile::operator<<));
  Keep(static_cast<CIoFile &(CIoFile::*)(int)>(&CIoFile::operator<<));
  Keep(static_cast<CIoFile &(CIoFile::*)(unsigned int)>(&CIoFile::operator<<));
  Keep(static_cast<CIoFile &(CIoFile::*)(long)>(&CIoFile::operator<<));
  Keep(static_cast<CIoFile &(CIoFile::*)(unsigned long)>(&CIoFile::operator<<));
  new (raw) CNewFile(w);

  new (raw) TRandomMersenne(1);
  Keep(&TRandomMersenne::RandomInit);
  Keep(&TRandomMersenne::BRandom);
  Keep(&TRandomMersenne::Random);
  Keep(&TRandomMersenne::IRandom);
  Keep(&TRandomMersenne::Generate);
}
