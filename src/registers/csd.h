// The card-specific data register (CSD): timing, command classes, block
// lengths, currents, erase and write-protect geometry and capacity. The
// 16-byte image is the single source of every field; the capacity and the
// erase and write-protect units are derived when the object is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "registers/csd_fields.h"

class CCSD {
public:
  // An SD CSD is chosen by CSD_STRUCTURE: 1 gives version 2.0 (high
  // capacity), anything else version 1.0.
  static std::unique_ptr<CCSD> Create(bool isMmc, const unsigned char *csd);

  CCSD();
  explicit CCSD(const unsigned char *csd);
  virtual ~CCSD() = default;

  unsigned char *Data() { return image; }
  const unsigned char *Data() const { return image; }
  void ToBuffer(unsigned char *out) const;

  unsigned int GetCSDStructure() const { return Field(CsdField::CSD_STRUCTURE); }
  unsigned int GetTAAC() const { return Field(CsdField::TAAC); }
  unsigned int GetNSAC() const { return Field(CsdField::NSAC); }
  unsigned int GetTransferSpeed() const { return Field(CsdField::TRAN_SPEED); }
  unsigned int GetCardCommandClass() const { return Field(CsdField::CCC); }
  unsigned int GetMaxReadBlockLength() const { return 1u << Field(CsdField::READ_BL_LEN); }
  bool GetPartialReadEn() const { return Field(CsdField::READ_BL_PARTIAL); }
  bool GetWriteMisalignmentEn() const { return Field(CsdField::WRITE_BLK_MISALIGN); }
  bool GetReadMisalignmentEn() const { return Field(CsdField::READ_BLK_MISALIGN); }
  bool GetDSRImplemented() const { return Field(CsdField::DSR_IMP); }
  unsigned int Get_C_SIZE() const { return Field(CsdField::C_SIZE); }
  unsigned int GetVDD_R_CURR_MIN() const { return Field(CsdField::VDD_R_CURR_MIN); }
  unsigned int GetVDD_R_CURR_MAX() const { return Field(CsdField::VDD_R_CURR_MAX); }
  unsigned int GetVDD_W_CURR_MIN() const { return Field(CsdField::VDD_W_CURR_MIN); }
  unsigned int GetVDD_W_CURR_MAX() const { return Field(CsdField::VDD_W_CURR_MAX); }
  unsigned int Get_C_SIZE_MULT() const { return Field(CsdField::C_SIZE_MULT); }
  bool GetWriteProtectGroupEnabled() const { return Field(CsdField::WP_GRP_ENABLE); }
  unsigned int GetWriteSpeedFactor() const { return Field(CsdField::R2W_FACTOR); }
  unsigned int GetMaxWriteBlockLength() const { return 1u << Field(CsdField::WRITE_BL_LEN); }
  bool GetPartialWriteEn() const { return Field(CsdField::WRITE_BL_PARTIAL); }
  bool GetFileFormatGroup() const { return Field(CsdField::FILE_FORMAT_GRP); }
  bool GetCopyFlag() const { return Field(CsdField::COPY); }
  bool GetPermanentWriteProtection() const { return Field(CsdField::PERM_WRITE_PROTECT); }
  bool GetTemporaryWriteProtection() const { return Field(CsdField::TMP_WRITE_PROTECT); }
  unsigned int GetFileFormat() const { return Field(CsdField::FILE_FORMAT); }
  unsigned int GetCRC7() const { return Field(CsdField::CRC); }

  // Derived values, in bytes.
  uint64_t GetCapacity() const { return capacity; }
  unsigned int GetErasedUnit() const { return eraseUnit; }
  unsigned int GetWriteProtectionUnit() const { return writeProtectUnit; }
  unsigned int GetMaxBlockLength() const { return blockLength; }
  uint64_t GetTotalErasedGroups() const;
  unsigned int GetTotalWpGroups() const;

  // Each setter writes only its own bits; the CRC byte is left as it is.
  void SetTAAC(unsigned int v) { SetField(CsdField::TAAC, v); }
  void SetNSAC(unsigned int v) { SetField(CsdField::NSAC, v); }
  void SetTransferSpeed(unsigned int v) { SetField(CsdField::TRAN_SPEED, v); }
  void SetVDD_R_CURR_MIN(unsigned int v) { SetField(CsdField::VDD_R_CURR_MIN, v); }
  void SetVDD_R_CURR_MAX(unsigned int v) { SetField(CsdField::VDD_R_CURR_MAX, v); }
  void SetVDD_W_CURR_MIN(unsigned int v) { SetField(CsdField::VDD_W_CURR_MIN, v); }
  void SetVDD_W_CURR_MAX(unsigned int v) { SetField(CsdField::VDD_W_CURR_MAX, v); }
  void SetWriteSpeedFactor(unsigned int v) { SetField(CsdField::R2W_FACTOR, v); }
  void SetPermanentWriteProtection(bool v) { SetField(CsdField::PERM_WRITE_PROTECT, v); }
  void SetTemporaryWriteProtection(bool v) { SetField(CsdField::TMP_WRITE_PROTECT, v); }
  // The stored capacity only; the image is not touched.
  void SetCapacity(unsigned long bytes) { capacity = bytes; }

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

  bool GetErasedBlockEn() const { return Field(CsdField::ERASE_BLK_EN); }
  unsigned int GetEraseSectorSize() const { return Field(CsdField::SECTOR_SIZE); }
  unsigned int GetWriteProtectGroupSize() const { return Field(CsdField::WP_GRP_SIZE); }

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
  unsigned int Get_C_SIZE() const { return Field(CsdField::C_SIZE_V20); }

  // C_SIZE = bytes / 512 KiB - 1 (at most the field's 22 bits); a size below
  // one unit leaves everything as it is. The CRC byte is not refreshed.
  void UpdateDeviceSize(unsigned long bytes) override;
  std::wstring Parse(unsigned int indent) override;
  // The protected area of a high-capacity card is counted in bytes.
  uint64_t GetProtectedAreaUnit() override { return 1; }

private:
  void ComputeV20Capacity();
};

class CMmcCSD : public CCSD {
public:
  explicit CMmcCSD(const unsigned char *csd);

  unsigned int GetSystemSpecVersion() const { return Field(CsdField::SPEC_VERS); }
  unsigned int GetEraseGroupSize() const { return Field(CsdField::ERASE_GRP_SIZE); }
  unsigned int GetEraseGroupMult() const { return Field(CsdField::ERASE_GRP_MULT); }
  unsigned int GetWriteProtectGroupSize() const { return Field(CsdField::MMC_WP_GRP_SIZE); }
  unsigned int GetDefaultECC() const { return Field(CsdField::DEFAULT_ECC); }
  bool GetContentProtectionApplication() const { return Field(CsdField::CONTENT_PROT_APP); }
  unsigned int GetECC() const { return Field(CsdField::ECC); }

  std::wstring Parse(unsigned int indent) override;
};
