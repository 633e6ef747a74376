#include <gtest/gtest.h>

#include <cmath>

#include "game/UVector.h"

TEST(Vector, LengthAndNormaliseOfOrdinaryAndZeroVectors) {
  EXPECT_EQ(VectorLength(MakeVector(3, 4)), 5.0);
  EXPECT_EQ(VectorLength(MakeVector(0, 0)), 0.0);
  const TVector n = NormalizeVector(MakeVector(3, 4));
  EXPECT_DOUBLE_EQ(n.X, 0.6);
  EXPECT_DOUBLE_EQ(n.Y, 0.8);
  const TVector z = NormalizeVector(MakeVector(0, 0));
  EXPECT_EQ(z.X, 0.0);
  EXPECT_EQ(z.Y, 0.0);
  const TVector left = NormalizeVector(MakeVector(-10, 0));
  EXPECT_EQ(left.X, -1.0);
  EXPECT_EQ(left.Y, 0.0);
}

TEST(Vector, LengthKeepsPrecisionWhereDoublesWouldOverflow) {
  // 1e200 squared leaves the double range but not the extended one.
  EXPECT_DOUBLE_EQ(VectorLength(MakeVector(3e200, 4e200)), 5e200);
}

TEST(Vector, SetLengthKeepsZeroAndScalesDiagonals) {
  TVector v = MakeVector(0, 0);
  SetVectorLength(v, 36);
  EXPECT_EQ(v.X, 0.0);
  EXPECT_EQ(v.Y, 0.0);
  v = MakeVector(1, 1);
  SetVectorLength(v, 36);
  EXPECT_NEAR(v.X, 36 / std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(v.Y, 25.456, 1e-3);
  v = MakeVector(2, 0);
  SetVectorLength(v, -3);
  EXPECT_EQ(v.X, -3.0);
}

TEST(Vector, ScaleByZeroAndMinusOne) {
  const TVector z = ScaleVector(MakeVector(5, -7), 0);
  EXPECT_EQ(z.X, 0.0);
  EXPECT_EQ(std::fabs(z.Y), 0.0);
  const TVector m = ScaleVector(MakeVector(5, -7), -1);
  EXPECT_EQ(m.X, -5.0);
  EXPECT_EQ(m.Y, 7.0);
}
