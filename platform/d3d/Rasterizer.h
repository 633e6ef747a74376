// The software device's rasteriser: transformed vertices (pixel coordinates with rhw) drawn as
// triangle lists, strips and fans into the render target, textured from stage 0 with point or
// bilinear filtering, modulated by the vertex colour, colour keyed, and blended into what is
// there with the device's blend factors.
//
// Pixel centres lie on whole coordinates and a pixel is drawn when its centre lies inside the
// triangle or on a top or left edge, so two triangles sharing an edge never draw a pixel twice.
// Texel centres lie halfway between whole texel coordinates.
#pragma once

#include <array>
#include <cstdint>

#include "platform/d3d/D3D.h"

namespace ddraw {
class Surface;
}

namespace d3d {

// The device states a drawing reads.
struct RasterStates {
  const std::array<DWORD, kD3DRenderStateCount>* Render = nullptr;
  const std::array<DWORD, kD3DTextureStageStateCount>* Stage0 = nullptr;
  ddraw::Surface* Texture = nullptr;  // stage 0; nullptr draws the vertex colours alone
};

// How a drawing is done: by spans where the states allow it (the same bits as pixel by pixel
// with point sampling; bilinear filtering to within 1 per channel), or pixel by pixel only.
enum class RasterPath { Fastest, PerPixel };

// Draws into Target, which the caller has checked is usable. DDERR_INVALIDPARAMS for a vertex
// format without pixel coordinates or too few vertices for one primitive,
// D3DERR_INVALIDPRIMITIVETYPE for points and lines (which nothing here draws), DDERR_SURFACELOST
// when the texture is lost.
HRESULT Rasterize(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
                  DWORD VertexFormat, const void* Vertices, DWORD VertexCount,
                  RasterPath Path = RasterPath::Fastest);

// What the span drawer has done on the calling thread since it started: the drawings it drew,
// those it declined (drawn pixel by pixel instead), and the triangles of drawings it drew that
// it still left to the per-pixel drawer. Tests read it to know which path a drawing took, since
// both paths leave the same bytes.
struct SpanDrawerCounts {
  std::uint64_t Taken = 0, Declined = 0, TrianglesLeft = 0;
};
SpanDrawerCounts SpanDrawerCountsSoFar();

}  // namespace d3d
