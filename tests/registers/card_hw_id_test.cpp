#include <gtest/gtest.h>
#include <memory>

#include <map>
#include <string>
#include <tuple>

#include "registers/card_hw_id.h"
#include "registers/hardware_info.h"
#include "util/error.h"

namespace {

// The error text of a refused controller (code 0x9005), or "<accepted>".
template <class Call> std::wstring RefusalOf(Call call) {
  try {
    call();
  } catch (const CError &e) {
    EXPECT_EQ(e.GetCode(), 36869);
    return e.GetText();
  }
  return L"<accepted>";
}

TEST(CardHwId, SupportedControllers) {
  for (unsigned int id : {24u, 25u, 26u, 255u}) {
    std::unique_ptr<CCardHwId> hw(CCardHwId::Create(id));
    const bool nv6437 = id == ID_NV6437A0A;
    EXPECT_EQ(nv6437, dynamic_cast<CNV6437A0AHwId *>(hw.get()) != nullptr) << id;
    EXPECT_EQ(!nv6437, dynamic_cast<CNV6459A0AHwId *>(hw.get()) != nullptr) << id;
    EXPECT_EQ(std::make_tuple(hw->GetId(), hw->GetPartNumber(), hw->GetModelName(),
                              hw->GetNormalVendorFwPath(), hw->GetUniversalVendorFwPath(),
                              hw->GetRomChecksum(), hw->CanSupportDowngradeFlash(),
                              hw->CanROMCodeSupportReadRetry(), hw->CanSupportSDv30()),
              std::make_tuple(id, std::wstring(nv6437 ? L"NV6437-01A/AX" : L"NV6459-01A/AX"),
                              std::wstring(L"NV6459A0A"), std::wstring(L"NV6459\\WK96X"),
                              std::wstring(L"NV6459\\Reader"), 0u, true, true, !nv6437));
  }
}

TEST(CardHwId, RefusesEveryOtherController) {
  const std::map<unsigned int, std::wstring> named = {
      {0, L"qM6152A1E"},   {1, L"qM61407A1F"}, {2, L"qM61526A1G"},  {4, L"qM6140A0A"},
      {6, L"WK805A0B"},    {7, L"qM6140BA"},   {8, L"qM61403"},     {10, L"qM6140A1D"},
      {11, L"qM61403A1E"}, {12, L"qM6152A0B"}, {13, L"qM61526A0C"}, {14, L"qM6163A0A"},
      {16, L"qM6175A0A"},  {17, L"qM6186A0B"}, {19, L"qM6186A1C"},  {20, L"qM6186A2D"},
      {21, L"qM6209A0A"},  {22, L"qM6218A0B"}, {23, L"qM6197A0C"}};
  std::vector<unsigned int> ids = {ID_AUTO_DETECT, 0x7FFFFFFFu, 0xFFFFFFFFu};
  for (unsigned int id = 0; id < 300; ++id)
    if (id < 24 || (id > 26 && id != 255))
      ids.push_back(id);
  for (unsigned int id : ids) {
    const auto it = named.find(id);
    const std::wstring expected =
        it != named.end() ? L"Controller type is " + it->second + L", not NV6459A0A."
                          : L"[Error] : Incorrect controller type = " + std::to_wstring(id);
    EXPECT_EQ(RefusalOf([id] { std::unique_ptr<CCardHwId>(CCardHwId::Create(id)); }), expected)
        << id;
  }
}

TEST(HardwareInfo, SummaryAndRefusal) {
  CHardwareInfo info;
  EXPECT_EQ(info.GetMonth() + info.GetDate() + info.GetSerialNumber() + info.GetHwID(), 0u);
  info.SetMonth(3);
  info.SetDate(7);
  info.SetSerialNumber(12);
  info.SetHwID(26);
  EXPECT_EQ(info.ToString(), L" Hardware Version Information\r\n"
                             L"---------------------------------------------------\r\n"
                             L"             Model Name : NV6459A0A\r\n"
                             L"   Month-Date-S/N-HW ID : 03-07-12-26");
  info.SetSerialNumber(123);
  const std::wstring text = info.ToString();
  EXPECT_EQ(text.substr(text.rfind(L": ") + 2), L"03-07-123-26");
  info.SetHwID(14);
  EXPECT_EQ(RefusalOf([&] { info.ToString(); }), L"Controller type is qM6163A0A, not NV6459A0A.");
}

} // namespace
