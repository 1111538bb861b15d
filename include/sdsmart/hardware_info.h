// SPDX-License-Identifier: MIT
// Month, date, serial number and controller ID of a card's hardware, with a
// summary that names the controller model.
#pragma once

#include <string>

class CHardwareInfo {
public:
  CHardwareInfo();

  unsigned int GetMonth();
  void SetMonth(unsigned int v);
  unsigned int GetDate();
  void SetDate(unsigned int v);
  unsigned int GetSerialNumber();
  void SetSerialNumber(unsigned int v);
  unsigned int GetHwID();
  void SetHwID(unsigned int v);

  // Throws what CCardHwId::Create throws for a controller it does not know.
  std::wstring ToString();

private:
  unsigned int month = 0;
  unsigned int date = 0;
  unsigned int serialNumber = 0;
  unsigned int hwId = 0;
};
