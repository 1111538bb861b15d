// SPDX-License-Identifier: MIT
// The texts of the errors told by their text alone: hosts match those as they
// have always read them, typos and trailing blanks included. Those a card run
// or a parser raises are pinned where they are raised (the acquisition, smart,
// transport and util tests); these are the rest. (The codes of the others are
// tied to the public header where they are reported, and checked where each
// is raised.)
#include "sdsmart/sdsmart.h"
#include "util/error_catalogue.h"

#include <gtest/gtest.h>

TEST(ErrorCatalogue, TextsOfUncodedErrors) {
  using namespace Errors;
  const std::pair<CError, const wchar_t *> pinned[] = {
      {MakeError(ReadCapacityFailed), L"Read Capacity Fail!!"},
      {MakeError(SendStatusFailed), L"Send Status Error \n"},
      {MakeError(StopTransmissionFailed), L"Stop Transmission Error \n"},
      {MakeError(SetBlockCountFailed), L"Set Block Count Error \n"},
      {MakeError(CannotReadFile, {L"a.bin"}), L"[Error] : Cannot read file, a.bin."},
  };
  for (const auto &[error, text] : pinned) {
    EXPECT_EQ(error.GetCode(), SDSMART_E_UNCODED) << text;
    EXPECT_EQ(error.GetText(), text);
  }
}

// A detail is put in as it is, even where it looks like a place for one.
TEST(ErrorCatalogue, DetailsAreNotSearchedForPlaces) {
  EXPECT_EQ(MakeIniError(Errors::IniNoSection, L"/tmp/{}.ini", {L"S"}).GetText(),
            L"[Ini File Error] /tmp/{}.ini\n : Can't find [S].");
  EXPECT_EQ(ErrorText(Errors::DeviceBusy, {L"/dev/{}"}),
            L"Device is busy: another acquisition is running on /dev/{}");
}
