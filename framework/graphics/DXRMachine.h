// The renderer's pixel-pipeline machine: a pool of tree nodes (colour slots, literal colours,
// texture reads, the destination pixel and blend operations), the colour slots and texture
// stages the tree reads, and the routine compiled from the tree, run once per span of pixels.
#pragma once

#include <cstdint>

#include "framework/graphics/DXRPlan.h"
#include "framework/graphics/DXRSurface.h"
#include "platform/rtl/Object.h"

// Node kinds.
constexpr BYTE DXR_NODE_NONE = 0, DXR_NODE_COLORSLOT = 1, DXR_NODE_LITERAL = 2,
               DXR_NODE_TEXTURE = 3, DXR_NODE_TEXTUREPAIR = 4, DXR_NODE_DEST = 5,
               DXR_NODE_BLEND = 6;

// Blend operations (the low byte of a blend node's Value, taken modulo 128).
using DXRBlendOp = BYTE;
constexpr DXRBlendOp DXR_BLEND_ZERO = 0,  // all zero
    DXR_BLEND_LEFT = 1,                   // the left operand
    DXR_BLEND_RIGHT = 2,                  // the right operand
    DXR_BLEND_ADD = 3,                    // left + right, saturated
    DXR_BLEND_SUB = 4,                    // left - right, at least 0
    DXR_BLEND_REVSUB = 5,                 // right - left, at least 0
    DXR_BLEND_MUL = 6,                    // left * right
    DXR_BLEND_ALPHASCALE = 7,             // left scaled by its own alpha
    DXR_BLEND_ALPHAADD = 8,               // right + alpha-scaled left
    DXR_BLEND_ALPHASUB = 9,               // right - alpha-scaled left
    DXR_BLEND_ALPHA = 10,                 // left over right by the left's alpha
    DXR_BLEND_INVALPHA = 11,              // the same with the weights exchanged
    DXR_BLEND_LEFT2 = 12,                 // the left operand
    DXR_BLEND_COLORLEFT_ALPHARIGHT = 13,  // colour of the left, alpha of the right
    DXR_BLEND_MULCOLOR_ALPHALEFT = 14,    // colours multiplied, alpha of the left
    DXR_BLEND_MUL2 = 15,                  // left * right
    DXR_BLEND_ADDCOLOR_ALPHARIGHT = 16;   // colours added, alpha of the right
constexpr DXRBlendOp DXR_BLEND_LAST = 16;

// One node of a tree.
struct DXRNode {
  BYTE Kind = DXR_NODE_NONE;
  BYTE ChannelMask = 0;  // the channels later steps read from this node
  // Colour slot number, texture stage number (texture read and pair), or the blend operation in
  // its low byte.
  DWORD Value = 0;
  DXRNode* Left = nullptr;  // blend operands
  DXRNode* Right = nullptr;
  DWORD SecondStage = 0;  // the displacing stage of a texture pair
  DXRChannelGroup Color;  // a literal's colour
};

struct DXRColorSlot {
  BYTE Used = 0;
  DXRChannelGroup Color;
  DXRChannelGroup Step;
  BYTE Gradient = 0;  // when set, Color moves by Step after every pixel
  BYTE Channels = 0;  // the channels the compiled tree reads from the slot
};

struct DXRTextureStage {
  BYTE Used = 0;
  DXRSurface* Surface = nullptr;
  int U = 0, V = 0;  // 16.16 source column and row of the current pixel
  int StepU = 0, StepV = 0;
  BYTE FixedSteps = 0;  // the steps are constants of the compiled routine
  BYTE Filter = 0;      // 0 and 2 nearest, 1 and 3 bilinear
  BYTE Transparent = 0;
  DWORD ColorKey = 0;        // raw pixel value of the source format
  BYTE Channels = 0;         // the channels the compiled tree reads from the surface
  BYTE NoWrap = 0;           // 0 wraps U and V into the surface, 1 takes them as they are
  DXRChannelGroup Defaults;  // every channel the surface lacks
};

class TDXRMachine : public TObject {
 public:
  static constexpr int MaxNodes = 128;
  static constexpr int MaxSlots = 8;
  static constexpr int MaxStages = 8;
  static constexpr int MaxTemporaries = 256;

  TDXRMachine() = default;
  ~TDXRMachine() override = default;

  // Forgets the tree, the routine, the surfaces, slots, stages, dithering, depth and position.
  // The temporaries keep their contents.
  void Reset();
  // The next node of the pool, all fields zero. Running out of nodes raises ERangeError.
  DXRNode* AddNode();
  DXRNode* AddKindNode(BYTE Kind);
  DXRNode* AddTextureNode(int Stage);
  DXRNode* AddBlendNode(DXRBlendOp Op, DXRNode* Left, DXRNode* Right);

  // Simplifies the tree under Root, marks what it reads, and compiles the routine.
  void Compile(DXRNode* Root);
  // Runs the routine for Count pixels from (X, Y) rightwards; nothing when Count < 1 or before
  // a compile.
  void Run(int Count);

  bool Compiled = false;
  // Counts every Reset and Compile. A caller that keeps a compiled routine between its own
  // calls runs it again only while the count is the one its compile left: nobody has set the
  // machine up for something else since.
  std::uint64_t SetUps = 0;
  // Set when a compile used the word arithmetic.
  bool MMXUsed = false;
  int NodeCount = 0;
  DXRNode Nodes[MaxNodes];

  // Temporaries, handed out in order from the first at every compile.
  DXRChannelGroup Temporaries[MaxTemporaries];
  int TemporaryCount = 0;
  DXRChannelGroup* AllocTemp();

  DXRSurface* Dest = nullptr;
  DXRColorSlot ColorSlots[MaxSlots];
  int UsedSlots[MaxSlots] = {};
  int UsedSlotCount = 0;
  DXRTextureStage TextureStages[MaxStages];
  int UsedStages[MaxStages] = {};
  int UsedStageCount = 0;

  bool Dither = false;
  // Depth test: the surface (none: no test), the compare condition (a jump condition code:
  // 0 none, 1 less, 2 equal, 3 less or equal, 4 greater, 5 not equal, 6 greater or equal,
  // 7 always) and whether passing pixels write their depth.
  DXRSurface* ZBuffer = nullptr;
  BYTE ZCompare = 0;
  BYTE ZWrite = 0;
  bool ZActive = false;

  // Destination column and row of the first pixel of the next run.
  int X = 0, Y = 0;
  // The loop's copies of Dither and of the depth test, taken at compile.
  bool LoopDither = false;
  bool LoopZ = false;
  // The depth of the current pixel is the upper 32 bits of DepthValue; it moves by DepthStep
  // after every pixel.
  long long DepthValue = 0;
  long long DepthStep = 0;

  // Scratch of the bilinear and two-stage reads.
  DXRChannelGroup BilinearScratch[4];
  int PairU = 0, PairV = 0;

  TDXRPlan Plan;
};
