// The last error of the session and the two functions that report it.
#include "interface/boundary.h"
#include "util/convert.h"

CError _Error;
std::string _ErrorText;

void RecordUnknownError() { _Error.Set(65534, L"Unknown Error"); }

extern "C" int GetErrorCode() { return static_cast<int>(_Error.GetCode()); }

extern "C" const char *GetErrorMessage() {
  try {
    _ErrorText = ToNarrowString(_Error.GetText());
  } catch (...) {
    // Out of memory while copying the text: hand out what the buffer holds.
  }
  return _ErrorText.c_str();
}
