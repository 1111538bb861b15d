// SPDX-License-Identifier: MIT
#include "sdsmart/csd.h"

#include <cstring>

#include "sdsmart/crc.h"

CCSD *CCSD::Create(bool isMmc, const unsigned char *csd) {
  if (isMmc)
    return new CMmcCSD(csd);
  if ((csd[0] >> 6) == 1)
    return new CSdCSDV20(csd);
  return new CSdCSD(csd);
}

CCSD::CCSD() { std::memset(image, 0, sizeof image); }

CCSD::CCSD(const unsigned char *csd) { std::memcpy(image, csd, sizeof image); }

CCSD::~CCSD() {}

void CCSD::ToBuffer(unsigned char *out) { std::memcpy(out, image, sizeof image); }

uint64_t CCSD::GetTotalErasedGroups() { return eraseUnit ? capacity / eraseUnit : 0; }

unsigned int CCSD::GetTotalWpGroups() {
  if (writeProtectUnit == 0 || capacity == 0)
    return 0;
  return static_cast<unsigned int>((capacity - 1) / writeProtectUnit + 1);
}

void CCSD::UpdateCRC7() { image[15] = static_cast<unsigned char>(CCRC7().Generate(image, 15)); }

void CCSD::ComputeCapacity() {
  blockLength = (1u << Field(CsdField::READ_BL_LEN)) & 0xFFFFu;
  const uint64_t blocks = static_cast<uint64_t>(Field(CsdField::C_SIZE) + 1)
                          << (Field(CsdField::C_SIZE_MULT) + 2);
  capacity = blocks * blockLength;
}

void CCSD::UpdateDeviceSize(unsigned long bytes) {
  unsigned int mult = 3;
  unsigned int blockLenCode = 9;
  uint64_t count = bytes >> (3 + 9 + 2);
  if (count == 0)
    return; // nothing to encode: C_SIZE would underflow
  if (bytes > 0xFFFFFFFFul) {
    mult = 7;
    count = 4095;
  } else {
    while (count > 4096) {
      if (mult <= 6)
        ++mult;
      else
        ++blockLenCode;
      count >>= 1;
    }
  }
  SetField(CsdField::READ_BL_LEN, blockLenCode);
  SetField(CsdField::WRITE_BL_LEN, blockLenCode);
  SetField(CsdField::C_SIZE, static_cast<uint32_t>(count - 1));
  SetField(CsdField::C_SIZE_MULT, mult);
  SetField(CsdField::WRITE_BL_PARTIAL, 0);
  UpdateCRC7();
  ComputeCapacity();
}

std::wstring CCSD::Parse(unsigned int indent) { return std::wstring(indent, L' '); }

CSdCSD::CSdCSD(const unsigned char *csd) : CCSD(csd) {
  ComputeCapacity();
  ComputeUnits();
}

void CSdCSD::ComputeUnits() {
  eraseUnit = GetErasedBlockEn() ? 512 : blockLength * (GetEraseSectorSize() + 1);
  writeProtectUnit = (GetWriteProtectGroupSize() + 1) * eraseUnit;
}

uint64_t CSdCSD::GetProtectedAreaUnit() {
  return static_cast<uint64_t>(blockLength) << (Get_C_SIZE_MULT() + 2);
}

CSdCSDV20::CSdCSDV20(const unsigned char *csd) : CSdCSD(csd) {
  ComputeV20Capacity();
  ComputeUnits();
}

void CSdCSDV20::ComputeV20Capacity() {
  blockLength = (1u << Field(CsdField::READ_BL_LEN)) & 0xFFFFu;
  capacity = static_cast<uint64_t>(Get_C_SIZE() + 1) << 19;
}

void CSdCSDV20::UpdateDeviceSize(unsigned long bytes) {
  const uint64_t units = bytes >> 19;
  if (units == 0)
    return; // less than one 512 KiB unit cannot be encoded
  const uint64_t cSize =
      units - 1 > CsdField::C_SIZE_V20.Max() ? CsdField::C_SIZE_V20.Max() : units - 1;
  SetField(CsdField::C_SIZE_V20, static_cast<uint32_t>(cSize));
  capacity = (cSize + 1) << 19;
}

CMmcCSD::CMmcCSD(const unsigned char *csd) : CCSD(csd) {
  ComputeCapacity();
  eraseUnit = (GetEraseGroupMult() + 1) * (GetEraseGroupSize() + 1) * blockLength;
  writeProtectUnit = (GetWriteProtectGroupSize() + 1) * eraseUnit;
}

unsigned char *CCSD::Data() { return image; }

const unsigned char *CCSD::Data() const { return image; }

unsigned int CCSD::GetCSDStructure() { return Field(CsdField::CSD_STRUCTURE); }

unsigned int CCSD::GetTAAC() { return Field(CsdField::TAAC); }

unsigned int CCSD::GetNSAC() { return Field(CsdField::NSAC); }

unsigned int CCSD::GetTransferSpeed() { return Field(CsdField::TRAN_SPEED); }

unsigned int CCSD::GetCardCommandClass() { return Field(CsdField::CCC); }

unsigned int CCSD::GetMaxReadBlockLength() { return 1u << Field(CsdField::READ_BL_LEN); }

bool CCSD::GetPartialReadEn() { return Field(CsdField::READ_BL_PARTIAL); }

bool CCSD::GetWriteMisalignmentEn() { return Field(CsdField::WRITE_BLK_MISALIGN); }

bool CCSD::GetReadMisalignmentEn() { return Field(CsdField::READ_BLK_MISALIGN); }

bool CCSD::GetDSRImplemented() { return Field(CsdField::DSR_IMP); }

unsigned int CCSD::Get_C_SIZE() { return Field(CsdField::C_SIZE); }

unsigned int CCSD::GetVDD_R_CURR_MIN() { return Field(CsdField::VDD_R_CURR_MIN); }

unsigned int CCSD::GetVDD_R_CURR_MAX() { return Field(CsdField::VDD_R_CURR_MAX); }

unsigned int CCSD::GetVDD_W_CURR_MIN() { return Field(CsdField::VDD_W_CURR_MIN); }

unsigned int CCSD::GetVDD_W_CURR_MAX() { return Field(CsdField::VDD_W_CURR_MAX); }

unsigned int CCSD::Get_C_SIZE_MULT() { return Field(CsdField::C_SIZE_MULT); }

bool CCSD::GetWriteProtectGroupEnabled() { return Field(CsdField::WP_GRP_ENABLE); }

unsigned int CCSD::GetWriteSpeedFactor() { return Field(CsdField::R2W_FACTOR); }

unsigned int CCSD::GetMaxWriteBlockLength() { return 1u << Field(CsdField::WRITE_BL_LEN); }

bool CCSD::GetPartialWriteEn() { return Field(CsdField::WRITE_BL_PARTIAL); }

bool CCSD::GetFileFormatGroup() { return Field(CsdField::FILE_FORMAT_GRP); }

bool CCSD::GetCopyFlag() { return Field(CsdField::COPY); }

bool CCSD::GetPermanentWriteProtection() { return Field(CsdField::PERM_WRITE_PROTECT); }

bool CCSD::GetTemporaryWriteProtection() { return Field(CsdField::TMP_WRITE_PROTECT); }

unsigned int CCSD::GetFileFormat() { return Field(CsdField::FILE_FORMAT); }

unsigned int CCSD::GetCRC7() { return Field(CsdField::CRC); }

uint64_t CCSD::GetCapacity() { return capacity; }

unsigned int CCSD::GetErasedUnit() { return eraseUnit; }

unsigned int CCSD::GetWriteProtectionUnit() { return writeProtectUnit; }

unsigned int CCSD::GetMaxBlockLength() { return blockLength; }

void CCSD::SetTAAC(unsigned int v) { SetField(CsdField::TAAC, v); }

void CCSD::SetNSAC(unsigned int v) { SetField(CsdField::NSAC, v); }

void CCSD::SetTransferSpeed(unsigned int v) { SetField(CsdField::TRAN_SPEED, v); }

void CCSD::SetVDD_R_CURR_MIN(unsigned int v) { SetField(CsdField::VDD_R_CURR_MIN, v); }

void CCSD::SetVDD_R_CURR_MAX(unsigned int v) { SetField(CsdField::VDD_R_CURR_MAX, v); }

void CCSD::SetVDD_W_CURR_MIN(unsigned int v) { SetField(CsdField::VDD_W_CURR_MIN, v); }

void CCSD::SetVDD_W_CURR_MAX(unsigned int v) { SetField(CsdField::VDD_W_CURR_MAX, v); }

void CCSD::SetWriteSpeedFactor(unsigned int v) { SetField(CsdField::R2W_FACTOR, v); }

void CCSD::SetPermanentWriteProtection(bool v) { SetField(CsdField::PERM_WRITE_PROTECT, v); }

void CCSD::SetTemporaryWriteProtection(bool v) { SetField(CsdField::TMP_WRITE_PROTECT, v); }

void CCSD::SetCapacity(unsigned long bytes) { capacity = bytes; }

bool CSdCSD::GetErasedBlockEn() { return Field(CsdField::ERASE_BLK_EN); }

unsigned int CSdCSD::GetEraseSectorSize() { return Field(CsdField::SECTOR_SIZE); }

unsigned int CSdCSD::GetWriteProtectGroupSize() { return Field(CsdField::WP_GRP_SIZE); }

unsigned int CSdCSDV20::Get_C_SIZE() { return Field(CsdField::C_SIZE_V20); }

uint64_t CSdCSDV20::GetProtectedAreaUnit() { return 1; }

unsigned int CMmcCSD::GetSystemSpecVersion() { return Field(CsdField::SPEC_VERS); }

unsigned int CMmcCSD::GetEraseGroupSize() { return Field(CsdField::ERASE_GRP_SIZE); }

unsigned int CMmcCSD::GetEraseGroupMult() { return Field(CsdField::ERASE_GRP_MULT); }

unsigned int CMmcCSD::GetWriteProtectGroupSize() { return Field(CsdField::MMC_WP_GRP_SIZE); }

unsigned int CMmcCSD::GetDefaultECC() { return Field(CsdField::DEFAULT_ECC); }

bool CMmcCSD::GetContentProtectionApplication() { return Field(CsdField::CONTENT_PROT_APP); }

unsigned int CMmcCSD::GetECC() { return Field(CsdField::ECC); }
