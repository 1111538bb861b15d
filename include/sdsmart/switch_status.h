// SPDX-License-Identifier: MIT
// The switch-function status (64 bytes, returned by CMD6): the maximum
// current, the functions each group supports and the function selected.
#pragma once

#include <string>

#include "sdsmart/register_field.h"

namespace SwitchStatusField {
// clang-format off
//                                       name                       high low
inline constexpr RegisterField MAX_CURRENT              {"maximum current",         511, 496};
// Support bits of function groups 6 down to 1, one 16-bit word each.
inline constexpr RegisterField GROUP_SUPPORT[7] = {
    {"", 0, 0},
    {"group 1 support", 415, 400}, {"group 2 support", 431, 416},
    {"group 3 support", 447, 432}, {"group 4 support", 463, 448},
    {"group 5 support", 479, 464}, {"group 6 support", 495, 480}};
// The function selected in each group, 4 bits each.
inline constexpr RegisterField GROUP_SELECTION[7] = {
    {"", 0, 0},
    {"group 1 function", 379, 376}, {"group 2 function", 383, 380},
    {"group 3 function", 387, 384}, {"group 4 function", 391, 388},
    {"group 5 function", 395, 392}, {"group 6 function", 399, 396}};
// clang-format on
} // namespace SwitchStatusField

class CSwitchStatus {
public:
  explicit CSwitchStatus(unsigned char *status);
  explicit CSwitchStatus(const unsigned char *status);

  unsigned int GetMaxCurrent();
  // Groups 1 to 6; other numbers give 0.
  unsigned int GetGroupSupport(unsigned int group) const;
  unsigned int GetGroupSelection(unsigned int group) const;

  std::wstring Parse(unsigned int indent);

private:
  unsigned char status[64];
};
