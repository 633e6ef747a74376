#include "framework/graphics/DXRBlendRoutines.h"

void TDXRBlendRoutines::Keep(TDXRMachine& M, const DXRBlendParams& Params, const DXRSurface& Dest,
                             const DXRSurface& Src) {
  Held = -1;
  if (!On || !M.Compiled || !M.Plan.Kernel.Chosen || M.NodeCount > 3) return;
  // The routine unused longest makes room.
  Routine* r = &Kept[0];
  for (Routine& k : Kept)
    if (!k.Valid || k.LastUse < r->LastUse) {
      r = &k;
      if (!k.Valid) break;
    }
  const DXRKernel& kernel = M.Plan.Kernel;
  r->Valid = true;
  r->Recheck = !M.Plan.Presets.empty() || kernel.Fractions[0] || kernel.Fractions[1];
  r->LastUse = ++Clock;
  r->Params = Params;
  r->Dest.Take(Dest);
  r->Src.Take(Src);
  r->MMXUsed = M.MMXUsed;
  r->NodeCount = M.NodeCount;
  for (int i = 0; i < M.NodeCount; ++i) r->Nodes[i] = M.Nodes[i];
  r->TemporaryCount = M.TemporaryCount;
  r->MachineDest = M.Dest;
  r->Stage = M.TextureStages[0];
  r->UsedStageCount = M.UsedStageCount;
  r->Plan = M.Plan;
  Held = static_cast<int>(r - Kept);
  HeldSetUps = M.SetUps;
}

bool TDXRBlendRoutines::TakeKept(TDXRMachine& M, const DXRBlendParams& Params,
                                 const DXRSurface& Dest, const DXRSurface& Src) {
  for (Routine& r : Kept) {
    if (!r.Matches(Params, Dest, Src)) continue;
    // Unless the machine holds a kept routine, it may have been set up for anything: start from
    // what Reset leaves. Between kept routines only what is copied below differs.
    if (Held < 0 || HeldSetUps != M.SetUps) M.Reset();
    M.Compiled = true;
    M.MMXUsed = r.MMXUsed;
    M.NodeCount = r.NodeCount;
    for (int i = 0; i < r.NodeCount; ++i) M.Nodes[i] = r.Nodes[i];
    M.TemporaryCount = r.TemporaryCount;
    M.Dest = r.MachineDest;
    M.TextureStages[0] = r.Stage;
    M.UsedStages[0] = 0;
    M.UsedStageCount = r.UsedStageCount;
    M.Plan = r.Plan;
    Held = static_cast<int>(&r - Kept);
    HeldSetUps = M.SetUps;
    if (!Ready(M, r)) {
      Held = -1;
      return false;
    }
    r.LastUse = ++Clock;
    ++Restores;
    return true;
  }
  return false;
}

void TDXRBlendRoutines::Forget() {
  for (Routine& r : Kept) r.Valid = false;
  Held = -1;
}
