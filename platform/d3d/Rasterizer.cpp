#include "platform/d3d/Rasterizer.h"

#include <vector>

#include "platform/d3d/RasterReference.h"
#include "platform/d3d/RasterSpans.h"
#include "platform/ddraw/DDrawObjects.h"

namespace d3d {

HRESULT Rasterize(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
                  DWORD VertexFormat, const void* Vertices, DWORD VertexCount, RasterPath Path) {
  if ((VertexFormat & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW) return DDERR_INVALIDPARAMS;
  if (Type != D3DPT_TRIANGLELIST && Type != D3DPT_TRIANGLESTRIP && Type != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDPRIMITIVETYPE;
  if (!Vertices || VertexCount < 3) return DDERR_INVALIDPARAMS;
  const ddraw::PixelFormat& target = Target.Format();
  if (target.IsIndexed() || target.IsDepth() || target.BytesPerPixel() == 0)
    return DDERR_INVALIDPIXELFORMAT;

  // Where each part of a vertex lies.
  std::size_t offset = 16;  // x, y, z, rhw
  if (VertexFormat & D3DFVF_NORMAL) offset += 12;
  if (VertexFormat & D3DFVF_RESERVED1) offset += 4;
  const std::size_t diffuseAt = offset;
  if (VertexFormat & D3DFVF_DIFFUSE) offset += 4;
  if (VertexFormat & D3DFVF_SPECULAR) offset += 4;
  const std::size_t texAt = offset;
  const DWORD texSets = (VertexFormat & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  offset += 8 * texSets;
  const std::size_t stride = offset;

  // Decoded once for the whole call: strips and fans share their vertices between triangles.
  std::vector<raster::Vertex> vertices(VertexCount);
  const auto* bytes = static_cast<const std::uint8_t*>(Vertices);
  for (DWORD i = 0; i < VertexCount; ++i) {
    const std::uint8_t* p = bytes + i * stride;
    float xyzw[4];
    std::memcpy(xyzw, p, sizeof xyzw);
    raster::Vertex& v = vertices[i];
    v.X = xyzw[0];
    v.Y = xyzw[1];
    v.Rhw = xyzw[3];
    if (VertexFormat & D3DFVF_DIFFUSE) std::memcpy(&v.Diffuse, p + diffuseAt, 4);
    if (texSets > 0) {
      float uv[2];
      std::memcpy(uv, p + texAt, sizeof uv);
      v.U = uv[0];
      v.V = uv[1];
    }
  }

  ddraw::Surface* texture = States.Texture;
  if (texture && texture->IsLostNow()) return DDERR_SURFACELOST;
  if (!(texture && texSets > 0 && texture->Width() > 0 && texture->Height() > 0 &&
        !texture->Format().IsDepth()))
    texture = nullptr;
  if (Path == RasterPath::Fastest) {
    if (raster::DrawSpans(Target, States, Type, vertices.data(), VertexCount, texture)) {
      ++raster::SpanCounts().Taken;
      return D3D_OK;
    }
    ++raster::SpanCounts().Declined;
  }
  raster::DrawPerPixel(Target, States, Type, vertices.data(), VertexCount, texture);
  return D3D_OK;
}

SpanDrawerCounts SpanDrawerCountsSoFar() { return raster::SpanCounts(); }

}  // namespace d3d
