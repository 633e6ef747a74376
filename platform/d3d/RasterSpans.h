// The span drawer: triangles walked row by row between their edges, texture coordinates in
// fixed point stepped by addition, texels from a copy of the sampled part of the texture made
// ready once per drawing (addressing done, every texel a 32-bit ARGB word, a border for the
// bilinear filter), and one span routine per combination of target format, filter, colour key,
// blend and vertex colour, chosen once per drawing.
//
// It draws the bits the per-pixel drawer draws: pixels are owned by the same edge tests (found
// per row, not per pixel), point sampling picks the same texels (a fixed-point coordinate too
// near a texel edge to be sure is settled by the per-pixel formula), and the stage and blend
// arithmetic is the same integer arithmetic. Bilinear filtering weighs texels in fixed point,
// within 1 per channel of the exact weights.
#pragma once

#include "platform/d3d/RasterCommon.h"
#include "platform/d3d/Rasterizer.h"

namespace d3d::raster {

// Draws the triangles by spans and returns true, or returns false having drawn nothing when
// the drawing needs the per-pixel drawer: perspective, vertex colours that differ, stage
// arguments that mix channels, blend factors other than copy, add, subtract (by the source
// colour) and alpha, target formats other than 32-bit and 16-bit RGB, no texture, or texture
// coordinates spanning too much.
bool DrawSpans(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
               const Vertex* Vertices, DWORD Count, ddraw::Surface* Texture);

// This thread's counts, which DrawSpans and its caller keep.
SpanDrawerCounts& SpanCounts();

}  // namespace d3d::raster
