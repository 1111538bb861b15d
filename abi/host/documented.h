// SPDX-License-Identifier: MIT
// The exported C++ interface as a host program declares it: written from the
// documented signatures alone, without the library's own headers. Layouts are
// those a host relies on when it places an object on its stack or derives from
// a class; everything else is left opaque.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// ---- shared types ------------------------------------------------------------

template <typename T> class Bulk {
public:
  Bulk() = default;
  explicit Bulk(uint32_t n) : data(n ? new T[n] : nullptr), count(n) {}
  Bulk(const Bulk &) = delete;
  Bulk &operator=(const Bulk &) = delete;
  ~Bulk() { delete[] data; }
  uint32_t Size() const { return count; }
  T *Data() const { return data; }
  T &operator[](uint32_t i) const { return data[i]; }

private:
  T *data = nullptr;
  uint32_t count = 0;
};

struct _SMART_INFO_HEADER {
  unsigned char Bytes[512];
};
struct _OVERLAPPED;
struct _TStatisticsRegion {
  unsigned int High;
  unsigned int Low;
  unsigned int Count;
};

class CError {
public:
  CError();
  explicit CError(long code);
  explicit CError(const std::wstring &text);
  CError(unsigned int code, const std::wstring &text);
  CError(const CError &other);
  CError &operator=(const CError &other);
  virtual const wchar_t *what() const;
  long GetCode() const;
  std::wstring GetText() const;
  void Set(long code, const std::wstring &text);
  void SetText(const std::wstring &text);

protected:
  long code;
  std::wstring text;
};
class CBufferSizeError : public CError {
public:
  CBufferSizeError(const std::string &file, unsigned int line, unsigned int size);
};
class CSectorBufferSizeError : public CError {
public:
  CSectorBufferSizeError(const std::string &file, unsigned int line, unsigned int size);
};
class CArrayIndexError : public CError {
public:
  CArrayIndexError(const std::string &file, unsigned int line, unsigned int index,
                   unsigned int size);
};
class COpenFileError : public CError {
public:
  explicit COpenFileError(const std::wstring &fileName);

private:
  std::wstring fileName;
};
class CIniFileError : public CError {
public:
  CIniFileError(unsigned int code, const std::wstring &text, const std::wstring &fileName);

private:
  std::wstring fileName;
};

// The two reference-taking functions of the C interface have C++ linkage.
int GetDetailEraseCount(char *buffer, unsigned int size, unsigned int &byteCount);
int GetDetailReadCount(char *buffer, unsigned int size, unsigned int &byteCount);

// ---- device transport --------------------------------------------------------

class CCbwParam {
public:
  CCbwParam();
  void Reset();
  void SetTransLenInByte(unsigned int n);
  void SetFlag(bool in);
  void SetLun(unsigned char lun);
  void SetCbdLen(unsigned int n);
  void SetCbd(unsigned int i, unsigned char v);
  void SetOpCode(unsigned char op, unsigned char b1);
  void SetLba(unsigned int v);
  void SetCount(unsigned int v);
  void SetArg(unsigned int v);
  unsigned int GetTransLenInByte();
  bool GetFlag();
  unsigned char GetLun();
  unsigned short GetCbdLen();
  unsigned char *GetCbd();
  void GetCbd(unsigned char *dst, unsigned int n);
  unsigned char *GetCmdWrapper();

private:
  unsigned char wrapper[31];
  unsigned int transLen;
  bool flag;
  unsigned char lun;
  unsigned short cbdLen;
  unsigned char cbd[15];
};

class scsi_base {
public:
  static int open_handle(const std::string &path);
  static int open_handle(const std::wstring &path);
  static int close_handle(int fd);
  static int dev_io_ctl(int fd, unsigned int request, void *in, unsigned int inLen, void *out,
                        unsigned int outLen, unsigned int *returned, _OVERLAPPED *overlapped);
  static void init_scsi_struct(CCbwParam &cmd, unsigned char *data, unsigned int timeout, void *hdr,
                               unsigned char *sense, unsigned int senseLen);
};

extern bool trace_on;
extern std::wofstream g_tracer;

class CUsbDrive {
public:
  CUsbDrive();
  CUsbDrive(const std::wstring &name, bool);
  ~CUsbDrive();
  void Open(const std::wstring &name);
  void ReOpen();
  bool IsOpen();
  void Close();
  unsigned int ReadCapacity();
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WaitForDiskReady(unsigned int time);
  bool GetScsiStatus(unsigned char *hdr);
  int GetHandle();
  std::wstring GetDiskName();

private:
  int handle;
  std::wstring diskName;
};

class CMmcDrive {
public:
  CMmcDrive();
  CMmcDrive(const std::wstring &name, bool);
  ~CMmcDrive();
  void Open(const std::wstring &name);
  void ReOpen();
  bool IsOpen();
  void Close();
  unsigned int ReadCapacity();
  void ReadWriteSector(short op, unsigned char *buf, unsigned int lba, unsigned int count,
                       int blockSize);
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WaitForDiskReady(unsigned int time);
  int GetHandle();
  int GetRCA();
  void SendStatus(unsigned int *status);
  void Stop_Transmission();
  void SetBlockCount(unsigned int count);

private:
  int handle;
  std::wstring diskName;
};

class CHardwareInfo;

class CSdHostIo {
public:
  virtual ~CSdHostIo();
  virtual void ExecCmd(unsigned int, unsigned int) = 0;
  virtual void ExecCmd(unsigned int, unsigned int, unsigned int, unsigned char *) = 0;
  virtual void CmdDataIn(unsigned int, unsigned int, unsigned int, unsigned char *) = 0;
  virtual void CmdDataOut(unsigned int, unsigned int, unsigned int, unsigned char *) = 0;
  virtual void CmdSectorDataIn(unsigned int, unsigned int, unsigned int, unsigned char *, bool) = 0;
  virtual void CmdSectorDataOut(unsigned int, unsigned int, unsigned int, unsigned char *,
                                bool) = 0;
  virtual void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) = 0;
  virtual void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) = 0;
  virtual void Cmd56Read(unsigned char *buf, unsigned int len) = 0;
  virtual void Cmd56Write(unsigned char *buf, unsigned int len) = 0;
  virtual void Cmd24Write(unsigned int lba, unsigned char *buf) = 0;
  virtual void GetControllerType(CHardwareInfo &, bool) = 0;
  virtual void DownloadVendorFirmware(const std::wstring &) = 0;
  virtual void DownloadBindedVendorFirmware(const std::wstring &) = 0;
  virtual int MeasureSystemClockOfCard(unsigned char, unsigned char, unsigned char) = 0;
  virtual void Reset() = 0;
  virtual int WriteSpeedTest(unsigned int, unsigned int, bool, bool) = 0;
  virtual unsigned int ReadCapacity() = 0;
};

class CNormalReaderIo : public CSdHostIo {
public:
  static bool IsUsbDrive;
  static bool FasterLBAReadWrite;
  CNormalReaderIo(CUsbDrive &drive);
  CNormalReaderIo(CMmcDrive &drive);
  ~CNormalReaderIo() override;
  void ExecCmd(unsigned int, unsigned int) override;
  void ExecCmd(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdDataIn(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdDataOut(unsigned int, unsigned int, unsigned int, unsigned char *) override;
  void CmdSectorDataIn(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override;
  void CmdSectorDataOut(unsigned int, unsigned int, unsigned int, unsigned char *, bool) override;
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf) override;
  void Cmd56Read(unsigned char *buf, unsigned int len) override;
  void Cmd56Write(unsigned char *buf, unsigned int len) override;
  void Cmd24Write(unsigned int lba, unsigned char *buf) override;
  void GetControllerType(CHardwareInfo &, bool) override;
  void DownloadVendorFirmware(const std::wstring &) override;
  void DownloadBindedVendorFirmware(const std::wstring &) override;
  int MeasureSystemClockOfCard(unsigned char, unsigned char, unsigned char) override;
  void Reset() override;
  int WriteSpeedTest(unsigned int, unsigned int, bool, bool) override;
  unsigned int ReadCapacity() override;
  CUsbDrive *GetUsbDrive();

private:
  CUsbDrive *usbDrive;
  CMmcDrive *mmcDrive;
};

class CDriveInfo {
public:
  CDriveInfo();
  CDriveInfo(const std::wstring &name);
  void SetDriveName(const std::wstring &name);
  void Get();
  bool IsNTFS();
  bool GetVolumnMounted(CUsbDrive &);
  bool IsFormatted();
  bool IsAvailable();
  bool IsWriteProtected();
  std::wstring ToDriveCaption();
  std::wstring SimpleDriveCaption();

  std::wstring driveName;
  std::wstring secondName;
  std::wstring fileSystemName;
  uint64_t size;
  bool formatted[2];
  bool available;
  bool writeProtected;
};

class CDiskVolumn {
public:
  CDiskVolumn(const std::wstring &name);
  void Refresh();
  bool GetVolumnMounted();
  bool IsVolumnMounted();
  bool IsDriveOpen();
  CUsbDrive &GetUsbDrive();
};

// ---- SMART acquisition -------------------------------------------------------

class CSpecialMode2Cmd {
public:
  CSpecialMode2Cmd(CUsbDrive &drive, const std::wstring &entry);
  CSpecialMode2Cmd(CMmcDrive &drive, const std::wstring &entry);
  ~CSpecialMode2Cmd();
  bool IsNormalReader();
  void LockControl(bool);
  void SetEntryPattern(const std::wstring &entry);
  void EnterSpecialMode2(unsigned int method, unsigned char version);
  void LeaveSpecialMode2(unsigned int method);
  void CreateMode2EnterPattern(Bulk<unsigned char> &buffer);
  void CreateMode2LeavePattern(Bulk<unsigned char> &buffer);
  bool SpcEnterLeaveWrite(unsigned int lba, unsigned int method, unsigned char *data);
  void Cmd18(unsigned int lba, void *buffer, unsigned int size);
  void Cmd25(unsigned int lba, void *buffer, unsigned int size);
  void Cmd27(unsigned int lba, void *buffer, unsigned int size);
  void Cmd18(void *buffer, unsigned int size);
  void Cmd25(void *buffer, unsigned int size);
  void Cmd27(void *buffer, unsigned int size);

private:
  void *HostIoOwner;
  CSdHostIo *HostIo;
  bool NormalReader;
  bool UsbTransport;
  std::wstring EntryPattern;
  unsigned char SmartVersion;
};

class CSmartInfoHeader {
public:
  CSmartInfoHeader();
  CSmartInfoHeader(unsigned char *cardBytes);
  CSmartInfoHeader(_SMART_INFO_HEADER &hostRecord);
  ~CSmartInfoHeader();
  _SMART_INFO_HEADER *Get();
  void ToBuffer(Bulk<unsigned char> &out);
  bool CheckContentRight();
  void Invert(_SMART_INFO_HEADER *from, _SMART_INFO_HEADER *to);

private:
  _SMART_INFO_HEADER record;
};

class CIoFile;

class CSmartInfoReader {
public:
  CSmartInfoReader(CSpecialMode2Cmd &channel, std::wstring &entry, std::wstring &diskName,
                   const bool &terminated, unsigned char &smartVersion);
  ~CSmartInfoReader();
  void Execute(unsigned char functionSelect);
  void ReadHeader(unsigned char type);
  void ReadData(unsigned char *buffer, unsigned int count, unsigned int address,
                bool waitWhileBusy);
  bool IsHeaderWithBusy(unsigned char *sector);
  void LeaveSpecialMode2();
  void ReadDataOfSmartVer2(unsigned char functionSelect);
  bool Clean_PMT_Data();
  void InitialVBInfo(unsigned char type);
  void ReadEraseCountData(unsigned char version, unsigned char *data);
  void ReadNativeReadCountData(unsigned char version, unsigned char *data);
  void ReadGlobalReadCountData(unsigned char version, unsigned char *data);
  void ReadRuntimeBadData(unsigned char version, unsigned char *data);
  _SMART_INFO_HEADER *GetHeader();
  unsigned int GetECCUncorrectableCnt();
  std::vector<unsigned int> &GetDetailEraseCount();
  std::vector<unsigned int> &GetDetailReadCount();
  std::vector<unsigned short> &GetMarks();
  unsigned int GetMaxEraseCount();
  unsigned int GetMinEraseCount();
  unsigned int GetMaxReadCount();
  unsigned char GetWPStatus();
  void CheckUnFormatAndWriteProtected();
  void ReadDataOfSmartVer3(unsigned char functionSelect);
  void InitParameter();
  void CreateFileForSpecialMode2ExtensionMode();
  void EnterSpecialMode2ExtensionMode(unsigned int selector);
  void ReadSmartDataFromFile(unsigned int selector);
  void DeleteSmartFile();
  void ShowStatistics(unsigned int *values, unsigned int count, unsigned int weight);

private:
  std::wstring EntryPattern;
  CSpecialMode2Cmd *Mode2Cmd;
  _SMART_INFO_HEADER Header;
  std::vector<unsigned int> EraseCounts;
  std::vector<unsigned int> ReadCounts;
  std::vector<unsigned char> RuntimeBadStatus;
  std::vector<unsigned short> Marks;
  unsigned int ECCUncorrectableCnt;
  unsigned int VBEntryCount;
  const bool *Terminated;
  bool GlobalReadCount;
  unsigned int DetailSectors;
  bool WaitFirstDetailBusy;
  CIoFile *SmartFile;
  bool FileHeaderFound;
  unsigned int ExtensionUnit;
  unsigned int ReadUnits;
  unsigned int FileUnits;
  std::wstring SmartFilePath;
  unsigned int SectorSize;
  std::wstring DiskName;
  bool Unformatted;
  bool WriteProtected;
  unsigned char SmartVerSupport;
  unsigned char WPAccumulated;
};

int CreateBins(int *bins, int maxBins, unsigned int *values, int count, int requested);
int FindBinNo(int *bins, int binCount, unsigned int value);
_TStatisticsRegion *GatherStatistics(unsigned int *values, int count, unsigned int MaxRegionNum,
                                     int weight, int &binCount);
void FitRealBoundary(unsigned int *values, int count, _TStatisticsRegion &region);

// ---- card registers and identification ---------------------------------------

class CBitArray {
public:
  CBitArray();
  CBitArray(unsigned int bits);
  CBitArray(unsigned int bits, bool value);
  CBitArray(const CBitArray &);
  CBitArray &operator=(const CBitArray &);
  void Resize(unsigned int bits);
  void Init(unsigned char *data, unsigned int bytes, unsigned int bits);
  unsigned int GetBitCount() const;
  Bulk<unsigned char> &GetArray();
  const Bulk<unsigned char> &GetArray() const;
  bool Test(unsigned int i) const;
  bool operator[](unsigned int i) const;
  CBitArray &Set(unsigned int i, bool value);
  CBitArray &Reset(unsigned int i);
  CBitArray &Flip(unsigned int i);
  CBitArray &Set();
  CBitArray &Reset();
  CBitArray &Flip();
  bool Any() const;
  bool None() const;
  unsigned int Count() const;
  unsigned int Count(unsigned int last) const;
  unsigned int Count(unsigned int first, unsigned int n) const;
  bool IsFullFill();
  void Trim();
  CBitArray &operator&=(const CBitArray &other);
  CBitArray &operator|=(const CBitArray &other);
  CBitArray &operator^=(const CBitArray &other);
  CBitArray &operator<<=(unsigned int n);
  CBitArray &operator>>=(unsigned int n);
  CBitArray operator<<(unsigned int n) const;
  CBitArray operator>>(unsigned int n) const;
  CBitArray operator~() const;
  bool operator!=(const CBitArray &) const;
  bool operator==(const CBitArray &) const;
  std::wstring ToString(unsigned int indent);
  std::wstring ToByteString(unsigned int indent);

private:
  unsigned int bitCount;
  Bulk<unsigned char> storage;
};
CBitArray operator&(const CBitArray &a, const CBitArray &b);
bool operator<(const CBitArray &a, const CBitArray &b);
bool operator>(const CBitArray &a, const CBitArray &b);

class CCRC7 {
public:
  unsigned int Generate(unsigned char *data, unsigned int length);
};
class CCRC16 {
public:
  unsigned short Generate(unsigned char *data, unsigned int length);
  static const unsigned short CRC16Table[256];
};

class CCID {
public:
  static CCID *Create(bool isMmc);
  static CCID *Create(bool isMmc, const unsigned char *cid);
  virtual ~CCID();
  virtual void ToBuffer(unsigned char *out) = 0;
  std::wstring Parse(unsigned int indent);
  unsigned int GetMID();
  unsigned int GetOID();
  std::string GetProductName();
  unsigned int GetProductRevision();
  unsigned int GetSerialNumber();
  unsigned int GetYear();
  unsigned int GetMonth();
  unsigned int GetCRC7();
  void SetMID(unsigned int);
  void SetOID(unsigned int);
  void SetProductName(const std::string &);
  void SetProductRevision(unsigned int);
  void SetSerialNumber(unsigned int);
  void SetYear(unsigned int);
  void SetMonth(unsigned int);

protected:
  unsigned int mid, oid;
  std::string productName;
  unsigned int prv, psn, year, month, crc7;
};
class CSdCID : public CCID {
public:
  CSdCID();
  CSdCID(const unsigned char *cid);
  void ToBuffer(unsigned char *out) override;
};
class CMmcCID : public CCID {
public:
  CMmcCID();
  CMmcCID(const unsigned char *cid);
  void ToBuffer(unsigned char *out) override;
};

class CCSD {
public:
  static CCSD *Create(bool isMmc, const unsigned char *csd);
  CCSD();
  CCSD(const unsigned char *csd);
  virtual ~CCSD();
  virtual void UpdateDeviceSize(unsigned long bytes);
  virtual std::wstring Parse(unsigned int indent);
  unsigned char *Data();
  const unsigned char *Data() const;
  void ToBuffer(unsigned char *out);
  unsigned int GetCSDStructure();
  unsigned int GetTAAC();
  unsigned int GetNSAC();
  unsigned int GetTransferSpeed();
  unsigned int GetCardCommandClass();
  unsigned int GetMaxReadBlockLength();
  bool GetPartialReadEn();
  bool GetWriteMisalignmentEn();
  bool GetReadMisalignmentEn();
  bool GetDSRImplemented();
  unsigned int Get_C_SIZE();
  unsigned int GetVDD_R_CURR_MIN();
  unsigned int GetVDD_R_CURR_MAX();
  unsigned int GetVDD_W_CURR_MIN();
  unsigned int GetVDD_W_CURR_MAX();
  unsigned int Get_C_SIZE_MULT();
  bool GetWriteProtectGroupEnabled();
  unsigned int GetWriteSpeedFactor();
  unsigned int GetMaxWriteBlockLength();
  bool GetPartialWriteEn();
  bool GetFileFormatGroup();
  bool GetCopyFlag();
  bool GetPermanentWriteProtection();
  bool GetTemporaryWriteProtection();
  unsigned int GetFileFormat();
  unsigned int GetCRC7();
  uint64_t GetCapacity();
  unsigned int GetErasedUnit();
  unsigned int GetWriteProtectionUnit();
  unsigned int GetMaxBlockLength();
  uint64_t GetTotalErasedGroups();
  unsigned int GetTotalWpGroups();
  void SetTAAC(unsigned int);
  void SetNSAC(unsigned int);
  void SetTransferSpeed(unsigned int);
  void SetVDD_R_CURR_MIN(unsigned int);
  void SetVDD_R_CURR_MAX(unsigned int);
  void SetVDD_W_CURR_MIN(unsigned int);
  void SetVDD_W_CURR_MAX(unsigned int);
  void SetWriteSpeedFactor(unsigned int);
  void SetPermanentWriteProtection(bool);
  void SetTemporaryWriteProtection(bool);
  void SetCapacity(unsigned long);
  void UpdateCRC7();

protected:
  unsigned char image[16];
  unsigned int blockLength, eraseUnit, writeProtectUnit;
  uint64_t capacity;
};
class CSdCSD : public CCSD {
public:
  CSdCSD(const unsigned char *csd);
  std::wstring Parse(unsigned int indent) override;
  virtual uint64_t GetProtectedAreaUnit();
  bool GetErasedBlockEn();
  unsigned int GetEraseSectorSize();
  unsigned int GetWriteProtectGroupSize();
};
class CSdCSDV20 : public CSdCSD {
public:
  CSdCSDV20(const unsigned char *csd);
  void UpdateDeviceSize(unsigned long bytes) override;
  std::wstring Parse(unsigned int indent) override;
  uint64_t GetProtectedAreaUnit() override;
  unsigned int Get_C_SIZE();
};
class CMmcCSD : public CCSD {
public:
  CMmcCSD(const unsigned char *csd);
  std::wstring Parse(unsigned int indent) override;
  unsigned int GetSystemSpecVersion();
  unsigned int GetEraseGroupSize();
  unsigned int GetEraseGroupMult();
  unsigned int GetWriteProtectGroupSize();
  unsigned int GetDefaultECC();
  bool GetContentProtectionApplication();
  unsigned int GetECC();
};

class CSCR {
public:
  CSCR(unsigned char *scr);
  unsigned int GetSCRVersion();
  unsigned int GetSDMemoryCardSpec();
  bool GetDataAfterErase();
  unsigned int GetSDSecurityVersion();
  unsigned int GetDataBusWidth();
  bool IsSdSpec3();
  bool IsSdSpec4();
  unsigned int GetSDSpecX();
  unsigned int GetCmdSupport();
  bool IsSdSpec5();
  std::wstring Parse(unsigned int indent);

private:
  unsigned char image[8];
};

class COCR {
public:
  static COCR *Create(bool isMmc, unsigned char *ocr);
  COCR(unsigned char *ocr);
  virtual ~COCR();
  virtual std::wstring Parse(unsigned int indent) = 0;
  bool IsCardInitFinished();

protected:
  unsigned char image[4];
};
class CSdOCR : public COCR {
public:
  CSdOCR(unsigned char *ocr);
  std::wstring Parse(unsigned int indent) override;
  bool GetHighCapacityEn();
};
class CMmcOCR : public COCR {
public:
  CMmcOCR(unsigned char *ocr);
  std::wstring Parse(unsigned int indent) override;
  unsigned int GetAccessMode();
};

class CSpiR1 {
public:
  CSpiR1(unsigned char r1);
  std::wstring Parse(unsigned int indent);

protected:
  unsigned char r1;
};
class CSpiR2 : public CSpiR1 {
public:
  CSpiR2(unsigned char *r2);
  std::wstring Parse(unsigned int indent);

private:
  unsigned char r2;
};

class CCardHwId {
public:
  static CCardHwId *Create(unsigned int id);
  virtual ~CCardHwId();
  virtual std::wstring GetPartNumber() = 0;
  virtual std::wstring GetModelName() = 0;
  virtual std::wstring GetNormalVendorFwPath() = 0;
  virtual std::wstring GetUniversalVendorFwPath() = 0;
  virtual unsigned int GetRomChecksum() = 0;
  virtual bool CanSupportDowngradeFlash() = 0;
  virtual bool CanROMCodeSupportReadRetry() = 0;
  virtual bool CanSupportSDv30() = 0;

protected:
  unsigned int id;
};
class CNV6459A0AHwId : public CCardHwId {
public:
  CNV6459A0AHwId(unsigned int id);
  std::wstring GetPartNumber() override;
  std::wstring GetModelName() override;
  std::wstring GetNormalVendorFwPath() override;
  std::wstring GetUniversalVendorFwPath() override;
  unsigned int GetRomChecksum() override;
  bool CanSupportDowngradeFlash() override;
  bool CanROMCodeSupportReadRetry() override;
  bool CanSupportSDv30() override;
};
class CNV6437A0AHwId : public CCardHwId {
public:
  CNV6437A0AHwId(unsigned int id);
  std::wstring GetPartNumber() override;
  std::wstring GetModelName() override;
  std::wstring GetNormalVendorFwPath() override;
  std::wstring GetUniversalVendorFwPath() override;
  unsigned int GetRomChecksum() override;
  bool CanSupportDowngradeFlash() override;
  bool CanROMCodeSupportReadRetry() override;
  bool CanSupportSDv30() override;
};

class CHardwareInfo {
public:
  CHardwareInfo();
  unsigned int GetMonth();
  void SetMonth(unsigned int);
  unsigned int GetDate();
  void SetDate(unsigned int);
  unsigned int GetSerialNumber();
  void SetSerialNumber(unsigned int);
  unsigned int GetHwID();
  void SetHwID(unsigned int);
  std::wstring ToString();

private:
  unsigned int month, date, serialNumber, hwId;
};

class CSdStatus {
public:
  CSdStatus(bool extendedFields, bool protectedAreaInBytes, unsigned char *status);
  void GetContent(unsigned char *out, unsigned int length);
  unsigned char Get_SU_Size_By_AU_Size(unsigned short vscAuSize);
  std::wstring Parse(unsigned int indent);
  unsigned char GetDataBusWidth();
  bool GetSecuredMode();
  unsigned short GetCardType();
  unsigned int GetProtectedAreaSize();
  void SetProtectedAreaSize(unsigned int);
  unsigned char GetSpeedClass();
  void SetSpeedClass(unsigned char);
  unsigned char GetPerformanceMove();
  void SetPerformanceMove(unsigned char);
  unsigned char Get_AU_Size();
  void Set_AU_Size(unsigned char);
  unsigned short GetEraseSize();
  void SetEraseSize(unsigned short);
  unsigned char GetEraseTimeout();
  void SetEraseTimeout(unsigned char);
  unsigned char GetEraseOffset();
  void SetEraseOffset(unsigned char);
  unsigned char Get_UHS_SpeedGrade();
  void Set_UHS_SpeedGrade(unsigned char);
  unsigned char Get_UHS_AU_Size();
  void Set_UHS_AU_Size(unsigned char);
  unsigned char GetVideoSpeedClass();
  void SetVideoSpeedClass(unsigned char);
  unsigned short Get_VSC_AU_Size();
  void Set_VSC_AU_Size(unsigned short);
  unsigned int GetSuspentionAddress();
  void SetSuspentionAddress(unsigned int);
  unsigned char GetAppPerformanceClass();
  void SetAppPerformanceClass(unsigned char);
  unsigned char Get_Discard_Support();
  void Set_Discard_Support(unsigned char);
  unsigned char Get_FULE_Support();
  void Set_FULE_Support(unsigned char);

private:
  unsigned char status[64];
  bool protectedAreaInBytes;
  bool extendedFields;
};

class CSwitchStatus {
public:
  CSwitchStatus(unsigned char *status);
  std::wstring Parse(unsigned int indent);

private:
  unsigned char status[64];
};

class CExtCSD {
public:
  CExtCSD(unsigned char *extCsd);
  unsigned int GetSupportedCmdSet();
  unsigned int GetSectorCount();
  unsigned int GetMinPerfW_8_52();
  unsigned int GetMinPerfR_8_52();
  unsigned int GetMinPerfW_8_26_4_52();
  unsigned int GetMinPerfR_8_26_4_52();
  unsigned int GetMinPerfW_4_26();
  unsigned int GetMinPerfR_4_26();
  unsigned int GetPowerClass_26_360();
  unsigned int GetPowerClass_52_360();
  unsigned int GetPowerClass_26_195();
  unsigned int GetPowerClass_52_195();
  unsigned int GetCardType();
  unsigned int GetCSDStructureVersion();
  unsigned int GetExtendedCSDRevision();
  unsigned int GetCmdSet();
  unsigned int GetCmdSetRevision();
  unsigned int GetPowerClass();
  unsigned int GetHighSpeedTiming();
  unsigned int GetBusWidth();
  std::wstring Parse(unsigned int indent);

private:
  unsigned char data[512];
};

// ---- support utilities -------------------------------------------------------

class CIniFileLoader {
public:
  CIniFileLoader(const std::wstring &fileName);
  CIniFileLoader(const std::wstring &fileName, unsigned int seed);
  bool End();
  void GetItem(std::wstring &out, wchar_t terminator);
  void GetKeyMap(std::map<std::wstring, std::wstring> &keys);
  void GetPositionOfComment();
  unsigned long Find(wchar_t c, unsigned long from);
  unsigned long FindFirstNotOf(const wchar_t *set, unsigned long from);

private:
  std::wstring text;
  const std::wstring &fileName;
  uint64_t pos;
  uint64_t commentStart;
  uint64_t commentEnd;
};

class CIniFile {
public:
  using KeyMap = std::map<std::wstring, std::wstring>;
  CIniFile(unsigned int seed, const std::wstring &fileName, unsigned int mode);
  CIniFile(const CIniFile &);
  CIniFile &operator=(const CIniFile &);
  void Open(const std::wstring &fileName, unsigned int mode);
  void Open(const std::wstring &fileName, unsigned int mode, unsigned int seed);
  void Load(CIniFileLoader &loader);
  KeyMap::const_iterator FindKey(const std::wstring &section, const std::wstring &key) const;
  std::wstring ReadString(const std::wstring &section, const std::wstring &key) const;
  std::wstring ReadString(const std::wstring &section, const std::wstring &key,
                          const std::wstring &defaultValue) const;
  void ReadStrings(const std::wstring &section, const std::wstring &key,
                   std::vector<std::wstring> &out) const;
  void ReadStrings(const std::wstring &section, const std::wstring &key, unsigned int count,
                   std::vector<std::wstring> &out) const;
  int StringToInteger(const std::wstring &s) const;
  int ReadInteger(const std::wstring &section, const std::wstring &key) const;
  int ReadInteger(const std::wstring &section, const std::wstring &key, int defaultValue) const;
  int ReadHexInteger(const std::wstring &section, const std::wstring &key) const;
  int ReadHexInteger(const std::wstring &section, const std::wstring &key, int defaultValue) const;
  void WriteString(const std::wstring &section, const std::wstring &key, const std::wstring &value);
  void WriteInteger(const std::wstring &section, const std::wstring &key, int value);
  void DeleteSection(const std::wstring &section);
  void DeleteKey(const std::wstring &section, const std::wstring &key);
  void UpdateFile(const std::wstring &fileName);
  void UpdateFile();
  bool operator==(const CIniFile &) const;
  bool operator!=(const CIniFile &) const;
  bool operator==(const CIniFile &);
  bool operator!=(const CIniFile &);
  CIniFile &operator+=(const CIniFile &);
};
CIniFile operator+(const CIniFile &a, const CIniFile &b);

std::wstring ToWideString(const std::string &s);
std::string ToNarrowString(const std::wstring &s);
std::wstring c2w(const char *s);
std::string w2c(const wchar_t *s);
int StringToInteger(const std::string &s);
int StringToInteger(const std::wstring &s);
long StringToInteger64(const std::string &s);
long StringToInteger64(const std::wstring &s);
unsigned int HexStringToInteger(const std::string &s);
unsigned int HexStringToInteger(const std::wstring &s);
unsigned long HexStringToInteger64(const std::string &s);
unsigned long HexStringToInteger64(const std::wstring &s);
std::string IntegerToString(int v);
std::wstring IntegerToWideString(int v);
std::string IntegerToString(int v, unsigned int width);
std::wstring IntegerToWideString(int v, unsigned int width);
std::string Integer64ToString(long v);
std::wstring Integer64ToWideString(long v);
std::string IntegerToHexString(unsigned int v, unsigned int width);
std::wstring IntegerToHexWideString(unsigned int v, unsigned int width);
std::string Integer64ToHexString(long v, unsigned int width);
std::wstring Integer64ToHexWideString(long v, unsigned int width);
std::string itoa(int v, char *buf, int radix);
std::wstring _itow(int v, wchar_t *buf, int radix);
void SplitString(const std::string &s, const std::string &delims, std::vector<std::string> &out);
void SplitString(const std::wstring &s, const std::wstring &delims, std::vector<std::wstring> &out);
std::wstring ByteArrayToHexStr(unsigned char *data, unsigned int n);
bool ErasePartitionChar(std::string &s);
bool ErasePartitionChar(std::wstring &s);
bool IsDigit(const std::string &s);
bool IsDigit(const std::wstring &s);
bool IsHexDigit(const std::string &s);
bool IsHexDigit(const std::wstring &s);
bool IsAsciiString(const std::wstring &s);
std::wstring EraseLineEnd(const std::wstring &s);
std::wstring ElapsedTimeMsToString(unsigned int ms);
std::wstring GetDateTimeString();
bool FileExists(const wchar_t *path);
bool FileExists(const char *path);
std::string extract_fname(const char *path);
std::wstring extract_fname(const wchar_t *path);
void FillMemory(void *p, unsigned long n, unsigned char v);
void CloseHandle(int fd);

class CEndian {
public:
  CEndian();
  bool IsBigEndian();
  unsigned short SwapWord(unsigned short v);
  unsigned int SwapDWord(unsigned int v);
  void SwapWords(unsigned short *p, unsigned int n);
  void SwapDWords(unsigned int *p, unsigned int n);

private:
  uint32_t word;
};
template <typename T> T SwapBytes(T v);
extern template unsigned int SwapBytes<unsigned int>(unsigned int v);

class CDataBuf {
public:
  CDataBuf(unsigned int bytesPerLine, unsigned int groupSize, unsigned int groupOrder,
           bool textColumn, unsigned int indent);
  std::wstring ToText(unsigned char *data, unsigned int n);
  std::wstring ToAscii(const unsigned char *data, unsigned int n);
  std::wstring Dump(unsigned char *data, unsigned int len, bool bareFirstLine);
  std::wstring Dump(unsigned int address, unsigned int len, unsigned char *data);

private:
  unsigned int bytesPerLine, indent, groupSize;
  bool textColumn;
  unsigned int groupOrder;
};

class CIoFile {
public:
  CIoFile();
  CIoFile(const std::string &path, unsigned int access, unsigned int creation, unsigned int,
          unsigned int);
  CIoFile(const std::wstring &path, unsigned int access, unsigned int creation, unsigned int,
          unsigned int);
  ~CIoFile();
  void Open(const std::string &path, unsigned int access, unsigned int creation, unsigned int,
            unsigned int);
  void Open(const std::wstring &path, unsigned int access, unsigned int creation, unsigned int,
            unsigned int);
  bool IsOpen();
  bool IsValidFileHandle();
  void Close();
  void Write(unsigned char *buf, unsigned int len);
  void Read(unsigned char *buf, unsigned int len);
  void WriteByte(unsigned char);
  void WriteWord(unsigned short);
  void WriteDWord(unsigned int);
  unsigned char ReadByte();
  unsigned short ReadWord();
  unsigned int ReadDWord();
  int Flush();
  uint64_t GetSize();
  long Seek(long offset, int whence);
  void WriteByteOrderMarkOfLittleEndian();
  bool IsUTF16();
  void WriteString(const std::string &s);
  void WriteString(const std::wstring &s);
  void ReadString(std::string &s);
  void ReadString(std::wstring &s);
  CIoFile &operator<<(const std::wstring &);
  CIoFile &operator<<(wchar_t);
  CIoFile &operator<<(int);
  CIoFile &operator<<(unsigned int);
  CIoFile &operator<<(long);
  CIoFile &operator<<(unsigned long);

private:
  int handle;
  std::wstring fileName;
};
class CNewFile : public CIoFile {
public:
  CNewFile(const std::wstring &path);
};

class TRandomMersenne {
public:
  TRandomMersenne(unsigned int seed);
  void RandomInit(unsigned int seed);
  uint32_t BRandom();
  double Random();
  unsigned int IRandom(unsigned int min, unsigned int max);
  void Generate(unsigned char *buffer, unsigned int length);

private:
  uint32_t mt[624];
  int32_t mti;
};
