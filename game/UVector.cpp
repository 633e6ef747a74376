#include "game/UVector.h"

#include <cmath>

TVector MakeVector(double X, double Y) { return TVector{X, Y}; }

// The squares and their sum are kept in extended precision so that long and short components
// keep their digits; only the root is narrowed.
double VectorLength(const TVector& V) {
  const long double x = V.X;
  const long double y = V.Y;
  return static_cast<double>(std::sqrt(x * x + y * y));
}

// Multiplies by the reciprocal (narrowed to a double) rather than dividing, so that results match
// the game's recorded behaviour bit for bit.
TVector NormalizeVector(const TVector& V) {
  const double L = VectorLength(V);
  const double S = L > 0 ? static_cast<double>(1.0L / L) : L;
  return TVector{V.X * S, V.Y * S};
}

TVector ScaleVector(const TVector& V, double S) { return TVector{V.X * S, V.Y * S}; }

void SetVectorLength(TVector& V, double L) { V = ScaleVector(NormalizeVector(V), L); }
