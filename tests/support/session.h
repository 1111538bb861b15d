// SPDX-License-Identifier: MIT
// The session record, put back to its load-time state around each test.
#pragma once

#include "config.h"
#include "support.h"

#include "interface/session.h"

namespace sdtest {

// Puts every session value the tests touch back to its load-time state.
inline void ResetSession() {
  _DiskName.clear();
  _IsUsbDevice = 1;
  _AppExePath.clear();
  _ConfigPath.clear();
  _AuthorCode = 0;
  _EntryStr.clear();
  _SmartVerSupport = 2;
  _ExternelSDKName.clear();
  _UseExternelSDKName = false;
  _FuncSel = 5;
  __atomic_store_n(&_Terminated, false, __ATOMIC_SEQ_CST); // a test may have set it from a thread
  _Header = _SMART_INFO_HEADER{};
  _ECCUncorrectableCnt = 0;
  _EraseCount.clear();
  _ReadCount.clear();
  _MinEraseCount = 0;
  _MaxEraseCount = 0;
  _FlashType.clear();
  _FlashID.clear();
  _Error = CError();
}

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSession(); }
  void TearDown() override { ResetSession(); }
};

} // namespace sdtest
