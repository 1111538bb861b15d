// SPDX-License-Identifier: MIT
// The mount table as the cards' file systems extend it: /proc/self/mounts
// (and its other names), /proc/self/mountinfo and "mount|grep X".
#pragma once

#include <string>

namespace sdsim {

class Registry;

bool IsMountTable(const std::string &path);
bool IsMountInfo(const std::string &path);
// The real file with the cards' lines added after the real ones. False, with
// errno set, when no descriptor was free to read the real file, as a stream of
// the real table would then fail; its other failures leave the cards' lines.
bool MountTable(Registry &registry, std::string &text);
std::string MountInfo(Registry &registry);

} // namespace sdsim
