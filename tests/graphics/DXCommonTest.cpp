#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXConsts.h"
#include "platform/rtl/SysUtils.h"

TEST(RectsOverlap, HalfOpenTouchingAndEmpty) {
  EXPECT_FALSE(RectsOverlap(Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)));  // touching side by side
  EXPECT_FALSE(RectsOverlap(Rect(0, 0, 10, 10), Rect(0, 10, 10, 20)));  // touching above/below
  EXPECT_TRUE(RectsOverlap(Rect(0, 0, 10, 10), Rect(9, 9, 20, 20)));    // one shared pixel
  EXPECT_TRUE(RectsOverlap(Rect(9, 9, 20, 20), Rect(0, 0, 10, 10)));
  EXPECT_TRUE(RectsOverlap(Rect(0, 0, 10, 10), Rect(2, 2, 3, 3)));  // inside
  EXPECT_TRUE(RectsOverlap(Rect(-5, -5, 1, 1), Rect(0, 0, 10, 10)));
  EXPECT_FALSE(RectsOverlap(Rect(0, 0, 10, 10), Rect(20, 20, 30, 30)));
  // Empty rectangles overlap nothing, even lying inside another.
  EXPECT_FALSE(RectsOverlap(Rect(0, 0, 10, 10), Rect(5, 2, 5, 8)));  // zero width inside
  EXPECT_FALSE(RectsOverlap(Rect(5, 2, 5, 8), Rect(0, 0, 10, 10)));
  EXPECT_FALSE(RectsOverlap(Rect(0, 0, 10, 10), Rect(2, 5, 8, 5)));  // zero height inside
  EXPECT_FALSE(RectsOverlap(Rect(5, 5, 5, 5), Rect(5, 5, 5, 5)));
  EXPECT_FALSE(RectsOverlap(Rect(8, 8, 2, 2), Rect(0, 0, 10, 10)));  // inverted
  EXPECT_FALSE(RectsOverlap(Bounds(0, 0, 0, 10), Bounds(0, 0, 10, 10)));
}

TEST(DXCommon, IntMaxIntMinAndColourPacking) {
  EXPECT_EQ(IntMax(3, 7), 7);
  EXPECT_EQ(IntMax(-3, -7), -3);
  EXPECT_EQ(IntMin(3, 7), 3);
  EXPECT_EQ(IntMin(INT32_MIN, 0), INT32_MIN);
  EXPECT_EQ(MakeRGBA(0x12, 0x34, 0x56, 0x78), 0x78123456u);
  EXPECT_EQ(MakeRGBA(255, 255, 255, 255), 0xFFFFFFFFu);
  EXPECT_EQ(MakeRGB(0x12, 0x34, 0x56), 0x00123456u);
  EXPECT_EQ(MakeRGBFloat(1.0f, 0.0f, 0.5f), 0xFFFF0080u);  // 127.5 goes to the even 128
  EXPECT_EQ(MakeRGBFloat(0.0f, 0.498f, 0.502f), 0xFF007F80u);
  EXPECT_THROW(MakeRGBFloat(std::nanf(""), 0, 0), EInvalidOp);
  EXPECT_THROW(MakeRGBFloat(0, 1e30f, 0), EInvalidOp);
  MaskFPUExceptions();  // harmless, and nothing traps afterwards
  volatile double zero = 0.0;
  EXPECT_TRUE(std::isinf(1.0 / zero));
}

TEST(DXConsts, TableHoldsEveryTextUnderItsId) {
  EXPECT_EQ(DXConstCount, 32);
  EXPECT_STREQ(DXConstText(65296), "Bitcount in invalid (%d)");
  EXPECT_STREQ(DXConstText(65318), "%s is not loaded");
  EXPECT_STREQ(DXConstText(65321), "Index of the list exceeds the range. (%d)");
  EXPECT_STREQ(DXConstText(65326), "Display mode cannot be changed (%dx%d %dbit)");
  EXPECT_STREQ(DXConstText(65337), "Direct3D RetainedMode");
  EXPECT_STREQ(DXConstText(65343), "Primary Buffer");
  EXPECT_EQ(DXConstText(65304), nullptr);
  // Ids ascend and are unique; every text formats with its own placeholders.
  for (int i = 1; i < DXConstCount; ++i) EXPECT_LT(DXConstTable[i - 1].Id, DXConstTable[i].Id);
  EXPECT_EQ(Format(SCannotInitialized, {SDirectSound}), "DirectSound cannot be initialized");
  EXPECT_EQ(Format(SDisplayModeChange, {640, 480, 8}),
            "Display mode cannot be changed (640x480 8bit)");
}
