// SPDX-License-Identifier: MIT
#include "sector0/sector0.h"

#include "card/card_data.h"
#include "output/output.h"
#include "run/options.h"
#include "run/run_status.h"
#include "sdsmart/error.h"
#include "sdsmart/sector0_journal.h"
#include "sdsmart/unique_fd.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace sdsmart_tool {

Sector Sector0Device::Read() {
  Sector s{};
  ReadSectors(0, 1, s.data());
  return s;
}

int GuardTransfers(const std::string &what, RunStatus &status, const std::function<int()> &body) {
  try {
    return body();
  } catch (const CError &e) {
    return status.DeviceFailure(what, e);
  }
}

void ReportSector0(const Options &o, RunStatus &status, bool read) {
  std::optional<bool> &intact = status.Run().Sector0Intact;
  const std::string journal = GetSector0JournalPath();
  const std::string restored = GetSector0RestoredTime();
  if (!restored.empty()) {
    status.Run().Sector0Restored = restored;
    status.Say("warning", "sector 0 of " + o.Device +
                              " held a command pattern that an interrupted run had left; the "
                              "card's own copy from the journal, taken " +
                              restored + ", was written back before this run");
  }
  if (read) {
    intact = true; // the library saw sector 0 read back as found
  } else if (!journal.empty()) {
    intact = false;
    status.Say("error", "sector 0 of " + o.Device +
                            " was not restored, so the card's partition table is overwritten by "
                            "a command pattern until sdsmart --restore-sector0 " +
                            o.Device + " writes back the copy kept in " + journal);
  } else {
    try {
      Sector0Device device(o.Device);
      const Sector now = device.Read();
      intact = GetSectorKind(now.data()) == SDSMART_SECTOR_DATA;
    } catch (const CError &) {
      // The card cannot be read now (pulled, say): what sector 0 holds is not known.
    }
    if (intact == false)
      status.Say("error", "sector 0 of " + o.Device +
                              " holds a command pattern and no journal was found that is this "
                              "card's alone, so its partition table is lost until sdsmart "
                              "--restore-sector0 [--journal FILE] " +
                              o.Device + " writes back its copy or sdsmart --rebuild-sector0 " +
                              o.Device + " rebuilds it");
  }
  if (intact == false)
    status.Fail(kExitSector0);
}

std::string LegacyJournalPath(const std::string &stateDir, const std::string &device) {
  return stateDir + "/" + CSectorJournal::FileStem(device) + ".bin";
}

int ProbeOpen(const std::string &device) {
  CUniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsOpen())
    return errno;
  return ::access(device.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
}

} // namespace sdsmart_tool
