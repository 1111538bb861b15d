// SPDX-License-Identifier: MIT
// Each documented factory called through its documented declaration: the
// object comes back as a raw owning pointer, works, and is deleted through
// the virtual destructor, as a host does it.
#include "documented.h"

#include <sdsmart/sdsmart.h>

#include <gtest/gtest.h>

TEST(Factories, CidFromBytesAndEmpty) {
  unsigned char image[16] = {0x1B, 0x53, 0x4D, 'S',  'D',  '1',  '6',  'G',
                             0x10, 0x12, 0x34, 0x56, 0x78, 0x00, 0xF3, 0x00};
  CCID *sd = CCID::Create(false, image);
  EXPECT_EQ(sd->GetMID(), 0x1Bu);
  EXPECT_EQ(sd->GetProductName(), "SD16G");
  EXPECT_EQ(sd->GetYear(), 2015u);
  EXPECT_EQ(sd->GetMonth(), 3u);
  delete sd;

  CCID *mmc = CCID::Create(true);
  mmc->SetMID(0x15);
  mmc->SetYear(2012);
  mmc->SetMonth(9);
  unsigned char out[16] = {};
  mmc->ToBuffer(out);
  EXPECT_EQ(out[0], 0x15);
  EXPECT_EQ(out[14], 0x9F);
  EXPECT_EQ(out[15] & 1, 1);
  delete mmc;
}

TEST(Factories, CsdChoosesItsLayout) {
  unsigned char image[16] = {0x40, 0, 0, 0, 0, 0x09, 0, 0x00, 0x76, 0x2F, 0, 0, 0, 0, 0, 0};
  CCSD *csd = CCSD::Create(false, image);
  EXPECT_EQ(csd->GetCapacity(), 15862857728u);
  EXPECT_EQ(csd->Parse(0).substr(0, 26), L"CSD Register Version 2.0\r\n");
  delete csd;
}

TEST(Factories, OcrReports) {
  unsigned char image[4] = {0xC0, 0xFF, 0x80, 0x00};
  COCR *ocr = COCR::Create(false, image);
  EXPECT_TRUE(ocr->IsCardInitFinished());
  EXPECT_NE(ocr->Parse(0).find(L"2.7 V ~ 3.6 V"), std::wstring::npos);
  delete ocr;
}

TEST(Factories, CardHwIdAnswersOrRefuses) {
  CCardHwId *a = CCardHwId::Create(26);
  EXPECT_EQ(a->GetModelName(), L"NV6459A0A");
  EXPECT_TRUE(a->CanSupportSDv30());
  delete a;
  try {
    delete CCardHwId::Create(14);
    ADD_FAILURE() << "a foreign controller was accepted";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), SDSMART_E_WRONG_CONTROLLER);
    EXPECT_EQ(e.GetText(), L"Controller type is qM6163A0A, not NV6459A0A.");
  }
}
