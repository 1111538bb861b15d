// SPDX-License-Identifier: MIT
// The session record, put back to its load-time state around each test.
#pragma once

#include "config.h"
#include "support.h"

#include "interface/session.h"
#include "interface/session_record.h"

namespace sdtest {

// Puts the session record back to its load-time state.
inline void ResetSession() { ResetSessionRecord(); }

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSession(); }
  void TearDown() override { ResetSession(); }
};

} // namespace sdtest
