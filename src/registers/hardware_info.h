// Month, date, serial number and controller ID of a card's hardware, with a
// summary that names the controller model.
#pragma once

#include <string>

class CHardwareInfo {
public:
  CHardwareInfo() = default;

  unsigned int GetMonth() const { return month; }
  void SetMonth(unsigned int v) { month = v; }
  unsigned int GetDate() const { return date; }
  void SetDate(unsigned int v) { date = v; }
  unsigned int GetSerialNumber() const { return serialNumber; }
  void SetSerialNumber(unsigned int v) { serialNumber = v; }
  unsigned int GetHwID() const { return hwId; }
  void SetHwID(unsigned int v) { hwId = v; }

  // Throws what CCardHwId::Create throws for a controller it does not know.
  std::wstring ToString() const;

private:
  unsigned int month = 0;
  unsigned int date = 0;
  unsigned int serialNumber = 0;
  unsigned int hwId = 0;
};
