// The renderer's tree before it is compiled: which channels each operation reads from its
// operands, the simplifier that drops work that cannot change the result, and the pass that
// marks the colour slots and texture stages the tree reads.
#pragma once

#include "framework/graphics/DXRMachine.h"

// The masks of a blend's operands for a node mask M: left (M and LeftAnd) or LeftOr, right
// (M and RightAnd) or RightOr. Operations above 16 read nothing.
struct DXROperandMasks {
  BYTE LeftAnd, LeftOr, RightAnd, RightOr;
};
DXROperandMasks DXROperandChannels(DXRBlendOp Op);

// Simplifies the tree under Node, which it may replace by another node.
void DXRSimplifyTree(DXRNode*& Node);
// Marks the colour slots and texture stages read by the simplified tree under Node.
void DXRMarkUsage(TDXRMachine& M, DXRNode* Node);
