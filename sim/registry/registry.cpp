// SPDX-License-Identifier: MIT
#include "registry/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace sdsim {

std::string NormalizePath(const std::string &path) {
  std::string out;
  for (char ch : path) {
    if (ch == '/' && !out.empty() && out.back() == '/')
      continue;
    out += ch;
  }
  while (out.size() > 1 && out.back() == '/')
    out.pop_back();
  return out;
}

Registry &Registry::Get() {
  // Placement into static storage: the registry outlives every static
  // destructor, so hooks running during exit still find it.
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry *instance = new (storage) Registry();
  return *instance;
}

void Registry::PlaceMountPoint(CardState &state, const std::string &runDir) {
  if (!runDir.empty()) {
    const std::string dir = runDir + "/mnt" + std::to_string(Cards.size());
    ::mkdir(dir.c_str(), 0755);
    state.SetMountPoint(dir, false);
    return;
  }
  char folder[] = "/tmp/sdsim-mnt-XXXXXX";
  if (!::mkdtemp(folder))
    throw std::runtime_error("sdsim: cannot create a mount point: " +
                             std::string(std::strerror(errno)));
  state.SetMountPoint(folder, true);
}

Card &Registry::Attach(CardConfig config, const std::string &transcriptPath,
                       const std::string &runDir) {
  for (const auto &card : Cards)
    if (card->Config().Node == config.Node)
      throw std::runtime_error("sdsim: a card already answers on " + config.Node);
  // Under the launcher every process of the run shares one card: its sectors
  // live in a sparse file of the run folder unless the card names an image.
  if (config.Image.empty() && !runDir.empty())
    config.Image = runDir + "/card" + std::to_string(Cards.size()) + ".img";
  auto state = std::make_unique<CardState>(std::move(config), transcriptPath);
  const CardConfig &c = state->Config();
  if (c.Mounted && c.AutoMount)
    PlaceMountPoint(*state, runDir);
  else if (c.Mounted)
    ::mkdir(c.MountPoint.c_str(), 0755); // an existing folder is fine
  Cards.push_back(std::move(state));
  CardHandles.push_back(std::make_unique<Card>(*Cards.back()));
  CardCount.store(static_cast<int>(Cards.size()), std::memory_order_release);
  return *CardHandles.back();
}

void Registry::DetachAll() {
  for (auto &entry : Fds)
    if (entry.first < kFast)
      Fast[entry.first].store(0, std::memory_order_release);
  Fds.clear();
  for (auto &pipe : FakePipes)
    std::fclose(pipe.first);
  FakePipes.clear();
  CardCount.store(0, std::memory_order_release);
  CardHandles.clear();
  Cards.clear();
}

void Registry::CleanUp() {
  std::lock_guard<std::recursive_mutex> lock(TableMutex);
  // Descriptors stay valid; only the folders the sim made go away.
  for (auto &card : Cards)
    card.reset();
  Cards.clear();
  CardHandles.clear();
  // Only the table's descriptors have a flag set: clearing all 65536 would
  // write (and in a forked process copy) the whole array at every exit.
  for (auto &entry : Fds)
    if (entry.first >= 0 && entry.first < kFast)
      Fast[entry.first].store(0, std::memory_order_relaxed);
  Fds.clear();
  CardCount.store(0, std::memory_order_release);
}

CardState *Registry::ByNode(const std::string &path) {
  for (auto &card : Cards)
    if (card->Config().Node == path)
      return card.get();
  return nullptr;
}

CardState *Registry::ByHostFile(const std::string &path) {
  const std::string p = NormalizePath(path);
  for (auto &card : Cards)
    if (!card->MountPoint().empty() && NormalizePath(card->HostFilePath()) == p)
      return card.get();
  return nullptr;
}

Card *Registry::Handle(const std::string &node) {
  for (std::size_t i = 0; i < Cards.size(); ++i)
    if (Cards[i]->Config().Node == node)
      return CardHandles[i].get();
  return nullptr;
}

std::vector<Card *> Registry::Handles() {
  std::vector<Card *> out;
  for (auto &handle : CardHandles)
    out.push_back(handle.get());
  return out;
}

bool Registry::Lookup(int fd, FdEntry &out) {
  auto it = Fds.find(fd);
  if (it == Fds.end())
    return false;
  out = it->second;
  return true;
}

void Registry::Add(int fd, const FdEntry &entry) {
  Fds[fd] = entry;
  if (fd >= 0 && fd < kFast)
    Fast[fd].store(1, std::memory_order_release);
}

bool Registry::LockHeld(const CardState *card, int except) const {
  for (const auto &entry : Fds)
    if (entry.first != except && entry.second.Card == card && !entry.second.HostFile &&
        entry.second.LockMode != 0)
      return true;
  return false;
}

void Registry::Remove(int fd) {
  Fds.erase(fd);
  if (fd >= 0 && fd < kFast)
    Fast[fd].store(0, std::memory_order_release);
}

} // namespace sdsim
