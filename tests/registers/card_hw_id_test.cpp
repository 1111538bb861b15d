#include <gtest/gtest.h>

#include <map>
#include <string>

#include "registers/card_hw_id.h"
#include "registers/hardware_info.h"
#include "util/error.h"

namespace {

std::wstring RefusalOf(unsigned int id) {
  try {
    CCardHwId::Create(id);
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), 36869);
    return e.GetText();
  }
  return L"<accepted>";
}

TEST(CardHwId, SupportedControllers) {
  for (unsigned int id : {24u, 26u, 255u}) {
    auto hw = CCardHwId::Create(id);
    ASSERT_NE(dynamic_cast<CNV6459A0AHwId *>(hw.get()), nullptr) << id;
    EXPECT_EQ(hw->GetId(), id);
    EXPECT_EQ(hw->GetPartNumber(), L"NV6459-01A/AX");
    EXPECT_EQ(hw->GetModelName(), L"NV6459A0A");
    EXPECT_EQ(hw->GetNormalVendorFwPath(), L"NV6459\\WK96X");
    EXPECT_EQ(hw->GetUniversalVendorFwPath(), L"NV6459\\Reader");
    EXPECT_EQ(hw->GetRomChecksum(), 0u);
    EXPECT_TRUE(hw->CanSupportDowngradeFlash());
    EXPECT_TRUE(hw->CanROMCodeSupportReadRetry());
    EXPECT_TRUE(hw->CanSupportSDv30());
  }
  auto hw = CCardHwId::Create(ID_NV6437A0A);
  ASSERT_NE(dynamic_cast<CNV6437A0AHwId *>(hw.get()), nullptr);
  EXPECT_EQ(hw->GetPartNumber(), L"NV6437-01A/AX");
  EXPECT_EQ(hw->GetModelName(), L"NV6459A0A");
  EXPECT_EQ(hw->GetNormalVendorFwPath(), L"NV6459\\WK96X");
  EXPECT_EQ(hw->GetUniversalVendorFwPath(), L"NV6459\\Reader");
  EXPECT_EQ(hw->GetRomChecksum(), 0u);
  EXPECT_TRUE(hw->CanSupportDowngradeFlash());
  EXPECT_TRUE(hw->CanROMCodeSupportReadRetry());
  EXPECT_FALSE(hw->CanSupportSDv30());
}

TEST(CardHwId, RefusesEveryOtherController) {
  const std::map<unsigned int, std::wstring> named = {
      {0, L"qM6152A1E"},   {1, L"qM61407A1F"}, {2, L"qM61526A1G"},  {4, L"qM6140A0A"},
      {6, L"WK805A0B"},    {7, L"qM6140BA"},   {8, L"qM61403"},     {10, L"qM6140A1D"},
      {11, L"qM61403A1E"}, {12, L"qM6152A0B"}, {13, L"qM61526A0C"}, {14, L"qM6163A0A"},
      {16, L"qM6175A0A"},  {17, L"qM6186A0B"}, {19, L"qM6186A1C"},  {20, L"qM6186A2D"},
      {21, L"qM6209A0A"},  {22, L"qM6218A0B"}, {23, L"qM6197A0C"}};
  std::vector<unsigned int> ids;
  for (unsigned int id = 0; id < 300; ++id)
    ids.push_back(id);
  for (unsigned int id : {ID_AUTO_DETECT, 0x7FFFFFFFu, 0xFFFFFFFFu})
    ids.push_back(id);
  for (unsigned int id : ids) {
    if (id == 24 || id == 25 || id == 26 || id == 255)
      continue;
    const auto it = named.find(id);
    const std::wstring expected =
        it != named.end() ? L"Controller type is " + it->second + L", not NV6459A0A."
                          : L"[Error] : Incorrect controller type = " + std::to_wstring(id);
    EXPECT_EQ(RefusalOf(id), expected) << id;
  }
}

TEST(HardwareInfo, FieldsAndSummary) {
  CHardwareInfo info;
  EXPECT_EQ(info.GetMonth(), 0u);
  EXPECT_EQ(info.GetDate(), 0u);
  EXPECT_EQ(info.GetSerialNumber(), 0u);
  EXPECT_EQ(info.GetHwID(), 0u);
  info.SetMonth(3);
  info.SetDate(7);
  info.SetSerialNumber(12);
  info.SetHwID(26);
  EXPECT_EQ(info.ToString(), L" Hardware Version Information\r\n"
                             L"---------------------------------------------------\r\n"
                             L"             Model Name : NV6459A0A\r\n"
                             L"   Month-Date-S/N-HW ID : 03-07-12-26");
  CHardwareInfo copy(info);
  copy.SetSerialNumber(123);
  EXPECT_EQ(info.GetSerialNumber(), 12u);
  const std::wstring text = copy.ToString();
  EXPECT_EQ(text.substr(text.rfind(L": ") + 2), L"03-07-123-26");
  CHardwareInfo assigned;
  assigned = copy;
  EXPECT_EQ(assigned.ToString(), text);
}

TEST(HardwareInfo, UnsupportedControllerThrows) {
  CHardwareInfo info;
  info.SetHwID(14);
  try {
    info.ToString();
    FAIL() << "no exception";
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), 36869);
    EXPECT_EQ(e.GetText(), L"Controller type is qM6163A0A, not NV6459A0A.");
  }
}

} // namespace
