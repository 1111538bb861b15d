#include "card_state.h"

#include "real_calls.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsim {
namespace {

constexpr std::size_t kSector = 512;

struct NumberField {
  const char *name;
  unsigned offset;
  unsigned width;
};

// Header fields kept in the card's big-endian order (offset, width).
const NumberField kFields[] = {{"FlashTypeCode", 35, 1},
                               {"PECycleCount", 42, 4},
                               {"BaseVBEntryCount", 46, 4},
                               {"InitialBadBlockCount", 50, 2},
                               {"LaterBadBlockCount", 52, 2},
                               {"MinSpareBlockCount", 54, 2},
                               {"ECCCapacity", 56, 1},
                               {"TotalEraseCount", 57, 4},
                               {"AbnormalShutdownCount", 61, 4},
                               {"PowerCycleCount", 65, 4},
                               {"CECount", 71, 1},
                               {"BlocksPerVB", 72, 1},
                               {"MPVersionMajor", 74, 2},
                               {"MPVersionMinor", 76, 2},
                               {"TotalVBCount", 78, 4},
                               {"VBsPerUnit", 82, 2},
                               {"ExtraVBEntriesPerUnit", 84, 2},
                               {"MinEraseCount", 140, 2},
                               {"MaxEraseCount", 142, 2},
                               {"EraseCountOffset", 144, 2},
                               {"WPStatus", 508, 1},
                               {"HeaderVersion", 510, 1}};

void PutBig(std::uint8_t *p, unsigned width, std::uint32_t v) {
  for (unsigned i = 0; i < width; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}
void PutLittle(std::uint8_t *p, unsigned width, std::uint32_t v) {
  for (unsigned i = 0; i < width; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool WriteAll(int fd, const void *data, std::size_t len, off_t at) {
  const auto *p = static_cast<const std::uint8_t *>(data);
  while (len) {
    ssize_t n = Real().pwrite(fd, p, len, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n, len -= static_cast<std::size_t>(n), at += n;
  }
  return true;
}

} // namespace

CardState::CardState(CardConfig config, const std::string &transcript_path)
    : config_(std::move(config)) {
  const off_t bytes = static_cast<off_t>(config_.capacity_sectors * kSector);
  bool fresh = true;
  if (!config_.image.empty()) {
    data_fd_ = Real().open(config_.image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (data_fd_ < 0)
      throw std::runtime_error("sdsim: cannot open card image " + config_.image + ": " +
                               std::strerror(errno));
    struct stat st {};
    if (fstat(data_fd_, &st) == 0 && st.st_size > 0)
      fresh = false;
    if (st.st_size < bytes && ftruncate(data_fd_, bytes) != 0) {
      Real().close(data_fd_);
      throw std::runtime_error("sdsim: cannot size card image " + config_.image);
    }
    data_path_ = config_.image;
  } else {
    data_fd_ = memfd_create(("sdsim:" + config_.node).c_str(), MFD_CLOEXEC);
    if (data_fd_ < 0 || ftruncate(data_fd_, bytes) != 0) {
      if (data_fd_ >= 0)
        Real().close(data_fd_);
      throw std::runtime_error("sdsim: cannot create the card's memory: " +
                               std::string(std::strerror(errno)));
    }
    data_path_ = "/proc/self/fd/" + std::to_string(data_fd_);
  }
  if (fresh)
    RawWrite(0, 1, config_.sector0.data());
  if (!transcript_path.empty()) {
    transcript_fd_ =
        Real().open(transcript_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }
  if (config_.mounted && !config_.auto_mount)
    mount_point_ = config_.mount_point;
}

CardState::~CardState() {
  if (owns_mount_point_ && !mount_point_.empty() && owner_pid_ == ::getpid()) {
    ::unlink(HostFilePath().c_str());
    ::rmdir(mount_point_.c_str());
  }
  if (data_fd_ >= 0)
    Real().close(data_fd_);
  if (transcript_fd_ >= 0)
    Real().close(transcript_fd_);
}

bool CardState::IsNative() const { return config_.node.rfind("/dev/mmcblk", 0) == 0; }

void CardState::SetMountPoint(const std::string &p, bool owned) {
  mount_point_ = p;
  owns_mount_point_ = owned;
  owner_pid_ = ::getpid();
}

std::string CardState::HostFilePath() const {
  return mount_point_.empty() ? std::string() : mount_point_ + "/SmartFile6459.txt";
}

int CardState::OpenDescriptor(int flags) {
  if (vanished_) {
    errno = ENOENT;
    return -1;
  }
  // A block device node takes no creation flags; O_TRUNC must never reach the
  // backing image.
  const int keep = O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_SYNC | O_DSYNC | O_NOATIME;
  return Real().open(data_path_.c_str(), flags & keep);
}

// ---------------------------------------------------------------- faults --

void CardState::AddFault(const Fault &f) {
  Fault copy = f;
  if (copy.kind == FaultKind::Vanish || copy.kind == FaultKind::BusyForever)
    copy.times = 0; // these last for ever once they start
  faults_.push_back({copy, 0});
}
void CardState::ClearFaults() { faults_.clear(); }

bool CardState::FaultActive(FaultKind kind, std::uint64_t index, bool consume) {
  for (auto &a : faults_) {
    if (a.fault.kind != kind || index < a.fault.at)
      continue;
    if (a.fault.times != 0 && a.used >= a.fault.times)
      continue;
    if (consume)
      ++a.used;
    return true;
  }
  return false;
}

void CardState::Die() {
  if (transcript_fd_ >= 0)
    fsync(transcript_fd_);
  ::kill(::getpid(), SIGKILL);
  for (;;) // nothing of the step runs while the signal is on its way
    ::pause();
}

Outcome CardState::BeginTransfer(bool sectors) {
  if (vanished_)
    return Outcome::Vanished;
  const std::uint64_t index = transfers_;
  if (FaultActive(FaultKind::Kill, index, true))
    Die();
  if (FaultActive(FaultKind::Vanish, index, false)) {
    vanished_ = true;
    return Outcome::Vanished;
  }
  current_index_ = index;
  ++transfers_;
  if (FaultActive(FaultKind::FailTransfer, index, true))
    return Outcome::Fail;
  if (FaultActive(FaultKind::ErrorStatus, index, true))
    return Outcome::ErrorStatus;
  if (FaultActive(FaultKind::ShortTransfer, index, true))
    return Outcome::Short;
  if (sectors && FaultActive(FaultKind::ErrorStatusWithData, index, true))
    return Outcome::ErrorWithData;
  return Outcome::Normal;
}

bool CardState::BeginFileStep() {
  if (FaultActive(FaultKind::FileKill, file_steps_, true))
    Die();
  current_file_step_ = file_steps_++;
  return FaultActive(FaultKind::FileIoFail, current_file_step_, true);
}

// ------------------------------------------------------------ transcript --

void CardState::Record(const std::string &op, std::uint32_t lba, std::uint32_t count,
                       const std::string &what) {
  transcript_.push_back({op, lba, count, what});
  if (transcript_fd_ >= 0) {
    nlohmann::json line = {{"card", config_.node}, {"op", op},     {"lba", lba},
                           {"count", count},       {"what", what}, {"pid", ::getpid()}};
    const std::string text = line.dump() + "\n";
    (void)!Real().write(transcript_fd_, text.data(), text.size());
  }
}

std::vector<Transfer> CardState::Transcript() const { return transcript_; }
void CardState::ClearTranscript() { transcript_.clear(); }

// --------------------------------------------------------------- sectors --

void CardState::RawRead(std::uint64_t lba, std::uint32_t count, std::uint8_t *out) const {
  std::size_t len = std::size_t{count} * kSector;
  off_t at = static_cast<off_t>(lba * kSector);
  while (len) {
    ssize_t n = Real().pread(data_fd_, out, len, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      std::memset(out, 0, len);
      return;
    }
    out += n, len -= static_cast<std::size_t>(n), at += n;
  }
}

void CardState::RawWrite(std::uint64_t lba, std::uint32_t count, const std::uint8_t *in) {
  WriteAll(data_fd_, in, std::size_t{count} * kSector, static_cast<off_t>(lba * kSector));
}

// -------------------------------------------------------------- firmware --

CardState::Pattern CardState::Classify(const std::uint8_t *s) const {
  const auto *e = reinterpret_cast<const std::uint8_t *>(config_.entry.data());
  std::uint8_t expect[kSector];
  // Enter: entry at 0, reversed at 248, 02 01 at 256, marker at 268, 01 02 at 510.
  std::memset(expect, 0, sizeof expect);
  for (int i = 0; i < 8; ++i) {
    expect[i] = e[i];
    expect[248 + i] = e[7 - i];
  }
  expect[256] = 0x02, expect[257] = 0x01;
  expect[510] = 0x01, expect[511] = 0x02;
  if (std::memcmp(expect, s, kSector) == 0)
    return Pattern::Enter;
  expect[268] = 0xDE, expect[269] = 0xAD, expect[270] = 0xBE, expect[271] = 0xEF;
  if (std::memcmp(expect, s, kSector) == 0)
    return Pattern::EnterV3;
  // Leave: reversed entry at 0, entry at 248, 02 00 .. 01 02 at 256, 02 01 at 504.
  std::memset(expect, 0, sizeof expect);
  for (int i = 0; i < 8; ++i) {
    expect[i] = e[7 - i];
    expect[248 + i] = e[i];
  }
  expect[256] = 0x02, expect[262] = 0x01, expect[263] = 0x02;
  expect[504] = 0x02, expect[505] = 0x01;
  if (std::memcmp(expect, s, kSector) == 0)
    return Pattern::Leave;
  return Pattern::None;
}

void CardState::FirmwareWrite(std::uint32_t lba, std::uint32_t count, const std::uint8_t *in,
                              std::string &what) {
  RawWrite(lba, count, in); // sector 0 keeps the last pattern written
  what = "data";
  if (lba != 0)
    return;
  switch (Classify(in)) {
  case Pattern::Enter:
  case Pattern::EnterV3: {
    const bool v3 = Classify(in) == Pattern::EnterV3;
    special_version_ = v3 ? 3 : 2;
    what = v3 ? "enter v3" : "enter v2";
    for (unsigned t = 0; t < 17; ++t) {
      busy_header_left_[t] = config_.busy_header;
      busy_detail_left_[t] = 0;
    }
    busy_pmt_left_ = 0;
    break;
  }
  case Pattern::Leave:
    special_version_ = 0;
    what = "leave";
    break;
  case Pattern::None:
    break;
  }
}

void CardState::FirmwareRead(std::uint32_t lba, std::uint32_t count, std::uint8_t *out,
                             std::string &what) {
  if (!special_version_) {
    RawRead(lba, count, out);
    what = "data";
    return;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string one;
    ServeSpecial(lba + i, out + std::size_t{i} * kSector, one);
    if (i == 0)
      what = one;
  }
}

void CardState::ServeSpecial(std::uint32_t lba, std::uint8_t *out, std::string &what) {
  const std::uint64_t index = current_index_;
  auto put = [&](const std::vector<std::uint8_t> &sector) {
    std::memcpy(out, sector.data(), kSector);
  };
  const bool old_header =
      config_.numbers.count("HeaderVersion") && config_.numbers.at("HeaderVersion") <= 1;
  if (lba <= 3 || lba == 16) {
    const unsigned t = lba;
    what = "header " + std::to_string(t);
    if (FaultActive(FaultKind::BusyForever, index, true) || busy_header_left_[t] > 0) {
      if (busy_header_left_[t] > 0)
        --busy_header_left_[t];
      put(Header(t, true));
      return;
    }
    std::vector<std::uint8_t> h = Header(t, false);
    Damage(h, index, false);
    put(h);
    busy_detail_left_[t] = old_header ? config_.busy_first_detail : 0;
    if (t == 16) {
      busy_pmt_left_ = config_.busy_pmt;
      pmt_pending_ = true;
    }
    return;
  }
  const unsigned low = lba & 0xFF;
  if (lba >= 256 && (low == 0x81 || low == 0x82 || low == 0x83)) {
    const unsigned t = low - 0x80;
    const std::uint32_t k = (lba >> 8) - 1;
    what = "detail " + std::to_string(t) + " " + std::to_string(k);
    if (k == 0 && old_header &&
        (FaultActive(FaultKind::BusyForever, index, true) || busy_detail_left_[t] > 0)) {
      if (busy_detail_left_[t] > 0)
        --busy_detail_left_[t];
      put(Header(t, true));
      return;
    }
    busy_detail_left_[t] = 0;
    const std::vector<std::uint8_t> &data = Detail(t);
    if ((std::uint64_t{k} + 1) * kSector <= data.size())
      std::memcpy(out, data.data() + std::size_t{k} * kSector, kSector);
    else
      std::memset(out, 0, kSector);
    return;
  }
  if (lba >= 256 && low == 0x90) {
    what = "pmt poll";
    if (FaultActive(FaultKind::BusyForever, index, true) || busy_pmt_left_ > 0) {
      if (busy_pmt_left_ > 0)
        --busy_pmt_left_;
      put(Header(16, true));
      return;
    }
    if (pmt_pending_) {
      pmt_pending_ = false;
      ++pmt_cleaned_;
    }
    put(Header(16, false));
    return;
  }
  RawRead(lba, 1, out);
  what = "data";
}

void CardState::Damage(std::vector<std::uint8_t> &h, std::uint64_t index, bool) {
  if (FaultActive(FaultKind::BadSignature, index, true))
    h[2] = '1';
  if (FaultActive(FaultKind::WrongDetailType, index, true))
    h[70] = h[70] == 1 ? 3 : 1;
}

// --------------------------------------------------------- SMART formats --

std::uint32_t CardState::DetailSectors(unsigned type) const {
  const std::uint32_t n = EntryCount(config_);
  switch (type) {
  case 1:
  case 3:
    return (2 * n + kSector - 1) / kSector;
  case 2:
    if (!config_.global_read_counts)
      return (2 * n + kSector - 1) / kSector;
    {
      const auto named = static_cast<std::uint32_t>(
          std::count_if(config_.read_counts.begin(), config_.read_counts.end(),
                        [](std::uint32_t r) { return r != kNoReadCount; }));
      return 2 * ((named + 255) / 256);
    }
  default:
    return 0;
  }
}

static unsigned RemainderSectors(const CardConfig &c) {
  if (c.remainder_sectors)
    return c.remainder_sectors;
  const std::uint32_t n = EntryCount(c);
  return std::max(1u, (n + 511) / 512);
}

const std::vector<std::uint8_t> &CardState::Detail(unsigned type) const {
  auto it = detail_cache_.find(type);
  if (it == detail_cache_.end())
    it = detail_cache_.emplace(type, BuildDetail(type)).first;
  return it->second;
}

const std::vector<std::uint8_t> &CardState::Header(unsigned type, bool busy) const {
  auto &cache = header_cache_[busy ? 1 : 0];
  auto it = cache.find(type);
  if (it == cache.end())
    it = cache.emplace(type, BuildHeader(type, busy)).first;
  return it->second;
}

std::vector<std::uint8_t> CardState::BuildDetail(unsigned type) const {
  const std::uint32_t n = EntryCount(config_);
  const std::uint32_t sectors = DetailSectors(type);
  std::vector<std::uint8_t> out(std::size_t{sectors} * kSector, 0);
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
  };
  if (type == 1) {
    for (std::uint32_t i = 0; i < n; ++i)
      put16(2 * i, config_.erase_counts[i]);
  } else if (type == 3) {
    for (std::uint32_t i = 0; i < n; ++i)
      put16(2 * i, config_.runtime_status[i]);
  } else if (type == 2 && !config_.global_read_counts) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t r = config_.read_counts[i];
      put16(2 * i, r == kNoReadCount ? 0xFFFE : std::min<std::uint32_t>(r / 255, 0xFFFD));
    }
  } else if (type == 2) {
    // Pairs of (index sector, value sector), then the remainder bytes.
    std::fill(out.begin(), out.end(), 0xFF);
    std::uint32_t slot = 0;
    for (std::uint32_t v = 0; v < n; ++v) {
      const std::uint32_t r = config_.read_counts[v];
      if (r == kNoReadCount)
        continue;
      const std::size_t pair = slot / 256, j = slot % 256;
      put16((2 * pair) * kSector + 2 * j, v);
      put16((2 * pair + 1) * kSector + 2 * j, r / 255);
      ++slot;
    }
    const unsigned rem = RemainderSectors(config_);
    std::vector<std::uint8_t> remainder(std::size_t{rem} * kSector, 0xFF);
    for (std::uint32_t v = 0; v < n; ++v)
      if (config_.read_counts[v] != kNoReadCount)
        remainder[v % remainder.size()] = static_cast<std::uint8_t>(config_.read_counts[v] % 255);
    out.insert(out.end(), remainder.begin(), remainder.end());
  }
  return out;
}

std::vector<std::uint8_t> CardState::BuildHeader(unsigned type, bool busy) const {
  std::vector<std::uint8_t> h(kSector, 0);
  std::memcpy(&h[0], config_.signature.data(), 3);
  std::memcpy(&h[3], config_.hw_version.data(), config_.hw_version.size());
  std::memcpy(&h[19], config_.fw_version.data(), config_.fw_version.size());
  std::memcpy(&h[36], config_.flash_id.data(), 6);
  std::memcpy(&h[95], config_.cid.data(), 16);
  std::memcpy(&h[111], config_.csd.data(), 16);
  std::memcpy(&h[127], config_.scr.data(), 8);
  std::memcpy(&h[152], config_.client_mark.data(), config_.client_mark.size());

  // The NV6461 keeps its unit fields little-endian; the model is read from
  // the text at offset 3 up to its first NUL.
  const char *text = reinterpret_cast<const char *>(&h[3]);
  const std::string model(text, strnlen(text, kSector - 3));
  const bool nv6461 = model.find("NV6461") != std::string::npos;

  std::map<std::string, std::uint32_t> v = config_.numbers;
  const std::uint32_t n = EntryCount(config_);
  const std::uint32_t offset = v.count("EraseCountOffset") ? v["EraseCountOffset"] : 0;
  std::uint32_t total = 0, lo = 0xFFFF, hi = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t e = config_.erase_counts[i];
    if (e == 0xFFFE)
      continue;
    total += e + offset;
    lo = std::min(lo, e + offset);
    hi = std::max(hi, e + offset);
  }
  v.emplace("TotalEraseCount", total);
  v.emplace("MinEraseCount", lo == 0xFFFF && hi == 0 ? 0 : lo);
  v.emplace("MaxEraseCount", hi);

  for (const auto &f : kFields) {
    auto it = v.find(f.name);
    if (it == v.end())
      continue;
    if (nv6461 && (f.offset == 82 || f.offset == 84))
      PutLittle(&h[f.offset], f.width, it->second);
    else
      PutBig(&h[f.offset], f.width, it->second);
  }

  const std::uint32_t sectors = busy ? 0 : DetailSectors(type);
  h[70] = static_cast<std::uint8_t>(type);
  h[73] = busy ? 1 : 0;
  if (config_.use_detail_count_ex) {
    h[69] = static_cast<std::uint8_t>(std::min<std::uint32_t>(sectors, 255));
    PutBig(&h[138], 2, sectors);
  } else {
    h[69] = static_cast<std::uint8_t>(std::min<std::uint32_t>(sectors, 255));
    PutBig(&h[138], 2, 0xFFFF);
  }
  if (type == 2 && config_.global_read_counts)
    h[94] = static_cast<std::uint8_t>(RemainderSectors(config_));
  return h;
}

// ------------------------------------------------------------- host file --

bool CardState::IsCommandSector(const std::uint8_t *s, std::uint32_t &selector) const {
  if (std::memcmp(s + 256, config_.entry.data(), 8) != 0)
    return false;
  const std::uint32_t unit = config_.capacity_sectors * kSector > 0x83FFFFFFFull ? 1024 : 128;
  if (s[264] != 0 || s[265] != 0 || s[266] != (unit >> 8) || s[267] != (unit & 0xFF))
    return false;
  for (std::size_t i = 0; i < kSector; ++i)
    if ((i < 256 || i >= 272) && s[i] != 0)
      return false;
  selector = std::uint32_t{s[268]} << 24 | std::uint32_t{s[269]} << 16 |
             std::uint32_t{s[270]} << 8 | s[271];
  return selector == 0 || selector == 0x101 || selector == 0x102 || selector == 0x103;
}

std::string CardState::FileWritten(int fd, std::uint64_t offset, const std::uint8_t *data,
                                   std::size_t len) {
  std::string what = "file write";
  const std::uint64_t first = (offset + kSector - 1) / kSector;
  for (std::uint64_t sector = first; (sector + 1) * kSector <= offset + len; ++sector) {
    std::uint32_t selector = 0;
    const std::uint8_t *s = data + (sector * kSector - offset);
    if (!IsCommandSector(s, selector))
      continue;
    char text[40];
    std::snprintf(text, sizeof text, "file command 0x%X", selector);
    what = text;
    if (special_version_ != 3 || FaultActive(FaultKind::NoFileAnswer, current_file_step_, true))
      break;
    // The answer goes into the sectors right after the command: busy
    // headers first, then the answering header and its detail sectors.
    const unsigned type = selector & 0xFF;
    std::vector<std::uint8_t> answer;
    const bool forever = FaultActive(FaultKind::BusyForever, current_file_step_, true);
    const unsigned busy = forever ? 8 : config_.busy_file;
    for (unsigned b = 0; b < busy; ++b) {
      auto h = Header(type, true);
      answer.insert(answer.end(), h.begin(), h.end());
    }
    if (!forever) {
      auto h = Header(type, false);
      Damage(h, current_file_step_, true);
      answer.insert(answer.end(), h.begin(), h.end());
      const auto &d = Detail(type);
      answer.insert(answer.end(), d.begin(), d.end());
    }
    WriteAll(fd, answer.data(), answer.size(), static_cast<off_t>((sector + 1) * kSector));
    break;
  }
  return what;
}

} // namespace sdsim
