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

// A call that failed (result 1) with `code` and `text`.
inline void ExpectFailed(int result, int64_t code, const std::string &text) {
  EXPECT_EQ(result, 1);
  EXPECT_EQ(GetErrorCode(), code);
  EXPECT_EQ(std::string(GetErrorMessage()), text);
}
inline void ExpectRunFails(int64_t code, const std::string &text) {
  ExpectFailed(GetSmartInfo(), code, text);
}

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSession(); }
  void TearDown() override { ResetSession(); }
};

} // namespace sdtest
