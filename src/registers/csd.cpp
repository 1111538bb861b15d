#include "registers/csd.h"

#include <cstring>

#include "registers/crc.h"

std::unique_ptr<CCSD> CCSD::Create(bool isMmc, const unsigned char *csd) {
  if (isMmc)
    return std::make_unique<CMmcCSD>(csd);
  if ((csd[0] >> 6) == 1)
    return std::make_unique<CSdCSDV20>(csd);
  return std::make_unique<CSdCSD>(csd);
}

CCSD::CCSD() { std::memset(image, 0, sizeof image); }

CCSD::CCSD(const unsigned char *csd) { std::memcpy(image, csd, sizeof image); }

void CCSD::ToBuffer(unsigned char *out) const { std::memcpy(out, image, sizeof image); }

uint64_t CCSD::GetTotalErasedGroups() const { return eraseUnit ? capacity / eraseUnit : 0; }

unsigned int CCSD::GetTotalWpGroups() const {
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
