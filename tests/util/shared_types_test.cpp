// SPDX-License-Identifier: MIT
#include "sdsmart/bulk.h"
#include "sdsmart/endian.h"
#include "sdsmart/error.h"

#include <gtest/gtest.h>

TEST(CErrorTest, CodesAndComposedTexts) {
  EXPECT_EQ(CError().GetCode(), -1);
  EXPECT_EQ(CError(L"x").GetCode(), -1);
  EXPECT_EQ(CError(0xFFFFFFFFu, L"x").GetCode(), 0xFFFFFFFFll); // widened without sign
  EXPECT_EQ(CBufferSizeError("X", 7, 512).GetText(), L"[Error] : Buffer size < 512 at X, Line = 7");
  EXPECT_EQ(CSectorBufferSizeError("SpecialMode2Cmd", 262, 513).GetText(),
            L"[Error] : Buffer size( 513 ) != N * 512, at SpecialMode2Cmd, Line = 262");
  EXPECT_EQ(CArrayIndexError("f", 3, 9, 4).GetText(),
            L"[Error] : Access index 9 exceeds array size 4 at f, Line = 3");
  COpenFileError open(L"/no/such");
  EXPECT_EQ(open.GetCode(), 16384);
  EXPECT_EQ(open.GetText(), L"[Error] : Cann't open file, /no/such.");
  EXPECT_EQ(CIniFileError(20481, L"t", L"f").GetCode(), 20481);
  CError base = CBufferSizeError("X", 1, 2);
  EXPECT_EQ(base.GetCode(), 45056);
  EXPECT_STREQ(base.what(), base.GetText().c_str());
}
