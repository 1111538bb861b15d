// SPDX-License-Identifier: MIT
#include "interface/journal.h"
#include "sdsmart/read_file.h"
#include "smart/card_protocol.h"

#include "sdsmart/convert.h"
#include "sdsmart/crc.h"
#include "sdsmart/partition_table.h"
#include "sdsmart/unique_fd.h"
#include "util/error_catalogue.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <linux/fs.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char Magic[] = "sdsmart-sector0-journal";
constexpr size_t LongestJournal = 4096; // a whole one is about 1200 bytes

const char HexDigits[] = "0123456789abcdef";

std::string ToHex(const unsigned char *data, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += HexDigits[data[i] >> 4];
    out += HexDigits[data[i] & 0xF];
  }
  return out;
}

int HexValue(char c) {
  const char *at = std::strchr(HexDigits, c);
  return c != '\0' && at ? static_cast<int>(at - HexDigits) : -1;
}

std::string Crc16Of(const std::string &text) {
  const unsigned short crc = CCRC16().Generate(reinterpret_cast<const unsigned char *>(text.data()),
                                               static_cast<unsigned int>(text.size()));
  const unsigned char bytes[2] = {static_cast<unsigned char>(crc >> 8),
                                  static_cast<unsigned char>(crc & 0xFF)};
  return ToHex(bytes, 2);
}

std::string SystemError(int error) { return std::strerror(error); }

[[noreturn]] void NotSaved(const std::string &path, const std::string &why) {
  throw MakeError(Errors::JournalNotSaved, {ToWideString(path), ToWideString(why)});
}

void SyncDirectory(const std::string &dir) {
  const CUniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.IsOpen())
    fsync(fd.Get());
}

bool WriteAll(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// FNV-1a, 64 bits: stable across builds and machines; an identity, not a
// defence against forgery.
std::string Fnv1a(const unsigned char *data, size_t n) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < n; ++i) {
    hash ^= data[i];
    hash *= 0x100000001B3ull;
  }
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<unsigned char>(hash >> (56 - 8 * i));
  return ToHex(bytes, 8);
}

// The text of a small file; false with errno set.
bool ReadSmallFile(const std::string &path, std::string &text) {
  return ReadWholeFileBounded(path, text, LongestJournal);
}

} // namespace

static_assert(sizeof(CJournalRecord::Sector0) == CardProtocol::SectorBytes,
              "a journal keeps one whole sector");

std::string CCardIdentity::Describe() const {
  return "capacity " + std::to_string(CapacitySectors) + " sectors, " +
         (Cid.empty() ? std::string("no CID") : "CID " + Cid);
}

std::string CanonicalNode(const std::string &node) {
  char resolved[PATH_MAX];
  return realpath(node.c_str(), resolved) ? std::string(resolved) : node;
}

uint64_t NodeCapacitySectors(int fd) {
  uint64_t bytes = 0;
  return fd >= 0 && ioctl(fd, BLKGETSIZE64, &bytes) == 0 ? bytes / CardProtocol::SectorBytes : 0;
}

CCardIdentity IdentifyCard(const std::string &node, int fd) {
  CCardIdentity id;
  id.Node = CanonicalNode(node);
  id.CapacitySectors = NodeCapacitySectors(fd);
  const std::string name = id.Node.substr(id.Node.find_last_of('/') + 1);
  std::string cid;
  if (!name.empty() && ReadSmallFile("/sys/class/block/" + name + "/device/cid", cid)) {
    while (!cid.empty() && (cid.back() == '\n' || cid.back() == ' '))
      cid.pop_back();
    bool hex = cid.size() == 32;
    for (char c : cid)
      hex = hex && HexValue(c) >= 0;
    if (hex)
      id.Cid = cid;
  }
  return id;
}

std::string BootDigest(const unsigned char *sector0, uint64_t capacity, const SectorReader &read) {
  namespace PT = PartitionTable;
  if (!PT::HasSignature(sector0))
    return "";
  for (size_t i = 0; i < PT::EntryCount; ++i) {
    const unsigned char *entry = PT::Entry(sector0, i);
    const uint32_t start = PT::Le32(entry + PT::EntryFirstLbaAt);
    if (entry[PT::EntryTypeAt] == 0 || start == 0 || start >= capacity)
      continue;
    unsigned char boot[CardProtocol::SectorBytes];
    try {
      read(start, boot);
    } catch (...) {
      return ""; // whatever the failure, no digest: the card is not taken for this one
    }
    // FAT12/16 and FAT32 state bytes; exFAT VolumeFlags and PercentInUse.
    for (const unsigned int changing : {0x25u, 0x41u, 106u, 107u, 112u})
      boot[changing] = 0;
    return Fnv1a(boot, sizeof boot);
  }
  return "";
}

bool JournalFitsCard(const CJournalRecord &saved, const CCardIdentity &card,
                     const SectorReader &read) {
  if (!saved.Card.SameCard(card))
    return false;
  return saved.Card.BootDigest.empty() ||
         BootDigest(saved.Sector0.data(), card.CapacitySectors, read) == saved.Card.BootDigest;
}

std::string JournalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char text[32] = "";
  if (gmtime_r(&now, &utc))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string CSectorJournal::FileStem(const std::string &node) {
  std::string name = "sector0-";
  const std::string canonical = CanonicalNode(node);
  const size_t start = canonical.find_first_not_of('/');
  for (size_t i = start == std::string::npos ? canonical.size() : start; i < canonical.size();
       ++i) {
    const char c = canonical[i];
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.';
    name += plain ? c : '_';
  }
  return name;
}

CSectorJournal::CSectorJournal(const std::string &directory, const std::string &node)
    : Directory(directory), FilePath(directory + "/" + FileStem(node) + ".journal") {}

std::string CSectorJournal::Encode(const CJournalRecord &record) {
  std::ostringstream text;
  text << Magic << ' ' << CJournalRecord::Version << '\n'
       << "node " << record.Card.Node << '\n'
       << "capacity-sectors " << record.Card.CapacitySectors << '\n'
       << "cid " << (record.Card.Cid.empty() ? "-" : record.Card.Cid) << '\n'
       << "boot-digest " << (record.Card.BootDigest.empty() ? "-" : record.Card.BootDigest) << '\n'
       << "time " << record.Time << '\n'
       << "sector0 " << ToHex(record.Sector0.data(), record.Sector0.size()) << '\n';
  const std::string body = text.str();
  return body + "crc16 " + Crc16Of(body) + '\n';
}

std::optional<CJournalRecord> CSectorJournal::Decode(const std::string &text, std::string &why) {
  // Version 1 has no boot digest; its files stay readable.
  const bool first = text.compare(0, sizeof Magic + 1, std::string(Magic) + " 1") == 0;
  std::vector<const char *> keys = {Magic,         "node", "capacity-sectors", "cid",
                                    "boot-digest", "time", "sector0",          "crc16"};
  if (first)
    keys.erase(keys.begin() + 4);
  std::vector<std::string> values;
  size_t at = 0;
  for (const char *key : keys) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
    const std::string prefix = std::string(key) + ' ';
    if (end == std::string::npos || line.compare(0, prefix.size(), prefix) != 0) {
      why = std::string("no \"") + key + "\" line where one belongs";
      return std::nullopt;
    }
    if (values.size() + 1 == keys.size() && Crc16Of(text.substr(0, at)) != line.substr(6)) {
      why = "its checksum does not match";
      return std::nullopt;
    }
    values.push_back(line.substr(prefix.size()));
    at = end + 1;
  }
  if (at != text.size()) {
    why = "text follows its checksum";
    return std::nullopt;
  }
  if (!first && values[0] != std::to_string(CJournalRecord::Version)) {
    why = "version " + values[0] + " is not known here";
    return std::nullopt;
  }
  if (first)
    values.insert(values.begin() + 4, "-");
  CJournalRecord record;
  record.Card.Node = values[1];
  char *end = nullptr;
  record.Card.CapacitySectors = std::strtoull(values[2].c_str(), &end, 10);
  record.Card.Cid = values[3] == "-" ? "" : values[3];
  record.Card.BootDigest = values[4] == "-" ? "" : values[4];
  record.Time = values[5];
  const std::string &hex = values[6];
  bool good = end && *end == '\0' && hex.size() == 2 * record.Sector0.size();
  for (size_t i = 0; good && i < record.Sector0.size(); ++i) {
    const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    good = high >= 0 && low >= 0;
    record.Sector0[i] = static_cast<unsigned char>(high * 16 + low);
  }
  if (!good) {
    why = "its capacity or sector is malformed";
    return std::nullopt;
  }
  return record;
}

std::optional<CJournalRecord> CSectorJournal::Load() const {
  std::string text;
  if (!ReadSmallFile(FilePath, text)) {
    if (errno == ENOENT)
      return std::nullopt;
    throw MakeError(Errors::JournalUnreadable,
                    {ToWideString(FilePath), ToWideString(SystemError(errno))});
  }
  std::string why;
  std::optional<CJournalRecord> record = Decode(text, why);
  if (!record)
    throw MakeError(Errors::JournalUnreadable, {ToWideString(FilePath), ToWideString(why)});
  return record;
}

void CSectorJournal::Save(const CJournalRecord &record) const {
  std::string name = Directory + "/." + FileStem(record.Card.Node) + ".journal.XXXXXX";
  CUniqueFd fd(mkostemp(name.data(), O_CLOEXEC));
  if (!fd.IsOpen())
    NotSaved(FilePath, SystemError(errno));
  const bool written = WriteAll(fd.Get(), Encode(record)) && fsync(fd.Get()) == 0;
  const int error = errno;
  if (!written || close(fd.Release()) != 0 || rename(name.c_str(), FilePath.c_str()) != 0) {
    const int failure = written ? errno : error;
    unlink(name.c_str());
    NotSaved(FilePath, SystemError(failure));
  }
  SyncDirectory(Directory);
}

bool CSectorJournal::Remove() const {
  if (unlink(FilePath.c_str()) != 0)
    return errno == ENOENT;
  SyncDirectory(Directory);
  return true;
}

CSectorJournal CSectorJournal::AtPath(const std::string &path) {
  CSectorJournal journal;
  journal.FilePath = path;
  const size_t slash = path.find_last_of('/');
  journal.Directory = slash == std::string::npos ? "." : path.substr(0, slash);
  return journal;
}

std::vector<std::string> CSectorJournal::List(const std::string &directory) {
  std::vector<std::string> paths;
  DIR *dir = opendir(directory.c_str());
  if (!dir)
    return paths;
  static const std::string prefix = "sector0-", suffix = ".journal";
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > prefix.size() + suffix.size() &&
        name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      paths.push_back(directory + "/" + name);
  }
  closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::optional<CSectorJournal> CSectorJournal::FindForCard(const std::string &directory,
                                                          const CCardIdentity &card,
                                                          const SectorReader &read,
                                                          std::string &ambiguous) {
  const CSectorJournal own(directory, card.Node);
  std::vector<std::string> paths = List(directory);
  // The node's own file first: a card that kept its name takes its copy.
  std::stable_partition(paths.begin(), paths.end(),
                        [&](const std::string &p) { return p == own.Path(); });
  std::optional<CSectorJournal> chosen;
  std::optional<CJournalRecord> chosenRecord;
  for (const std::string &path : paths) {
    std::string text, why;
    std::optional<CJournalRecord> record;
    if (ReadSmallFile(path, text))
      record = Decode(text, why);
    if (!record || !JournalFitsCard(*record, card, read))
      continue;
    // Capacity alone does not tell two cards apart: the node's own copy is
    // taken only when no other such copy fits (the cards may have swapped).
    if (path == own.Path() && !(record->Card.Cid.empty() && record->Card.BootDigest.empty()))
      return AtPath(path);
    if (!chosen) {
      chosen = AtPath(path);
      chosenRecord = record;
    } else if (chosenRecord->Sector0 != record->Sector0) {
      ambiguous = chosen->Path() + " and " + path;
      return std::nullopt;
    }
  }
  return chosen;
}
