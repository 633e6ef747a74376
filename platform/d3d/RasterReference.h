// The per-pixel drawer: every pixel of a triangle's bounding box tested against its edges, its
// texture coordinates and colour interpolated in double precision, every texel fetched through
// the texture's own format. It draws whatever the span drawer does not (perspective, Gouraud
// shading, unusual stage operations and formats) and is the measure the span drawer is held to.
#pragma once

#include "platform/d3d/RasterCommon.h"
#include "platform/d3d/Rasterizer.h"

namespace d3d::raster {

// Texture is stage 0's texture when it can be sampled (the vertices carry coordinates, it has
// pixels and is no depth buffer), else nullptr.
void DrawPerPixel(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
                  const Vertex* Vertices, DWORD Count, ddraw::Surface* Texture);

}  // namespace d3d::raster
