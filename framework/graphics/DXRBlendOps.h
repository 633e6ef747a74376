// The renderer's blend operations, in the two arithmetic forms a routine can be compiled with:
// the byte form, channel by channel on the high bytes with clamp tables, and the word form of
// the processor's packed-word instructions, all four words at once. The forms may differ by
// one in a result; both are kept exactly, since routines compiled either way must agree with
// what was drawn before.
#pragma once

#include "framework/graphics/DXRMachine.h"

// Computes operation Op of the left and right groups into D for the channels of Mask (the word
// form ignores the mask where its instructions do). Nothing happens for an empty mask or an
// operation above 16. WordForm only matters for the operations that have a word form.
void DXRComputeBlendOp(DXRBlendOp Op, bool WordForm, DXRChannelGroup& D, const DXRChannelGroup& L,
                       const DXRChannelGroup& R, BYTE Mask);

// Whether Op has a word form (the byte form serves every processor for the others).
bool DXRBlendOpHasWordForm(DXRBlendOp Op);

// Appends the step computing one blend node into Result. Left or Right may be null (an operand
// the operation does not read). Emits nothing for an empty mask or an operation above 16.
// Returns true when the word form was emitted.
bool DXREmitBlendOp(TDXRPlan& Plan, DXRBlendOp Op, DXRChannelGroup* Result,
                    const DXRChannelGroup* Left, const DXRChannelGroup* Right, BYTE Mask,
                    bool UseMMX);
