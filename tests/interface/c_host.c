/* A C host of the library: it sees only the public header. It checks the
 * state of a fresh session, the set-up failures that never reach a device, and
 * that every accessor answers from the empty session. */
#include <sdsmart/sdsmart.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                     \
      ++failures;                                                                                  \
    }                                                                                              \
  } while (0)

static void check_text(const char *got, const char *want, const char *what) {
  if (got == NULL || strcmp(got, want) != 0) {
    fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(null)", want);
    ++failures;
  }
}

int main(void) {
  unsigned char reg[16];

  /* A fresh session. */
  CHECK(GetErrorCode() == -1);
  check_text(GetErrorMessage(), "", "first GetErrorMessage");
  CHECK(_Terminated == false);
  CHECK(_FuncSel == 5);
  CHECK(_SmartVerSupport == 2);
  CHECK(_IsUsbDevice == 1);
  check_text(GetLibraryVersion(), "6459.2.0.0.228.0", "GetLibraryVersion");

  /* Version 1 is refused before anything touches the card. */
  SetSmartVersion(1);
  CHECK(GetSmartInfo() == 1);
  CHECK(GetErrorCode() == 12290);
  check_text(GetErrorMessage(), "Unsupported SMART Version", "version 1");
  check_text(GetLibraryVersion(), "6459.1.0.0.228.0", "GetLibraryVersion after version 1");

  /* No configuration in the working directory: the name is kept, the load fails. */
  CHECK(SetDiskName("/dev/mmcblk7") == 1);
  CHECK(GetErrorCode() == 16384);
  check_text(GetErrorMessage(), "config file not exist.", "missing config");
  CHECK(_IsUsbDevice == 0);
  CHECK(SetConfigPath("no-such-dir/no-such-config") == 1);
  CHECK(GetErrorCode() == 16384);
  CHECK(SetDiskName(NULL) == 1);
  CHECK(GetErrorCode() == 65534);
  check_text(GetErrorMessage(), "Unknown Error", "null name");
  CHECK(SetConfigPath(NULL) == 1);
  CHECK(GetErrorCode() == 65534);
  CloseDeviceHandle();
  FreeDeviceHandle();

  /* Every accessor answers from the empty session. */
  CHECK(GetAbnormalShutdownCount() == 0 && GetECCUncorrectableCount() == 0 &&
        GetPowerCycleCount() == 0 && GetInitialBadBlockCount() == 0);
  CHECK(GetLaterBadBlockCount() == 0 && GetMinSpareBlockCount() == 0 && GetTotalEraseCount() == 0);
  CHECK(GetAverageEraseCount() == 0 && isnan(GetLifeMonitor()) && isnan(GetRemainingLife()));
  CHECK(GetTotalVBCountOfFlash() == 0 && GetTotalPhysicalBlockCountOfFlash() == 0);
  CHECK(GetPECycleCount() == 0 && GetTotalCECount() == 0 && GetECCCapacity() == 0);
  CHECK(GetWPStatus() == 0 && GetHeaderVersion() == 0 && GetEraseCountOffset() == 0);
  CHECK(GetMinEraseCount() == 0 && GetMaxEraseCount() == 0);
  CHECK(GetMinEraseCountFromHeader() == 0 && GetMaxEraseCountFromHeader() == 0);
  check_text(GetMPVersion(), "6437.0.0.0", "GetMPVersion");
  check_text(GetFWVersion(), "", "GetFWVersion");
  check_text(GetHWVersion(), "", "GetHWVersion");
  check_text(GetFlashID(), "", "GetFlashID");
  check_text(GetFlashType(), "", "GetFlashType");
  check_text(GetCustomizedID_CID(), "", "GetCustomizedID_CID");
  check_text(GetManufactureName_CID(), "UnKnow", "GetManufactureName_CID");
  CHECK(GetProductRevision_CID() == 0 && GetSerialNumber_CID() == 0);
  check_text(GetManufacturingDate_CID(), "month = 0 2000", "GetManufacturingDate_CID");
  CHECK(GetSD_CID(reg, sizeof reg) == -1 && GetSD_CSD(reg, sizeof reg) == -1 &&
        GetSD_SCR(reg, sizeof reg) == -1);
  check_text(GetClientMark(), "", "GetClientMark");
  /* The accessors leave the last error alone. */
  CHECK(GetErrorCode() == 65534);

  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  puts("C host: all checks passed");
  return 0;
}
