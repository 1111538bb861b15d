// SPDX-License-Identifier: MIT
// The session record as a façade over the host's card session. The exported
// entry points work on a CCardSession built from the record (the node, the
// transport SetDiskName chose, the configuration's settings, the host's
// cancel flag, the last run's objects and results) and hand everything back
// to the record when they return, however they return: the documented
// variables and class-wide flags keep the values hosts read. This is the one
// place that reads the record's transport flags.
#pragma once

#include "interface/card_session.h"

// The host's card session for the length of one exported call.
class CRecordSession {
public:
  CRecordSession();
  ~CRecordSession(); // hands the session back to the record
  CRecordSession(const CRecordSession &) = delete;
  CRecordSession &operator=(const CRecordSession &) = delete;

  CCardSession *operator->() { return &session; }

private:
  CCardSession session;
  const CSpecialMode2Cmd *channelBefore; // the record's channel when the call began
};

// The drive of the last acquisition on the transport of the node in use;
// none before the first.
CSectorDevice RecordDevice();

// One acquisition of the host's card session (GetSmartInfo's work).
void LoadDll_Main();

// Puts the record back as it is when the library is loaded: no node, the
// default settings, no objects, no results, no error.
void ResetSessionRecord();
