// SPDX-License-Identifier: MIT
// The attached cards and the descriptors handed out for them.
#pragma once

#include "card/card_state.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace sdsim {

struct FdEntry {
  CardState *Card = nullptr;
  bool HostFile = false; // the extension-mode host file, else the node
  bool ODirect = false;  // opened with O_DIRECT: transfers must be aligned
  bool Writable = false; // node opened for writing
  int LockMode = 0;      // LOCK_SH or LOCK_EX taken through it, else 0
};

class Registry {
public:
  static Registry &Get(); // never destroyed: hooks may run during exit

  std::recursive_mutex &Mutex() { return TableMutex; }
  bool Empty() const { return CardCount.load(std::memory_order_acquire) == 0; }

  // With the mutex held.
  Card &Attach(CardConfig config, const std::string &transcriptPath, const std::string &runDir);
  void DetachAll();
  CardState *ByNode(const std::string &path);
  CardState *ByHostFile(const std::string &path);
  Card *Handle(const std::string &node);
  std::vector<Card *> Handles();
  const std::vector<std::unique_ptr<CardState>> &All() const { return Cards; }

  // Descriptor table. Lookup is lock-free for descriptors that are not ours.
  bool Ours(int fd) const {
    return fd >= 0 && (fd >= kFast || Fast[fd].load(std::memory_order_acquire));
  }
  bool Lookup(int fd, FdEntry &out);      // mutex held
  void Add(int fd, const FdEntry &entry); // mutex held
  void Remove(int fd);                    // mutex held
  // Whether a descriptor of this process other than `except` holds a flock
  // on the card (mutex held).
  bool LockHeld(const CardState *card, int except) const;

  // popen streams answered by the card (mount listings), with the exit
  // status pclose reports for them.
  std::map<FILE *, int> FakePipes;

  // Removes the mount points the sim created (at exit).
  void CleanUp();

private:
  static constexpr int kFast = 1 << 16;
  // Places an auto mount point in the run folder, or in a new temporary folder.
  void PlaceMountPoint(CardState &state, const std::string &runDir);

  std::recursive_mutex TableMutex;
  std::atomic<int> CardCount{0};
  std::vector<std::unique_ptr<CardState>> Cards;
  std::vector<std::unique_ptr<Card>> CardHandles;
  std::unordered_map<int, FdEntry> Fds;
  std::atomic<unsigned char> Fast[kFast] = {};
};

// Loads cards, faults and the transcript file from the environment
// (SDSIM_CARDS, SDSIM_FAULTS, SDSIM_TRANSCRIPT, SDSIM_RUNDIR).
void AttachFromEnvironment();
std::string NormalizePath(const std::string &path);

} // namespace sdsim
