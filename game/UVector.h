// Two-component vectors for velocities, dash directions and the kick of a note burst.
#pragma once

struct TVector {
  double X = 0;
  double Y = 0;
};

TVector MakeVector(double X, double Y);
double VectorLength(const TVector& V);
TVector NormalizeVector(const TVector& V);
TVector ScaleVector(const TVector& V, double S);
void SetVectorLength(TVector& V, double L);
