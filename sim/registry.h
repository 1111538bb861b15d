// The attached cards and the descriptors handed out for them.
#ifndef SDSIM_REGISTRY_H
#define SDSIM_REGISTRY_H

#include "card_state.h"

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
  CardState *card = nullptr;
  bool host_file = false; // the extension-mode host file, else the node
  bool o_direct = false;  // opened with O_DIRECT: transfers must be aligned
};

class Registry {
public:
  static Registry &Get(); // never destroyed: hooks may run during exit

  std::recursive_mutex &Mutex() { return mutex_; }
  bool Empty() const { return count_.load(std::memory_order_acquire) == 0; }

  // With the mutex held.
  Card &Attach(CardConfig config, const std::string &transcript_path, const std::string &run_dir);
  void DetachAll();
  CardState *ByNode(const std::string &path);
  CardState *ByHostFile(const std::string &path);
  CardState *BySysfsName(const std::string &name); // "mmcblk7" or "sdx"
  Card *Handle(const std::string &node);
  std::vector<Card *> Handles();
  const std::vector<std::unique_ptr<CardState>> &All() const { return cards_; }

  // Descriptor table. Lookup is lock-free for descriptors that are not ours.
  bool Ours(int fd) const {
    return fd >= 0 && (fd >= kFast || fast_[fd].load(std::memory_order_acquire));
  }
  bool Lookup(int fd, FdEntry &out);  // mutex held
  void Add(int fd, const FdEntry &e); // mutex held
  void Remove(int fd);                // mutex held

  // popen streams answered by the card (mount listings), with the exit
  // status pclose reports for them.
  std::map<FILE *, int> fake_pipes;

  // Removes the mount points the sim created (at exit).
  void CleanUp();

private:
  static constexpr int kFast = 1 << 16;
  std::recursive_mutex mutex_;
  std::atomic<int> count_{0};
  std::vector<std::unique_ptr<CardState>> cards_;
  std::vector<std::unique_ptr<Card>> handles_;
  std::unordered_map<int, FdEntry> fds_;
  std::atomic<unsigned char> fast_[kFast] = {};
};

// Loads cards, faults and the transcript file from the environment
// (SDSIM_CARDS, SDSIM_FAULTS, SDSIM_TRANSCRIPT, SDSIM_RUNDIR).
void AttachFromEnvironment();
// "fail@3", "busy-forever@0*0", comma-separated.
std::vector<Fault> ParseFaults(const std::string &spec);
std::string NormalizePath(const std::string &path);

} // namespace sdsim

#endif
