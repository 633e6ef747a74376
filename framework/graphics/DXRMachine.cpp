#include "framework/graphics/DXRMachine.h"

#include "framework/graphics/DXRTree.h"
#include "platform/rtl/SysUtils.h"

void TDXRMachine::Reset() {
  ++SetUps;
  Compiled = false;
  MMXUsed = false;
  NodeCount = 0;
  Dest = nullptr;
  for (DXRColorSlot& s : ColorSlots) s = DXRColorSlot{};
  for (DXRTextureStage& t : TextureStages) t = DXRTextureStage{};
  UsedSlotCount = 0;
  UsedStageCount = 0;
  Dither = false;
  ZBuffer = nullptr;
  ZCompare = 0;
  ZWrite = 0;
  ZActive = false;
  LoopDither = false;
  LoopZ = false;
  DepthValue = 0;
  DepthStep = 0;
  X = 0;
  Y = 0;
  Plan.Clear();
}

DXRNode* TDXRMachine::AddNode() {
  if (NodeCount >= MaxNodes) throw ERangeError("Renderer node pool is full");
  DXRNode* n = &Nodes[NodeCount++];
  *n = DXRNode{};
  return n;
}

DXRNode* TDXRMachine::AddKindNode(BYTE Kind) {
  DXRNode* n = AddNode();
  n->Kind = Kind;
  return n;
}

DXRNode* TDXRMachine::AddTextureNode(int Stage) {
  if (Stage < 0 || Stage >= MaxStages) throw ERangeError("Texture stage out of range");
  DXRNode* n = AddKindNode(DXR_NODE_TEXTURE);
  n->Value = static_cast<DWORD>(Stage);
  return n;
}

DXRNode* TDXRMachine::AddBlendNode(DXRBlendOp Op, DXRNode* Left, DXRNode* Right) {
  DXRNode* n = AddKindNode(DXR_NODE_BLEND);
  n->Value = Op;
  n->Left = Left;
  n->Right = Right;
  return n;
}

DXRChannelGroup* TDXRMachine::AllocTemp() {
  if (TemporaryCount >= MaxTemporaries) throw ERangeError("Renderer temporaries are used up");
  return &Temporaries[TemporaryCount++];
}

void TDXRMachine::Compile(DXRNode* Root) {
  ++SetUps;
  Compiled = false;
  if (!Root || !Dest) {
    Plan.Clear();
    return;
  }
  // The emitter clears the plan first; a compile that fails on the way clears it here.
  try {
    Root->ChannelMask = DXRSurfaceChannels(*Dest);
    DXRSimplifyTree(Root);
    DXRMarkUsage(*this, Root);
    UsedSlotCount = 0;
    for (int i = 0; i < MaxSlots; ++i)
      if (ColorSlots[i].Used) UsedSlots[UsedSlotCount++] = i;
    UsedStageCount = 0;
    for (int i = 0; i < MaxStages; ++i)
      if (TextureStages[i].Used) UsedStages[UsedStageCount++] = i;
    ZActive = ZBuffer != nullptr;
    LoopDither = Dither;
    LoopZ = ZActive;
    DXREmitRoutine(*this, Root);
  } catch (...) {
    Plan.Clear();
    throw;
  }
  Compiled = true;
}

void TDXRMachine::Run(int Count) {
  if (Count < 1 || !Compiled) return;
  DXRRunRoutine(*this, Count);
}
