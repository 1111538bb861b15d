#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the dynamic symbol table of the shared library: every entry point of
# the flat interface under its C name, the two reference-taking functions under
# their C++ names only, and every session variable under its own name.
# Usage: check_exports.sh path/to/libsdsmart.so
set -u
lib=${1:?usage: check_exports.sh libsdsmart.so}
nm=${NM:-nm}
table=$("$nm" -D --defined-only "$lib") || { echo "cannot read symbols of $lib"; exit 1; }
failed=0

# kind: code (T) or data (B, D)
expect() {
  name=$1
  kinds=$2
  line=$(printf '%s\n' "$table" | awk -v n="$name" '$NF == n { print; exit }')
  if [ -z "$line" ]; then
    echo "missing: $name"
    failed=1
    return
  fi
  kind=$(printf '%s\n' "$line" | awk '{ print $(NF-1) }')
  case "$kinds" in
  *"$kind"*) ;;
  *) echo "wrong kind $kind for $name (want one of $kinds)"; failed=1 ;;
  esac
}

absent() {
  if printf '%s\n' "$table" | awk -v n="$1" '$NF == n { found = 1 } END { exit !found }'; then
    echo "must not be exported with C linkage: $1"
    failed=1
  fi
}

c_functions="SetDiskName SetConfigPath SetSmartVersion GetSmartInfo CloseDeviceHandle
FreeDeviceHandle SetJournalDirectory GetErrorCode GetErrorMessage
GetAbnormalShutdownCount GetECCUncorrectableCount GetPowerCycleCount GetInitialBadBlockCount
GetLaterBadBlockCount GetMinSpareBlockCount GetTotalEraseCount GetAverageEraseCount
GetLifeMonitor GetRemainingLife GetTotalVBCountOfFlash GetTotalPhysicalBlockCountOfFlash
GetPECycleCount GetTotalCECount GetECCCapacity GetWPStatus GetHeaderVersion GetMinEraseCount
GetMaxEraseCount GetMinEraseCountFromHeader GetMaxEraseCountFromHeader GetEraseCountOffset
GetMPVersion GetLibraryVersion GetFWVersion GetHWVersion GetFlashID GetFlashType
GetCustomizedID_CID GetManufactureName_CID GetProductRevision_CID GetSerialNumber_CID
GetManufacturingDate_CID GetSD_CID GetSD_CSD GetSD_SCR GetClientMark"

for f in $c_functions; do
  expect "$f" T
  # A C function exported with C++ linkage would carry its length-prefixed
  # name after _Z; make sure no such twin exists either.
  if printf '%s\n' "$table" | awk -v p="_Z${#f}$f" 'index($NF, p) == 1 { found = 1 } END { exit !found }'; then
    echo "C++ linkage for $f"
    failed=1
  fi
done

# int GetDetailEraseCount(char*, unsigned int, unsigned int&) and the read twin.
expect _Z19GetDetailEraseCountPcjRj T
expect _Z18GetDetailReadCountPcjRj T
absent GetDetailEraseCount
absent GetDetailReadCount

session="_DiskName _IsUsbDevice _AppExePath _ConfigPath _AuthorCode _EntryStr _SmartVerSupport
_ExternelSDKName _UseExternelSDKName _FuncSel _Terminated _UsbDrive _MmcDrive _SpecialMode2Cmd
_SmartInfoReader _MBRBuffer _Header _ECCUncorrectableCnt _EraseCount _ReadCount _MinEraseCount
_MaxEraseCount _FlashType _FlashID _Error _ErrorText _LibVersion _MPVersion _FWVersion _HWVersion
_CustomizedID_CID _ManufactureName_CID _ManufacturingDate_CID _ProductRevision_CID _ProductSN_CID"

for v in $session; do
  expect "$v" BD
done

if [ "$failed" -ne 0 ]; then
  echo "exported symbol check FAILED for $lib"
  exit 1
fi
echo "all interface symbols exported as expected"
