// SPDX-License-Identifier: MIT
// The session record, put back to its load-time state around each test.
#pragma once

#include "config.h"

#include "interface/session.h"
#include "interface/session_record.h"
#include "sdsmart/sdsmart.h"

namespace sdtest {

// Puts the session record back to its load-time state.
inline void ResetSession() { ResetSessionRecord(); }

// A run (GetSmartInfo) that fails with `code` and `text`.
inline void ExpectRunFails(int64_t code, const std::string &text) {
  EXPECT_EQ(GetSmartInfo(), 1);
  EXPECT_EQ(GetErrorCode(), code);
  EXPECT_EQ(std::string(GetErrorMessage()), text);
}

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSession(); }
  void TearDown() override { ResetSession(); }
};

} // namespace sdtest
