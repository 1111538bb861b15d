// One virtual card: its sectors, its firmware state, its transcript and its
// faults. The transport front ends (scsi_target.cpp, mmc_target.cpp) and the
// host-file watcher call in here with the registry's lock held.
#ifndef SDSIM_CARD_STATE_H
#define SDSIM_CARD_STATE_H

#include "card_config.h"
#include "sdsim/sdsim.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sdsim {

// How a transfer ends, decided by the faults before it runs.
// ErrorWithData: all the data moved, then an error status (sector commands only).
enum class Outcome { Normal, Fail, ErrorStatus, Short, ErrorWithData, Vanished };

class CardState {
public:
  CardState(CardConfig config, const std::string &transcript_path);
  ~CardState();
  CardState(const CardState &) = delete;
  CardState &operator=(const CardState &) = delete;

  const CardConfig &Config() const { return config_; }
  bool IsNative() const;

  // A new descriptor on the card's data (a new open file description), as
  // open(2) of the node would hand out.
  int OpenDescriptor(int flags);
  bool Vanished() const { return vanished_; }

  // Start of one transfer: takes its index, applies Kill/Vanish and decides
  // the outcome for FailTransfer/ErrorStatus/ShortTransfer and, for commands
  // that move sectors (`sectors`), ErrorStatusWithData.
  Outcome BeginTransfer(bool sectors);
  void Record(const std::string &op, std::uint32_t lba, std::uint32_t count,
              const std::string &what);

  // Sector I/O as the card's firmware performs it (special mode included).
  // `what` receives the transcript text.
  void FirmwareRead(std::uint32_t lba, std::uint32_t count, std::uint8_t *out, std::string &what);
  void FirmwareWrite(std::uint32_t lba, std::uint32_t count, const std::uint8_t *in,
                     std::string &what);

  // Plain stored sectors.
  void RawRead(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const;
  void RawWrite(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in);

  // SMART data in card form.
  const std::vector<std::uint8_t> &Header(unsigned type, bool busy) const;
  const std::vector<std::uint8_t> &Detail(unsigned type) const;
  std::uint32_t DetailSectors(unsigned type) const; // as announced in the header

  // Host-file watch: data just written at file offset `offset` through `fd`.
  // Returns the transcript text of the write.
  std::string FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data, std::size_t len);
  // Step counter and faults of host-file I/O (FileKill kills the process
  // before the step); true when this step must fail.
  bool BeginFileStep();

  // Mount point (after auto placement) and the host file path.
  std::string MountPoint() const { return mount_point_; }
  void SetMountPoint(const std::string &p, bool owned);
  std::string HostFilePath() const;

  // API state.
  std::vector<Transfer> Transcript() const;
  void ClearTranscript();
  std::uint64_t TransferCount() const { return transfers_; }
  std::uint64_t FileStepCount() const { return file_steps_; }
  bool InSpecialMode() const { return special_version_ != 0; }
  int SpecialVersion() const { return special_version_; }
  unsigned PmtCleanCount() const { return pmt_cleaned_; }
  void AddFault(const Fault &f);
  void ClearFaults();

private:
  enum class Pattern { None, Enter, EnterV3, Leave };
  Pattern Classify(const std::uint8_t *sector) const;
  [[noreturn]] void Die(); // SIGKILL, the transcript file flushed first
  bool FaultActive(FaultKind kind, std::uint64_t index, bool consume);
  void ServeSpecial(std::uint32_t lba, std::uint8_t *out, std::string &what);
  bool IsCommandSector(const std::uint8_t *s, std::uint32_t &selector) const;
  void Damage(std::vector<std::uint8_t> &header, std::uint64_t index, bool file);
  std::vector<std::uint8_t> BuildHeader(unsigned type, bool busy) const;
  std::vector<std::uint8_t> BuildDetail(unsigned type) const;

  CardConfig config_;
  // The SMART answers depend on the card file only: built once per type.
  mutable std::map<unsigned, std::vector<std::uint8_t>> header_cache_[2], detail_cache_;
  int data_fd_ = -1;      // memfd or backing image
  std::string data_path_; // what to open for a new description
  std::string mount_point_;
  bool owns_mount_point_ = false;
  int owner_pid_ = 0;      // only the process that made the mount point removes it
  int transcript_fd_ = -1; // JSON lines, or -1

  std::vector<Transfer> transcript_;
  std::uint64_t transfers_ = 0;
  std::uint64_t file_steps_ = 0;
  bool vanished_ = false;

  struct ActiveFault {
    Fault fault;
    std::uint64_t used = 0;
  };
  std::vector<ActiveFault> faults_;

  // Firmware.
  int special_version_ = 0;
  unsigned busy_header_left_[17] = {};
  unsigned busy_detail_left_[17] = {};
  unsigned busy_pmt_left_ = 0;
  unsigned pmt_cleaned_ = 0;
  bool pmt_pending_ = false;
  std::uint64_t current_index_ = 0;     // index of the transfer being served
  std::uint64_t current_file_step_ = 0; // index of the host-file step being served
};

} // namespace sdsim

#endif
