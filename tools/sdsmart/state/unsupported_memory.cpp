// SPDX-License-Identifier: MIT
#include "state/unsupported_memory.h"

#include "device/guard.h"
#include "modes/modes.h"
#include "util/files.h"

#include "sdsmart/unique_fd.h"

#include <sdsmart/sdsmart.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

// FNV-1a, 64 bits: stable across builds and machines, which is all an
// identity needs (nothing here defends against a forged sector).
std::string Fnv1a(const void *data, size_t size) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<const unsigned char *>(data)[i];
    hash *= 0x100000001B3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// The capacity and a hash of sector 0, read past the page cache (a card
// changed in its reader must not be answered from memory) and without a
// descriptor opened for writing; "" when the node does not tell.
std::string CapacityAndSector0(const std::string &node) {
  CUniqueFd fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT));
  if (!fd.IsOpen() && errno == EINVAL)
    fd = CUniqueFd(::open(node.c_str(), O_RDONLY | O_CLOEXEC));
  uint64_t bytes = 0;
  alignas(4096) unsigned char sector[512];
  if (!fd.IsOpen() || ::ioctl(fd.Get(), BLKGETSIZE64, &bytes) != 0 ||
      ::pread(fd.Get(), sector, sizeof sector, 0) != static_cast<ssize_t>(sizeof sector))
    return "";
  return "size-" + std::to_string(bytes) + "-sector0-" + Fnv1a(sector, sizeof sector);
}

// What tells this card from its clones (copies of one image, of one
// capacity): the CID a native host shows, else the card reader's serial
// with the capacity and sector 0. "" where nothing does: such a card is
// never remembered, so that a clone is never skipped in its place.
std::string Identity(const std::string &node, const DeviceVerdict &verdict) {
  if (verdict.Name.empty())
    return "";
  // A native host shows the card's CID; a reader's disk has no such file.
  const std::string cid = ReadSysfsAttribute("/sys/class/block/" + verdict.Name + "/device/cid");
  if (!cid.empty())
    return cid.size() == 32 && cid.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos
               ? "cid-" + cid
               : "";
  const std::string serial = ReaderSerial("/sys", verdict.Name);
  const std::string rest = CapacityAndSector0(node);
  if (serial.empty() || rest.empty())
    return "";
  return "reader-" + Fnv1a(serial.data(), serial.size()) + "-" + rest;
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  char text[32];
  ::gmtime_r(&now, &utc);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const char kLooksTheSame[] = "A card of another controller family and a wrong entry string in "
                             "the configuration look the same";

} // namespace

UnsupportedMemory::UnsupportedMemory(const std::string &stateDir, const std::string &node,
                                     const DeviceVerdict &verdict, const std::string &entry)
    : EntryHash(Fnv1a(entry.data(), entry.size())) {
  std::string identity = Identity(node, verdict);
  if (!stateDir.empty() && !identity.empty())
    Path = stateDir + "/unsupported-" + identity + ".json";
}

nlohmann::json UnsupportedMemory::Record() const {
  std::string text;
  if (Path.empty() || !ReadWholeFile(Path, text))
    return nlohmann::json::object();
  nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  return record.is_object() ? record : nlohmann::json::object();
}

std::optional<std::string> UnsupportedMemory::RememberedSince() const {
  const nlohmann::json record = Record();
  if (record.value("entry", "") != EntryHash || record.value("header_seen", false) ||
      record.value("failures", 2) < 2) // records of older versions counted one failure
    return std::nullopt;
  return record.value("since", "an earlier run");
}

int UnsupportedMemory::Remember(const std::string &node, const std::string &reason) const {
  nlohmann::json record = Record();
  if (record.value("header_seen", false))
    return 0;
  const int failures = record.value("entry", "") == EntryHash ? record.value("failures", 0) + 1 : 1;
  record = {{"since", UtcNow()},
            {"entry", EntryHash},
            {"node", node},
            {"reason", reason},
            {"failures", failures}};
  WriteFileAtomically(Path, record.dump(2) + "\n", 0644, Sync::None);
  return failures;
}

bool UnsupportedMemory::Accepted() const {
  const nlohmann::json old = Record();
  // Only a record of this memory goes: a name of its own that holds anything
  // else than a regular file is left alone.
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  if (::unlink(Path.c_str()) != 0)
    throw std::runtime_error("cannot remove " + Path + ": " + std::strerror(errno));
  // Records of older versions marked a card that was read ("header_seen").
  return old.contains("since") && !old.value("header_seen", false);
}

bool AnsweredNoSmartHeader() {
  // "Incorrect S.M.A.R.T contents." is also raised for damaged detail pages
  // of a card that did answer a header; the reader keeps the header it
  // accepted, so only a run without one counts.
  return GetErrorCode() == SDSMART_E_SMART_CONTENTS && GetHeaderSignatureFound() == 0;
}

bool SkipRememberedCard(const Options &o, const UnsupportedMemory &memory, RunStatus &status) {
  std::optional<std::string> since = memory.RememberedSince();
  if (!since || o.RetryUnsupported || o.Force)
    return false;
  status.Say("error", o.Device + ": not supported (remembered since " + *since +
                          "): on that run the card took the enter pattern but answered no SMART "
                          "header, so it is not written to again. " +
                          kLooksTheSame + "; --retry-unsupported tries again (" + memory.File() +
                          ").");
  status.Fail(kExitAcquisition);
  return true;
}

void NoteAcquisition(const Options &o, const UnsupportedMemory &memory, bool read,
                     RunStatus &status) {
  if (!memory.Usable())
    return;
  int failures = 0;
  bool remembered = false;
  try {
    if (read)
      remembered = memory.Accepted(); // a card that gave a header is not unsupported
    else if (AnsweredNoSmartHeader())
      failures = memory.Remember(o.Device, GetErrorMessage());
  } catch (const std::exception &e) {
    status.Say("warning", std::string("cannot note how the card answered: ") + e.what());
    return;
  }
  if (read && remembered)
    status.Say("information", o.Device + " was read: it is no longer remembered as not supported");
  if (failures == 0)
    return;
  status.Say("information", o.Device +
                                ": the card took the enter pattern but answered no SMART "
                                "header. " +
                                std::string(kLooksTheSame) +
                                (failures >= 2 ? ". Later runs skip this card without writing to "
                                                 "it; --retry-unsupported tries again."
                                               : ". A second such run in a row, with no header "
                                                 "in between, makes later runs skip it."));
}

} // namespace sdsmart_tool
