// The last error of the session and the two functions that report it.
#include "interface/session.h"
#include "util/convert.h"

CError _Error;
std::string _ErrorText;

extern "C" int GetErrorCode() { return static_cast<int>(_Error.GetCode()); }

extern "C" const char *GetErrorMessage() {
  _ErrorText = ToNarrowString(_Error.GetText());
  return _ErrorText.c_str();
}
