#include "interface/entry_sector.h"

#include <cstring>

namespace {

const unsigned char EnterGroup256[8] = {0x02, 0x01, 0, 0, 0, 0, 0, 0};
const unsigned char EnterGroup504[8] = {0, 0, 0, 0, 0, 0, 0x01, 0x02};
const unsigned char LeaveGroup256[8] = {0x02, 0, 0, 0, 0, 0, 0x01, 0x02};
const unsigned char LeaveGroup504[8] = {0x02, 0x01, 0, 0, 0, 0, 0, 0};

} // namespace

bool IsSpecialModePattern(const unsigned char *sector) {
  for (int i = 0; i < 8; ++i)
    if (sector[i] != sector[255 - i])
      return false;
  const bool enter = std::memcmp(sector + 256, EnterGroup256, 8) == 0 &&
                     std::memcmp(sector + 504, EnterGroup504, 8) == 0;
  const bool leave = std::memcmp(sector + 256, LeaveGroup256, 8) == 0 &&
                     std::memcmp(sector + 504, LeaveGroup504, 8) == 0;
  return enter || leave;
}
