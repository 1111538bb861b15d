#include "sector0.h"

#include "card_data.h"
#include "transport/mmc_drive.h"
#include "transport/usb_drive.h"
#include "util/convert.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sdsmart_tool {

Sector0Device::Sector0Device(const std::string &device) {
  std::wstring name = ToWideString(device);
  if (TransportOf(device) == "mmc")
    mmc_ = std::make_unique<CMmcDrive>(name, false);
  else
    usb_ = std::make_unique<CUsbDrive>(name, false);
}

Sector0Device::~Sector0Device() = default;

Sector Sector0Device::Read() {
  Sector s{};
  if (mmc_)
    mmc_->ReadSector(0, 1, s.data());
  else
    usb_->ReadSector(0, 1, s.data());
  return s;
}

void Sector0Device::Write(const Sector &s) {
  Sector copy = s;
  if (mmc_)
    mmc_->WriteSector(0, 1, copy.data());
  else
    usb_->WriteSector(0, 1, copy.data());
}

int ProbeOpen(const std::string &device) {
  int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return errno;
  ::close(fd);
  return 0;
}

} // namespace sdsmart_tool
