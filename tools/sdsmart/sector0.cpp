#include "sector0.h"

#include "card_data.h"
#include "interface/journal.h"
#include "sdsmart/convert.h"
#include "sdsmart/mmc_drive.h"
#include "sdsmart/unique_fd.h"
#include "sdsmart/usb_drive.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sdsmart_tool {

Sector0Device::Sector0Device(const std::string &device) {
  std::wstring name = ToWideString(device);
  if (TransportOf(device) == "mmc")
    Mmc = std::make_unique<CMmcDrive>(name, false);
  else
    Usb = std::make_unique<CUsbDrive>(name, false);
}

Sector0Device::~Sector0Device() = default;

Sector Sector0Device::Read() {
  Sector s{};
  if (Mmc)
    Mmc->ReadSector(0, 1, s.data());
  else
    Usb->ReadSector(0, 1, s.data());
  return s;
}

void Sector0Device::Write(const Sector &s) {
  Sector copy = s;
  if (Mmc)
    Mmc->WriteSector(0, 1, copy.data());
  else
    Usb->WriteSector(0, 1, copy.data());
}

std::string LegacyJournalPath(const std::string &stateDir, const std::string &device) {
  return stateDir + "/" + CSectorJournal::FileStem(device) + ".bin";
}

int Sector0Device::Handle() const { return Mmc ? Mmc->GetHandle() : Usb->GetHandle(); }

int ProbeOpen(const std::string &device) {
  CUniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsOpen())
    return errno;
  return ::access(device.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
}

} // namespace sdsmart_tool
