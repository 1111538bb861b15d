// SPDX-License-Identifier: MIT
/*
 * sdsmart: S.M.A.R.T. health data of SD cards through a USB card reader or a
 * native SD host. The flat interface a host application drives.
 *
 * Calling order: SetDiskName (also loads the configuration), optionally
 * SetConfigPath and SetSmartVersion, then GetSmartInfo, then any accessor.
 * After a failure (result 1) read GetErrorCode and GetErrorMessage.
 *
 * Text results point into buffers owned by the library, one per function,
 * valid until the same function is called again. The library is not
 * thread-safe: call it from one thread at a time. Only _Terminated may be
 * written by the host while a call is running.
 */
#pragma once

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Set-up, acquisition and handles ---------------------------------- */

/* Names the card's device node (/dev/sdX behind a USB reader, /dev/mmcblkN
 * on a native host), captures the working directory and loads the
 * configuration file "config" found there. 0 success, 1 failure. */
int SetDiskName(const char *name);
/* Loads the configuration from the given file instead. 0 success, 1 failure. */
int SetConfigPath(const char *path);
/* SMART format version; the configuration may override it when loaded. */
void SetSmartVersion(unsigned char version);
/* Keeps a journal of each card's sector 0 in dir (an existing, writable
 * directory) for the length of every acquisition: a card that a run left
 * with a command pattern in sector 0 (the process died) gets its own sector 0
 * back from it at the next GetSmartInfo, never another card's, under
 * whatever node name the copy was taken. NULL or "" turns the journal off.
 * A host that never calls it gets the journal in the directory the
 * environment variable SDSMART_JOURNAL_DIR names, where it is set (an
 * unusable one fails GetSmartInfo before anything is written); without
 * either there is no journal. 0 success, 1 failure. */
int SetJournalDirectory(const char *dir);
/* One acquisition: reads the SMART header and detail pages of the card and
 * caches them for the accessors. 0 success, 1 failure. */
int GetSmartInfo(void);
/* Kept for hosts that call them; they release nothing. */
void CloseDeviceHandle(void);
void FreeDeviceHandle(void);

/* ---- Errors ------------------------------------------------------------ */

/* Codes GetErrorCode returns; GetErrorMessage tells the details. */
enum SdsmartErrorCode {
  SDSMART_E_UNCODED = -1,                 /* told by the message alone; also before any error */
  SDSMART_E_NONE = 0,                     /* GetSmartInfo succeeded */
  SDSMART_E_USB_TRANSACTION = 4098,       /* a sector read or write through the USB reader */
  SDSMART_E_DEVICE_NOT_FOUND = 4106,      /* the device node cannot be opened */
  SDSMART_E_DEVICE_NOT_READY = 4108,      /* the USB reader never became ready */
  SDSMART_E_USB_DISK_SIZE = 4608,         /* the USB reader's capacity query */
  SDSMART_E_CARD_SIZE = 8194,             /* the card's size for the host-file method */
  SDSMART_E_SMART_CONTENTS = 12288,       /* a SMART header fails its checks */
  SDSMART_E_DETAIL_TYPE_MISMATCH = 12289, /* the card answered another detail type */
  SDSMART_E_SMART_VERSION = 12290,        /* SMART version the call or a page cannot take */
  SDSMART_E_DELETE_SMART_FILE = 12292,    /* the host-file method's file stays */
  SDSMART_E_FILE_NOT_OPENED = 16384,      /* no configuration file; a file cannot be opened */
  SDSMART_E_INI_SYNTAX = 20480,           /* configuration file: syntax */
  SDSMART_E_INI_SECTION_MISSING = 20481,  /* configuration file: no such section */
  SDSMART_E_INI_KEY_MISSING = 20482,      /* configuration file: no such key */
  SDSMART_E_INI_NOT_INTEGER = 20483,      /* configuration file: not a number */
  SDSMART_E_INI_TOO_FEW_INTEGERS = 20484, /* configuration file: list too short */
  SDSMART_E_USER_TERMINATED = 36864,      /* _Terminated was set */
  SDSMART_E_WRONG_CONTROLLER = 36869,     /* controller identity classes only */
  SDSMART_E_WRITE_PROTECTED = 40960,      /* the card is write-protected */
  SDSMART_E_BUFFER_SIZE = 45056,          /* command channel classes only */
  SDSMART_E_ALIGNED_ALLOCATION = 45057,   /* no aligned buffer for the host-file method */
  SDSMART_E_UNKNOWN = 65534               /* a failure outside the library's errors */
};

/* Code of the last error: SDSMART_E_UNCODED before any, SDSMART_E_NONE after
 * a successful GetSmartInfo. */
int GetErrorCode(void);
const char *GetErrorMessage(void);

/* ---- SMART values of the last acquisition ------------------------------ */

unsigned int GetAbnormalShutdownCount(void);
unsigned int GetECCUncorrectableCount(void);
unsigned int GetPowerCycleCount(void);
unsigned int GetInitialBadBlockCount(void);
unsigned int GetLaterBadBlockCount(void);
unsigned int GetMinSpareBlockCount(void);
unsigned int GetTotalEraseCount(void);
unsigned int GetAverageEraseCount(void);
/* Used share of the rated endurance in percent (not clamped). */
double GetLifeMonitor(void);
/* 100 - GetLifeMonitor(). */
float GetRemainingLife(void);
unsigned int GetTotalVBCountOfFlash(void);
unsigned int GetTotalPhysicalBlockCountOfFlash(void);
unsigned int GetPECycleCount(void);
unsigned int GetTotalCECount(void);
unsigned char GetECCCapacity(void);
unsigned char GetWPStatus(void);
unsigned char GetHeaderVersion(void);
unsigned int GetMinEraseCount(void);
unsigned int GetMaxEraseCount(void);
unsigned short GetMinEraseCountFromHeader(void);
unsigned short GetMaxEraseCountFromHeader(void);
unsigned short GetEraseCountOffset(void);

/* ---- Identity and versions --------------------------------------------- */

const char *GetMPVersion(void);
const char *GetLibraryVersion(void);
const char *GetFWVersion(void);
const char *GetHWVersion(void);
const char *GetFlashID(void);
const char *GetFlashType(void);
const char *GetCustomizedID_CID(void);
const char *GetManufactureName_CID(void);
unsigned short GetProductRevision_CID(void);
unsigned int GetSerialNumber_CID(void);
const char *GetManufacturingDate_CID(void);
/* Copy the raw register (16, 16 and 8 bytes). Result: bytes copied, 0 when
 * size is too small, -1 when the card's header carries no register copies. */
int GetSD_CID(unsigned char *buffer, unsigned int size);
int GetSD_CSD(unsigned char *buffer, unsigned int size);
int GetSD_SCR(unsigned char *buffer, unsigned int size);
/* Customer mark text of the card (at most 356 characters). */
const char *GetClientMark(void);

/* ---- Session variables a host may touch -------------------------------- */

/* Cancel flag: set it non-zero to stop a running acquisition
 * (SDSMART_E_USER_TERMINATED). The library never clears it. */
extern bool _Terminated;
/* Detail selector handed to the reader: 1 erase counts, 2 read counts,
 * 4 run-time bad blocks; initially 5. */
extern unsigned int _FuncSel;
/* SMART format version in use (initially 2). */
extern unsigned char _SmartVerSupport;
/* 1: the node is behind a USB reader; 0: a native SD host node. */
extern unsigned char _IsUsbDevice;
/* Vendor number read from the configuration. */
extern int _AuthorCode;
extern bool _UseExternelSDKName;
extern unsigned int _ECCUncorrectableCnt;
extern unsigned int _MinEraseCount;
extern unsigned int _MaxEraseCount;
extern unsigned short _ProductRevision_CID;
extern unsigned int _ProductSN_CID;

/* ---- Sector 0 after a run ---------------------------------------------- */

/* The journal file that still holds the card's sector 0 after the last
 * GetSmartInfo: that run could not see sector 0 restored, so it may still
 * hold a command pattern. "" when sector 0 was seen restored or no journal
 * was kept. */
const char *GetSector0JournalPath(void);
/* When the last GetSmartInfo found sector 0 holding a command pattern that
 * an earlier run had left (the process died) and wrote the card's own copy
 * back from its journal before it began: the time that copy was taken, as
 * the journal says it (ISO 8601, UTC). "" when it wrote none. */
const char *GetSector0RestoredTime(void);

/* ---- Observing the card's transfers ------------------------------------ */

/* One request the library sent to the card, handed to the transfer observer
 * right after it ended. */
enum SdsmartTransferKind {
  SDSMART_TRANSFER_SG_IO = 1,      /* request: the sg_io_hdr_t sent with SG_IO */
  SDSMART_TRANSFER_MMC_CMD = 2,    /* request: the struct mmc_ioc_cmd sent with MMC_IOC_CMD */
  SDSMART_TRANSFER_FILE_WRITE = 3, /* a write to the host file (SMART version 3) */
  SDSMART_TRANSFER_FILE_READ = 4   /* a read of the host file */
};
struct SdsmartTransfer {
  int kind;                  /* SdsmartTransferKind */
  const void *request;       /* SG_IO, MMC: the kernel's record as it came back; else NULL */
  unsigned long long offset; /* host-file steps: the file offset */
  const unsigned char *data; /* host-file steps: the bytes written or read; else NULL */
  unsigned int length;       /* host-file steps: their number */
  int result;                /* what the call returned: 0, or -1 on failure */
  int error;                 /* errno after a failed call, else 0 */
};
typedef void (*SdsmartTransferObserver)(const struct SdsmartTransfer *transfer, void *context);
/* Calls observer(transfer, context) once for every request the library sends
 * to a card (every SG_IO and MMC_IOC_CMD ioctl, every host-file read and
 * write), on the calling thread, after the request. The observer must not
 * call the library. Observing changes nothing in what is sent. NULL turns it
 * off (the default). */
void SetTransferObserver(SdsmartTransferObserver observer, void *context);

/* ---- What the sdsmart tool reads besides ------------------------------- */

/* The entry string of the configuration in use (UTF-8); "" before one is
 * loaded. */
const char *GetEntryString(void);
/* "mmc" for a native SD host node (/dev/mmcblkN), "usb" for any other. */
const char *GetNodeTransport(const char *node);
/* Whether the header sector of the last acquisition starts with the SMART
 * signature: 1 it does, 0 it does not, -1 no acquisition has run. */
int GetHeaderSignatureFound(void);
/* Maker name of a flash maker code (the first byte of the flash ID);
 * "Unknown" for codes the library does not know. */
const char *GetFlashMakerName(unsigned int makerCode);
/* What the 512 bytes at sector hold, as the library tells a special-mode
 * pattern (even a slightly damaged one) from the card's own data. */
enum SdsmartSectorKind {
  SDSMART_SECTOR_DATA = 0,       /* the card's own data */
  SDSMART_SECTOR_ENTER = 1,      /* an enter pattern */
  SDSMART_SECTOR_ENTER_FILE = 2, /* an enter pattern of the host-file method */
  SDSMART_SECTOR_LEAVE = 3       /* a leave pattern */
};
int GetSectorKind(const unsigned char *sector);

#ifdef __cplusplus
} /* extern "C" */

/* Per-block erase (read) counts of the last acquisition as 32-bit host-order
 * values. byteCount is always set to the size the table needs; 1 when size is
 * smaller (nothing copied), 0 after copying. */
int GetDetailEraseCount(char *buffer, unsigned int size, unsigned int &byteCount);
int GetDetailReadCount(char *buffer, unsigned int size, unsigned int &byteCount);
#endif

/* ---- What a configuration must hold ----------------------------------- */
#ifdef __cplusplus
extern "C" {
#endif
/* Characters of the entry string the supported cards take (the configured
 * string for the vendor must have exactly this length), so that a host can
 * check its configuration before anything is written to a card. */
unsigned int GetEntryLength(void);
/* The largest configuration file the library loads, in bytes: a larger one
 * is refused as a file that cannot be opened. */
#define SDSMART_MAX_CONFIG_BYTES (1ul << 20)
#ifdef __cplusplus
} /* extern "C" */
#endif
