// SPDX-License-Identifier: MIT
// Set-up, acquisition and handle entry points.
#include "interface/acquisition_journal.h"
#include "interface/boundary.h"
#include "interface/configuration.h"
#include "interface/session_record.h"
#include "sdsmart/convert.h"
#include "transport/sector_device.h"
#include "util/error_catalogue.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

// The whole working directory, however long it is; throws std::runtime_error
// when it cannot be read (reported as "Unknown Error").
std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> dir(getcwd(nullptr, 0), &std::free);
  if (!dir)
    throw std::runtime_error("getcwd failed");
  return dir.get();
}

} // namespace

extern "C" int SetDiskName(const char *name) {
  if (name == nullptr) {
    RecordUnknownError();
    return 1;
  }
  return RunAtBoundary([name] {
    _DiskName = name;
    _IsUsbDevice = TransportOfNode(_DiskName) == Transport::UsbReader ? 1 : 0;
    _AppExePath = ToWideString(CurrentDirectory());
    ReloadAuthorFile();
  });
}

extern "C" int SetConfigPath(const char *path) {
  if (path == nullptr) {
    RecordUnknownError();
    return 1;
  }
  return RunAtBoundary([path] {
    _ConfigPath = path;
    ReloadAuthorFile();
  });
}

// NULL or "" turns the journal off. A directory is checked now, so that a
// host learns at set-up that its journal cannot be kept; on failure the
// setting is left as it was.
extern "C" int SetJournalDirectory(const char *dir) {
  if (dir == nullptr || *dir == '\0') {
    _JournalDirectory.clear();
    _JournalDirectoryChosen = true;
    return 0;
  }
  return RunAtBoundary([dir] {
    CheckJournalDirectory(dir);
    _JournalDirectory = dir;
    _JournalDirectoryChosen = true;
  });
}

extern "C" void SetSmartVersion(unsigned char version) { _SmartVerSupport = version; }

extern "C" int GetSmartInfo() {
  _Error = MakeError(Errors::NoError);
  return RunAtBoundary([] {
    if (_SmartVerSupport == 0 || _SmartVerSupport == 1)
      throw MakeError(Errors::UnsupportedSmartVersion);
    LoadDll_Main();
  });
}

// The drive, channel and reader stay alive until the next acquisition
// replaces them; these entries release nothing.
extern "C" void CloseDeviceHandle() {}
extern "C" void FreeDeviceHandle() {}
