// SPDX-License-Identifier: MIT
#include "sdsmart/bulk.h"
#include "sdsmart/endian.h"
#include "sdsmart/error.h"
#include "sdsmart/sdsmart.h"

#include <gtest/gtest.h>

TEST(CErrorTest, CodesAndComposedTexts) {
  EXPECT_EQ(CError().GetCode(), SDSMART_E_UNCODED);
  EXPECT_EQ(CError(L"x").GetCode(), SDSMART_E_UNCODED);
  EXPECT_EQ(CError(0xFFFFFFFFu, L"x").GetCode(), 0xFFFFFFFFll); // widened without sign
  EXPECT_EQ(CArrayIndexError("f", 3, 9, 4).GetText(),
            L"[Error] : Access index 9 exceeds array size 4 at f, Line = 3");
  // (A buffer size error's code and text: interface.SessionTest.Boundary*.)
  const CError base = CBufferSizeError("X", 1, 2);
  EXPECT_STREQ(base.what(), base.GetText().c_str());
}
