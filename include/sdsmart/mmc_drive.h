// SPDX-License-Identifier: MIT
// The block device behind a native SD host (/dev/mmcblkN): sectors move as
// CMD17/18/24/25 through the MMC block ioctl.
#pragma once

#include <string>

class CMmcDrive {
public:
  static constexpr unsigned int SectorSize = 512;
  // Largest run one command carries (the MMC block driver's limit).
  static constexpr unsigned int MaxSectorCount = 1024;

  CMmcDrive();
  // The flag is accepted and ignored.
  CMmcDrive(const std::wstring &name, bool);
  ~CMmcDrive();
  CMmcDrive(const CMmcDrive &) = delete;
  CMmcDrive &operator=(const CMmcDrive &) = delete;

  // Throws Errors::DriveNotFound when the node cannot be opened (the drive is then closed).
  void Open(const std::wstring &name);
  void ReOpen();
  bool IsOpen();
  void Close();

  // Size of the medium in MiB; throws CError "Read Capacity Fail!!".
  unsigned int ReadCapacity();
  // op 0x2A writes, anything else reads. A run of 0 sectors sends nothing; a
  // run without a buffer or longer than MaxSectorCount is refused before
  // anything is sent. A failed transfer (ioctl error or an error bit in the
  // card's R1 answer) closes the drive; the next transfer opens the node
  // again before it sends anything. Throws CError "ReadWriteSector error!!".
  void ReadWriteSector(short op, unsigned char *buf, unsigned int lba, unsigned int count,
                       int blockSize);
  void ReadSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WriteSector(unsigned int lba, unsigned int count, unsigned char *buf);
  void WaitForDiskReady(unsigned int);

  int GetHandle();
  std::wstring GetDiskName();
  // The card's relative address from sysfs, or -1.
  int GetRCA();
  // True when the card takes byte addresses (standard-capacity SD card).
  bool IsByteAddressed();

  void SendStatus(unsigned int *status);
  void Stop_Transmission();
  void SetBlockCount(unsigned int count);

private:
  // Last path component of the node the descriptor is open on, or "".
  std::string NodeName() const;
  void LearnAddressing();

  // The documented object is {int handle; std::wstring diskName;}: hosts
  // place it on their stack, so the two flags live in the padding after the
  // descriptor and the size and offsets stay the documented ones.
  int handle;
  bool byteAddressed = false;
  bool closedByFailure = false;
  std::wstring diskName;

  friend struct CMmcDriveLayout;
};
