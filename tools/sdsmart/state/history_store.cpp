// SPDX-License-Identifier: MIT
#include "state/history_store.h"

#include "output/output.h"
#include "util/files.h"

#include "sdsmart/unique_fd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kRecentDays = 90; // daily readings kept this far back
constexpr size_t kSurplusBeforeThinning = 24;

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s;
}

bool IsHexKey(const std::string &s) {
  return s.size() == 32 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

template <class T> bool Take(const nlohmann::json &j, const char *key, T &out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_unsigned())
    return false;
  out = it->get<T>();
  return true;
}

void WriteAll(int fd, const std::string &data, const std::string &path) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

} // namespace

void AppendSynced(const std::string &path, const std::string &text) {
  CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
  struct stat st {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0)
    throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error(path + " is " + FileKind(st.st_mode) + ", not a regular file");
  WriteAll(fd.Get(), text, path);
  if (::fsync(fd.Get()) != 0)
    throw std::runtime_error("cannot sync " + path + ": " + std::strerror(errno));
}

nlohmann::ordered_json ReadingJson(const HistoryReading &r) {
  nlohmann::ordered_json j;
  j["time"] = r.Time;
  j["remaining_percent"] = r.RemainingPercent ? nlohmann::ordered_json(*r.RemainingPercent)
                                              : nlohmann::ordered_json(nullptr);
  j["used_percent"] =
      r.UsedPercent ? nlohmann::ordered_json(*r.UsedPercent) : nlohmann::ordered_json(nullptr);
  j["erase_total"] = r.TotalErases;
  j["erase_average"] = r.AverageErases;
  j["rated_pe_cycles"] = r.RatedCycles;
  j["later_bad"] = r.LaterBadBlocks;
  j["power_cycles"] = r.PowerCycles;
  j["ecc_uncorrectable"] = r.EccUncorrectable ? nlohmann::ordered_json(*r.EccUncorrectable)
                                              : nlohmann::ordered_json(nullptr);
  j["implausible"] = r.Implausible;
  PutWriteCount(j, r.Writes);
  if (r.Writes.Sectors)
    j["block_bytes"] = r.BlockBytes;
  j["verdict"] = r.Verdict;
  j["version"] = r.ToolVersion;
  return j;
}

bool ParseReading(const std::string &line, HistoryReading &r) {
  nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  if (!j.is_object() || !j.contains("time") || !j["time"].is_number_integer())
    return false;
  r = HistoryReading();
  r.Time = j["time"].get<int64_t>();
  for (auto [key, into] : {std::pair{"remaining_percent", &r.RemainingPercent},
                           std::pair{"used_percent", &r.UsedPercent}}) {
    auto it = j.find(key);
    if (it == j.end() || !(it->is_number() || it->is_null()))
      return false;
    if (it->is_number())
      *into = it->get<double>();
  }
  if (!Take(j, "erase_total", r.TotalErases) || !Take(j, "erase_average", r.AverageErases) ||
      !Take(j, "rated_pe_cycles", r.RatedCycles) || !Take(j, "later_bad", r.LaterBadBlocks) ||
      !Take(j, "power_cycles", r.PowerCycles))
    return false;
  // Not read in that run (its selection left the run-time page out): null.
  if (auto ecc = j.find("ecc_uncorrectable"); ecc != j.end() && !ecc->is_null()) {
    uint32_t count = 0;
    if (!Take(j, "ecc_uncorrectable", count))
      return false;
    r.EccUncorrectable = count;
  }
  // Lines of versions before it have no such field: plausible.
  if (auto implausible = j.find("implausible"); implausible != j.end()) {
    if (!implausible->is_boolean())
      return false;
    r.Implausible = implausible->get<bool>();
  }
  if (!TakeWriteCount(j, r.Writes))
    return false;
  Take(j, "block_bytes", r.BlockBytes);
  if (!j.contains("verdict") || !j["verdict"].is_string() || !j.contains("version") ||
      !j["version"].is_string())
    return false;
  r.Verdict = j["verdict"].get<std::string>();
  r.ToolVersion = j["version"].get<std::string>();
  return true;
}

bool LoadHistory(const std::string &path, LoadedHistory &history) {
  history = LoadedHistory();
  std::string text;
  if (!ReadWholeFile(path, text))
    return errno == ENOENT;
  history.TornEnd = !text.empty() && text.back() != '\n';
  history.SkippedText = TakeLines(text, [&](const std::string &line) {
    HistoryReading r;
    if (!ParseReading(line, r))
      return false;
    history.Readings.push_back(r);
    return true;
  });
  history.Skipped =
      static_cast<size_t>(std::count(history.SkippedText.begin(), history.SkippedText.end(), '\n'));
  return true;
}

std::string TakeLines(const std::string &text,
                      const std::function<bool(const std::string &line)> &take) {
  std::string refused;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!take(line) && !line.empty())
      refused += line + "\n";
  }
  return refused;
}

std::string HistoryLoadFailure(const std::string &path) {
  if (errno == EFBIG)
    return path + " is larger than the " + std::to_string(kLargestFileRead >> 20) +
           " MiB a history may be (one the tool keeps stays near 100 KiB), so it is not read. "
           "Move it aside: the next reading starts a new history";
  return "cannot read the history " + path + ": " + std::strerror(errno);
}

std::string RejectedPath(const std::string &historyPath) {
  const std::string ext = ".jsonl";
  const bool jsonl = historyPath.size() > ext.size() &&
                     historyPath.compare(historyPath.size() - ext.size(), ext.size(), ext) == 0;
  return (jsonl ? historyPath.substr(0, historyPath.size() - ext.size()) : historyPath) +
         ".rejected";
}

std::string SysfsCid(const std::string &device, const std::string &sysRoot) {
  const std::string name = device.substr(device.find_last_of('/') + 1);
  std::string cid;
  if (!ReadWholeFile(sysRoot + "/class/block/" + name + "/device/cid", cid))
    return "";
  cid = Trimmed(cid);
  for (char &c : cid)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return IsHexKey(cid) ? cid : "";
}

std::string CardKey(const CardData &card, const std::string &sysRoot) {
  // A native host shows the card's CID; a reader's disk has no such file.
  if (std::string cid = SysfsCid(card.Device, sysRoot); !cid.empty())
    return cid;
  std::string fromHeader = HexBytes(card.Identity.Cid);
  return IsHexKey(fromHeader) && fromHeader != std::string(32, '0') ? fromHeader : "";
}

std::vector<HistoryReading> Thinned(const std::vector<HistoryReading> &readings, int64_t interval) {
  std::vector<HistoryReading> kept;
  if (readings.empty())
    return kept;
  const int64_t newest = readings.back().Time;
  for (size_t i = 0; i + 1 < readings.size(); ++i) {
    const HistoryReading &r = readings[i];
    int64_t gap = newest - r.Time > kRecentDays * kDay ? std::max(interval, 7 * kDay) : interval;
    if (kept.empty() || r.Time - kept.back().Time >= gap)
      kept.push_back(r);
  }
  kept.push_back(readings.back());
  return kept;
}

void AppendReading(const std::string &path, const LoadedHistory &before,
                   const HistoryReading &reading, int64_t interval) {
  std::vector<HistoryReading> all = before.Readings;
  all.push_back(reading);
  std::vector<HistoryReading> kept = Thinned(all, interval);
  if (before.Skipped || before.TornEnd || kept.size() + kSurplusBeforeThinning < all.size()) {
    // The lines that are no reading go first, so that the rewrite loses none.
    if (before.Skipped)
      AppendSynced(RejectedPath(path), before.SkippedText);
    std::string text;
    for (const HistoryReading &r : kept)
      text += ReadingJson(r).dump() + "\n";
    WriteFileAtomically(path, text, 0644, Sync::Rename);
    return;
  }
  AppendSynced(path, ReadingJson(reading).dump() + "\n");
}

} // namespace sdsmart_tool
