#include "framework/graphics/DXRTree.h"

#include "platform/rtl/SysUtils.h"

namespace {

constexpr DXROperandMasks kOperandMasks[DXR_BLEND_LAST + 1] = {
    {0, 0, 0, 0},    // zero
    {15, 0, 0, 0},   // left
    {0, 0, 15, 0},   // right
    {15, 0, 15, 0},  // add
    {15, 0, 15, 0},  // left minus right
    {15, 0, 15, 0},  // right minus left
    {15, 0, 15, 0},  // multiply
    {7, 8, 0, 0},    // left scaled by its alpha
    {7, 8, 15, 0},   // add alpha-scaled left
    {7, 8, 15, 0},   // subtract alpha-scaled left
    {7, 8, 15, 0},   // alpha blend
    {7, 8, 15, 0},   // alpha blend, weights exchanged
    {15, 0, 0, 0},   // left
    {7, 0, 0, 8},    // colour of left, alpha of right
    {15, 0, 15, 0},  // multiply colour, alpha of left
    {7, 8, 7, 8},    // multiply
    {15, 0, 15, 0},  // add colour, alpha of right
};

DXRBlendOp OpOf(const DXRNode* N) { return static_cast<DXRBlendOp>(N->Value & 127); }

// Replaces Node by Operand, which then serves the node's readers.
void ReplaceBy(DXRNode*& Node, DXRNode* Operand) {
  Operand->ChannelMask = Node->ChannelMask;
  Node = Operand;
}

}  // namespace

DXROperandMasks DXROperandChannels(DXRBlendOp Op) {
  Op &= 127;
  return Op <= DXR_BLEND_LAST ? kOperandMasks[Op] : DXROperandMasks{0, 0, 0, 0};
}

void DXRSimplifyTree(DXRNode*& Node) {
  if (!Node || Node->Kind != DXR_NODE_BLEND || !Node->Left || !Node->Right) return;
  const DXRBlendOp op = OpOf(Node);
  const DXROperandMasks m = DXROperandChannels(op);
  const BYTE mask = Node->ChannelMask;
  Node->Left->ChannelMask = static_cast<BYTE>((mask & m.LeftAnd) | m.LeftOr);
  Node->Right->ChannelMask = static_cast<BYTE>((mask & m.RightAnd) | m.RightOr);
  DXRSimplifyTree(Node->Left);
  DXRSimplifyTree(Node->Right);

  switch (op) {
    case DXR_BLEND_ZERO:
      Node->Kind = DXR_NODE_NONE;
      return;
    case DXR_BLEND_LEFT:
    case DXR_BLEND_LEFT2:
      ReplaceBy(Node, Node->Left);
      return;
    case DXR_BLEND_RIGHT:
      ReplaceBy(Node, Node->Right);
      return;
    case DXR_BLEND_ADD:
      if (Node->Right->Kind == DXR_NODE_NONE) return ReplaceBy(Node, Node->Left);
      if (Node->Left->Kind == DXR_NODE_NONE) return ReplaceBy(Node, Node->Right);
      return;
    case DXR_BLEND_REVSUB:
      // Right minus nothing is nothing (every channel clamps to zero), not the left operand.
      if (Node->Right->Kind == DXR_NODE_NONE) {
        Node->Kind = DXR_NODE_NONE;
        return;
      }
      if (Node->Left->Kind == DXR_NODE_NONE) return ReplaceBy(Node, Node->Right);
      return;
    default:
      // Operands the operation never reads are dropped.
      if (m.LeftAnd == 0 && m.LeftOr == 0) Node->Left = nullptr;
      if (m.RightAnd == 0 && m.RightOr == 0) Node->Right = nullptr;
      return;
  }
}

void DXRMarkUsage(TDXRMachine& M, DXRNode* Node) {
  if (!Node) return;
  switch (Node->Kind) {
    case DXR_NODE_COLORSLOT: {
      if (Node->Value >= TDXRMachine::MaxSlots) throw ERangeError("Colour slot out of range");
      DXRColorSlot& s = M.ColorSlots[Node->Value];
      s.Channels |= Node->ChannelMask;
      if (s.Channels) s.Used = 1;
      return;
    }
    case DXR_NODE_TEXTURE:
    case DXR_NODE_TEXTUREPAIR: {
      if (Node->Value >= TDXRMachine::MaxStages ||
          (Node->Kind == DXR_NODE_TEXTUREPAIR && Node->SecondStage >= TDXRMachine::MaxStages))
        throw ERangeError("Texture stage out of range");
      DXRTextureStage& s = M.TextureStages[Node->Value];
      if (!s.Surface) throw ERangeError("Texture stage without a surface");
      s.Channels |= DXRSurfaceChannels(*s.Surface) & Node->ChannelMask;
      if (s.Channels) s.Used = 1;
      if (Node->Kind == DXR_NODE_TEXTUREPAIR) {
        DXRTextureStage& b = M.TextureStages[Node->SecondStage];
        if (!b.Surface) throw ERangeError("Texture stage without a surface");
        b.Used = 1;
      }
      return;
    }
    case DXR_NODE_BLEND:
      DXRMarkUsage(M, Node->Left);
      DXRMarkUsage(M, Node->Right);
      return;
    default:
      return;
  }
}
