#include "framework/graphics/DXRTables.h"

#include <cmath>
#include <cstdint>
#include <numbers>

#include "framework/graphics/DXRBlit.h"
#include "platform/rtl/SysUtils.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

BYTE DXRUpperClampTable[512];
BYTE DXRLowerClampTable[511];

const BYTE DXRDitherTable[4][4] = {
    {0, 0, 0, 0},
    {1, 0, 0, 0},
    {1, 0, 0, 1},
    {1, 1, 1, 0},
};

namespace {

bool HasMMX = false;
bool UseMMX = false;
double CosTable[256];
int InitCount = 0;

void SetUseMMX(bool On) {
  if (UseMMX != On) DXRNoteSwitchChange();
  UseMMX = On;
}

}  // namespace

std::uint32_t DXRSwitchChanges = 0;
void DXRNoteSwitchChange() { ++DXRSwitchChanges; }

void DetectCPUFeatures() {
  HasMMX = false;
#if defined(__i386__) || defined(__x86_64__)
  // No CPUID, or no leaf 1 to ask: no MMX. Otherwise bit 23 of leaf 1's feature flags.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) >= 1 && __get_cpuid(1, &a, &b, &c, &d))
    HasMMX = (d & (1u << 23)) != 0;
#endif
  SetUseMMX(HasMMX);
}

void DXRSetOption(int Option, int Value) {
  if (Option == 1) SetUseMMX(Value != 0 && HasMMX);
}

bool DXRUseMMX() { return UseMMX; }
bool DXRProcessorHasMMX() { return HasMMX; }

void DXRBuildTables() {
  for (int i = 0; i < 512; ++i) DXRUpperClampTable[i] = static_cast<BYTE>(i < 255 ? i : 255);
  for (int i = -255; i <= 255; ++i) DXRLowerClampTable[i + 255] = static_cast<BYTE>(i > 0 ? i : 0);
}

void DXRBuildCosTable() {
  // In extended precision, so that the quarter turns come out as the tiny non-zero cosines of
  // an extended-precision pi rather than of a double one.
  const long double pi = std::numbers::pi_v<long double>;
  for (int i = 0; i < 256; ++i)
    CosTable[i] = static_cast<double>(std::cos(2.0L * pi * static_cast<long double>(i) / 256.0L));
}

double Cos256(BYTE Angle) { return CosTable[Angle]; }
double Sin256(BYTE Angle) { return Cos256(static_cast<BYTE>((Angle + 192) & 255)); }

int MulDiv64(int A, int B, int C) {
  if (C == 0) throw EDivByZero("Division by zero");
  const std::int64_t q = static_cast<std::int64_t>(A) * B / C;
  return static_cast<int>(static_cast<std::uint32_t>(q));
}

void DXRenderInitialize() {
  if (InitCount++ != 0) return;
  DetectCPUFeatures();
  DXRBuildTables();
  DXRBuildCosTable();
  DXRSetOption(1, 1);
}

void DXRenderFinalize() {
  if (InitCount == 0 || --InitCount != 0) return;
  DXRFreeDefaultMachine();
}

namespace {

// The unit's own start-up and shut-down.
struct DXRenderUnit {
  DXRenderUnit() { DXRenderInitialize(); }
  ~DXRenderUnit() { DXRenderFinalize(); }
} TheDXRenderUnit;

}  // namespace
