// The software blending renderer: draws a source rectangle onto a surface scaled, rotated,
// blended by alpha, added or subtracted, with or without a colour key. A tree of pixel
// operations is built per drawing call, simplified, compiled into a per-pixel plan and run once
// per destination row; the blit layer keeps its last few routines and runs one again when a call
// has the same set-up.
#pragma once

#include "framework/graphics/DXRBlendOps.h"
#include "framework/graphics/DXRBlendRoutines.h"
#include "framework/graphics/DXRBlit.h"
#include "framework/graphics/DXRMachine.h"
#include "framework/graphics/DXRPlan.h"
#include "framework/graphics/DXRSurface.h"
#include "framework/graphics/DXRTables.h"
#include "framework/graphics/DXRTree.h"
