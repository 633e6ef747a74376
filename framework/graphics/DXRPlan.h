// The compiled form of a renderer tree: a plan of small steps, each a precompiled procedure with
// the addresses and constants of one compile built into its record, run once per pixel by a
// fixed loop. What each step computes is what the corresponding piece of generated code would;
// the loop gives the pixel order, the skips and the state a run leaves behind.
#pragma once

#include <cstddef>
#include <vector>

#include "framework/graphics/DXRKernel.h"
#include "framework/graphics/DXRSurface.h"

class TDXRMachine;
struct DXRColorSlot;
struct DXRNode;
struct DXRTextureStage;

// The working values of one run, shared by every step.
struct DXRRunState {
  TDXRMachine* Machine = nullptr;
  BYTE* DestPtr = nullptr;   // the current destination pixel
  BYTE* DepthPtr = nullptr;  // the current depth pixel, with a depth surface
  DWORD Pixel = 0;           // the raw texel or the packed value of the current pixel
};

struct DXRStep;
// One step; false skips the rest of the pixel (a colour key matched), so nothing is written.
using DXRStepProc = bool (*)(const DXRStep& Step, DXRRunState& State);

// A stage's surface as a fetch reads it, taken when the routine is compiled.
struct DXRFetch {
  const BYTE* Bits = nullptr;
  std::ptrdiff_t Pitch = 0;
  DWORD WidthMask = 0, HeightMask = 0;
  DWORD Width = 0, Height = 0;
  DWORD BitCount = 0;
  // 0 wraps the coordinates with the masks, 1 takes them as they are, anything else fetches
  // nothing (the pixel value stays what it was).
  BYTE Mode = 0;
};

// Turning a raw pixel into channel words, taken when the routine is compiled.
struct DXRDecode {
  BYTE ColorType = 0;
  BYTE Mask = 0;             // channels to write
  bool DirectIndex = false;  // the raw pixel is the palette index as it is
  DXRChannel Channels[4];
  const BYTE (*Palette)[4] = nullptr;
  DXRChannelGroup Defaults;  // the words of the channels the surface lacks
  // RGB, per word k: E = ((pixel and Bits[k]) shr Right[k] shl Left[k]) and $FF, then
  // W[k] = (W[k] and Keep[k]) or ((E shl 8) and Take[k]) or Fill[k]. A present channel keeps
  // its fraction and takes E as its high byte, a missing one becomes its default word, a word
  // outside the mask stays as it is.
  DWORD Bits[4] = {};
  BYTE Right[4] = {}, Left[4] = {};
  WORD Keep[4] = {}, Take[4] = {}, Fill[4] = {};
};

// The colour-key test: the texel is skipped when (texel and KeyMask) = ColorKey.
struct DXRKeyTest {
  bool Active = false;
  DWORD KeyMask = 0;
  DWORD ColorKey = 0;
};

struct DXRStep {
  DXRStepProc Proc = nullptr;
  DXRChannelGroup* Result = nullptr;
  const DXRChannelGroup* Left = nullptr;
  const DXRChannelGroup* Right = nullptr;
  DXRTextureStage* Stage = nullptr;   // the stage read (stage A of a two-stage read)
  DXRTextureStage* Stage2 = nullptr;  // the displacing stage B of a two-stage read
  DXRFetch Fetch;
  DXRFetch Fetch2;
  DXRDecode Decode;
  DXRKeyTest Key;
  BYTE Op = 0;
  BYTE Mask = 0;
};

// Packing a channel group into a destination pixel value.
struct DXRPack {
  DXRChannel Channels[4];
  BYTE Mask = 0;
  bool Dither = false;
  // Per word k: ((high byte shl Right[k]) shr Left[k]) and Bits[k], Bits[k] 0 outside the mask.
  DWORD Bits[4] = {};
  BYTE Right[4] = {}, Left[4] = {};
};

// How the routine makes each pixel's value.
enum class DXRRoutineKind : BYTE {
  None,   // nothing compiled
  Solid,  // one packed colour written to every pixel of a run
  Slot,   // a colour slot packed at every pixel
  Raw,    // the texel copied unconverted (same formats)
  Tree,   // the steps evaluated, then the root's group packed
};

struct DXRSlotAdvance {
  DXRColorSlot* Slot = nullptr;
  bool Words = false;  // each word wraps on its own; else R+G and B+A add as 32-bit pairs
};

struct DXRStageAdvance {
  DXRTextureStage* Stage = nullptr;
  bool FromStage = true;  // read the steps at every pixel; else the compile-time ones
  int StepU = 0, StepV = 0;
};

// Words of a temporary that the compile sets once and no step writes: the channels a texture
// lacks, read as the stage's defaults.
struct DXRPreset {
  DXRChannelGroup* Temp = nullptr;
  BYTE Mask = 0;
  DXRChannelGroup Words;
};

struct TDXRPlan {
  DXRRoutineKind Kind = DXRRoutineKind::None;
  std::vector<DXRStep> Steps;
  std::vector<DXRPreset> Presets;
  const DXRChannelGroup* Root = nullptr;  // the group packed per pixel (Slot, Tree, Solid)
  DXRPack Pack;

  BYTE* DestBits = nullptr;
  std::ptrdiff_t DestPitch = 0;
  DWORD DestBitCount = 0;

  bool DepthActive = false;
  BYTE* DepthBits = nullptr;
  std::ptrdiff_t DepthPitch = 0;
  DWORD DepthBitCount = 0;
  BYTE DepthCompare = 0;
  bool DepthWrite = false;

  bool AdvanceX = false;
  std::vector<DXRSlotAdvance> Slots;
  std::vector<DXRStageAdvance> Stages;
  bool AdvanceDepth = false;

  // The precompiled kernel standing in for the steps, when one matches.
  DXRKernel Kernel;

  // Forgets the routine; the lists keep their storage for the next compile.
  void Clear();
};

// Compiles the simplified, marked tree under Root into the machine's plan.
void DXREmitRoutine(TDXRMachine& M, DXRNode* Root);
// Runs the machine's plan for Count pixels from (X, Y) rightwards.
void DXRRunRoutine(TDXRMachine& M, int Count);
// Sets the preset words again, as a compile of the same tree would.
void DXRApplyPresets(const TDXRPlan& Plan);

// The pieces of a pixel, as the steps compute them.
// A channel's 8-bit value in the raw pixel P.
BYTE DXRExtractChannel(const DXRChannel& C, DWORD P);
// Packing of the channels of Mask into Dest's pixels, dithered by position when Dither.
DXRPack DXRMakePack(const DXRSurface& Dest, BYTE Mask, bool Dither);
// The pixel value of G.
DWORD DXRPackPixel(const DXRPack& Pack, const DXRChannelGroup& G, int X, int Y);
// Decoding of S's pixels into the channels of Mask, with Defaults for those S lacks.
DXRDecode DXRMakeDecode(const DXRSurface& S, const DXRChannelGroup& Defaults, BYTE Mask);
// The same, made in place (a step's own record).
void DXRFillDecode(DXRDecode& D, const DXRSurface& S, const DXRChannelGroup& Defaults, BYTE Mask);
// Decodes the raw pixel P into G.
void DXRDecodePixel(const DXRDecode& D, DWORD P, DXRChannelGroup& G);
// Reads the raw texel at the 16.16 coordinates (U, V); false when a plain fetch falls outside
// the surface (the pixel is then skipped rather than read from outside the picture).
bool DXRFetchTexel(const DXRFetch& F, DWORD U, DWORD V, DWORD& Pixel);
