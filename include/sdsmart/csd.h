// SPDX-License-Identifier: MIT
// The card-specific data register (CSD): timing, command classes, block
// lengths, currents, erase and write-protect geometry and capacity. The
// 16-byte image is the single source of every field; the capacity and the
// erase and write-protect units are derived when the object is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdsmart/csd_fields.h"

class CCSD {
public:
  // An SD CSD is chosen by CSD_STRUCTURE: 1 gives version 2.0 (high
  // capacity), anything else version 1.0.
  // The caller owns the object and deletes it through the virtual destructor.
  static CCSD *Create(bool isMmc, const unsigned char *csd);

  CCSD();
  explicit CCSD(const unsigned char *csd);
  virtual ~CCSD();

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

  // Derived values, in bytes.
  uint64_t GetCapacity();
  unsigned int GetErasedUnit();
  unsigned int GetWriteProtectionUnit();
  unsigned int GetMaxBlockLength();
  uint64_t GetTotalErasedGroups();
  unsigned int GetTotalWpGroups();

  // Each setter writes only its own bits; the CRC byte is left as it is.
  void SetTAAC(unsigned int v);
  void SetNSAC(unsigned int v);
  void SetTransferSpeed(unsigned int v);
  void SetVDD_R_CURR_MIN(unsigned int v);
  void SetVDD_R_CURR_MAX(unsigned int v);
  void SetVDD_W_CURR_MIN(unsigned int v);
  void SetVDD_W_CURR_MAX(unsigned int v);
  void SetWriteSpeedFactor(unsigned int v);
  void SetPermanentWriteProtection(bool v);
  void SetTemporaryWriteProtection(bool v);
  // The stored capacity only; the image is not touched.
  void SetCapacity(unsigned long bytes);

  // byte 15 = CRC-7 of bytes 0..14 with the end bit.
  void UpdateCRC7();
  // Re-encodes a size as C_SIZE, C_SIZE_MULT and READ_BL_LEN of a version
  // 1.0 (or MMC) CSD. A size below one 16 KiB unit leaves everything as it is.
  virtual void UpdateDeviceSize(unsigned long bytes);
  // The text report; the base class gives only the indentation.
  virtual std::wstring Parse(unsigned int indent);

protected:
  uint32_t Field(const RegisterField &f) const { return ReadField(image, f); }
  void SetField(const RegisterField &f, uint32_t v) { WriteField(image, f, v); }
  // Block length and capacity of a version 1.0 or MMC layout.
  void ComputeCapacity();

  unsigned char image[16];
  unsigned int blockLength = 0;
  unsigned int eraseUnit = 0;
  unsigned int writeProtectUnit = 0;
  uint64_t capacity = 0;
};

class CSdCSD : public CCSD {
public:
  explicit CSdCSD(const unsigned char *csd);

  bool GetErasedBlockEn();
  unsigned int GetEraseSectorSize();
  unsigned int GetWriteProtectGroupSize();

  std::wstring Parse(unsigned int indent) override;
  // Unit of the SD Status protected-area size: block length << (C_SIZE_MULT + 2).
  virtual uint64_t GetProtectedAreaUnit();

protected:
  void ComputeUnits();
};

class CSdCSDV20 : public CSdCSD {
public:
  explicit CSdCSDV20(const unsigned char *csd);

  // The 22-bit device size in units of 512 KiB.
  unsigned int Get_C_SIZE();

  // C_SIZE = bytes / 512 KiB - 1 (at most the field's 22 bits); a size below
  // one unit leaves everything as it is. The CRC byte is not refreshed.
  void UpdateDeviceSize(unsigned long bytes) override;
  std::wstring Parse(unsigned int indent) override;
  // The protected area of a high-capacity card is counted in bytes.
  uint64_t GetProtectedAreaUnit() override;

private:
  void ComputeV20Capacity();
};

class CMmcCSD : public CCSD {
public:
  explicit CMmcCSD(const unsigned char *csd);

  unsigned int GetSystemSpecVersion();
  unsigned int GetEraseGroupSize();
  unsigned int GetEraseGroupMult();
  unsigned int GetWriteProtectGroupSize();
  unsigned int GetDefaultECC();
  bool GetContentProtectionApplication();
  unsigned int GetECC();

  std::wstring Parse(unsigned int indent) override;
};
