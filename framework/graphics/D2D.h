// The accelerated 2-D drawer of a display: draws pictures as textured quads with the display's
// Direct3D 7 device. Each picture becomes a texture, kept in a cache by name (TD2DTextures);
// each drawing is one quad, copied, added, subtracted or alpha blended, upright or rotated.
// Surface drawing on the display's drawing surface asks it first (IsActive) and hands the work
// over when it is active, and so does pattern drawing of the image list on a 3-D display.
//
// The drawer is enabled while its display's options ask for hardware 3-D with DirectX 7, and
// active when, besides, the drawing surface has 16 or 32 bits; enabling it sets the texture
// filters of the display's device.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d/D3D.h"
#include "platform/rtl/Object.h"
#include "platform/win/WinTypes.h"

class TCustomDXDraw;
class TDirect3DTexture2;
class TDirectDrawSurface;
class TPictureCollectionItem;

struct TD2DTextureEntry {
  TDirect3DTexture2* Texture = nullptr;  // owned by the cache
  // Where the picture (or the pattern drawn last) lies within the texture.
  double U0 = 0, V0 = 0, U1 = 0, V1 = 0;
  std::string Name;
};

// The drawer's textures. A picture of the image list is kept by its item's name, a surface by
// the decimal text of its address.
class TD2DTextures : public TObject {
 public:
  ~TD2DTextures() override;
  // The first entry whose name equals Name ignoring case, or -1.
  int Find(const std::string& Name) const;
  // Whether an entry has exactly this name.
  bool Has(const std::string& Name) const;
  int Count() const { return static_cast<int>(Entries.size()); }
  // Growing adds empty entries; shrinking frees the textures of the entries dropped.
  void SetCount(int Value);
  // Frees every texture and empties the cache.
  void Clear();

  std::vector<TD2DTextureEntry> Entries;
};

class TD2D : public TObject {
 public:
  // The most textures the cache holds; one more is added only after emptying it.
  static constexpr int MaxTextures = 2048;

  explicit TD2D(TCustomDXDraw* ADXDraw);
  ~TD2D() override;

  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  // The display's drawing surface, which this drawer draws on.
  TDirectDrawSurface* TargetSurface() const;
  // Whether drawing on the display's drawing surface comes here; asked by every Draw, so cheap.
  bool IsActive();
  // Whether drawing handed over here really gets drawn: active, and the display has its device.
  // Callers that can draw another way do so when this is false.
  bool CanDraw();
  // Turning it on (from off) starts an empty texture cache and sets the texture filter on the
  // device again; turning it off keeps the cache.
  void SetEnabled(bool Value);
  // Bilinear (true) or point filtering of stage 0 on the display's DirectX 7 device.
  void SetTextureFilter(bool Value);
  bool TextureFilter() const { return FTextureFilter; }
  // Points the display's DirectX 7 device at the drawing surface again; true on success, false
  // without a device.
  bool UpdateRenderTarget();

  // The texture cache (nullptr before the first enabling).
  TD2DTextures* Textures() const { return FTextures; }
  int TextureCount() const { return FTextures ? FTextures->Count() : 0; }
  // Only counts above 0 are taken.
  void SetTextureCount(int Value);
  void ClearTextures();
  // Empties the cache when it holds more than MaxTextures entries.
  void ClearTexturesIfFull();
  // Frees every texture and the cache itself.
  void FreeTextures();

  // The drawing family: one quad on the display's drawing surface each, true when drawn.
  // Alpha runs from 0 to 255 (values beyond are clamped). Angles count 256ths of a turn; (X, Y)
  // is where the rotation centre lands and CenterX, CenterY place that centre as fractions of
  // the picture. SrcRect is the part of the source drawn (nullptr: all of it); one given right
  // to left or bottom to top draws that part mirrored. A part reaching outside the source draws
  // nothing, as the surface operations do.
  bool Draw(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent,
            const TRect* SrcRect = nullptr);
  bool DrawAdd(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
               const TRect* SrcRect = nullptr);
  bool DrawAlpha(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
                 const TRect* SrcRect = nullptr);
  bool DrawSub(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
               const TRect* SrcRect = nullptr);
  bool DrawRotate(int X, int Y, int Width, int Height, TDirectDrawSurface* Source, double CenterX,
                  double CenterY, bool Transparent, double Angle, const TRect* SrcRect = nullptr);
  bool DrawRotateAdd(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                     double CenterX, double CenterY, bool Transparent, double Angle, int Alpha,
                     const TRect* SrcRect = nullptr);
  bool DrawRotateAlpha(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                       double CenterX, double CenterY, bool Transparent, double Angle, int Alpha,
                       const TRect* SrcRect = nullptr);
  bool DrawRotateSub(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                     double CenterX, double CenterY, bool Transparent, double Angle, int Alpha,
                     const TRect* SrcRect = nullptr);
  // The same with a pattern of a picture-list item as the source.
  bool StretchDraw(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex);
  bool DrawAdd(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex, int Alpha);
  bool DrawAlpha(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                 int Alpha);
  bool DrawSub(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex, int Alpha);
  bool DrawRotate(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                  int PatternIndex, double CenterX, double CenterY, double Angle);
  bool DrawRotateAdd(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, double Angle, int Alpha);
  bool DrawRotateAlpha(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                       int PatternIndex, double CenterX, double CenterY, double Angle, int Alpha);
  bool DrawRotateSub(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, double Angle, int Alpha);

  bool Enabled = false;
  int SurfaceBitCount = 0;
  // The quad in strip order: top-left, top-right, bottom-left, bottom-right.
  D3DTLVERTEX Vertices[4];

 private:
  enum class TBlend { Copy, Add, Sub, Alpha };
  struct TRotation {
    int X, Y, Width, Height;
    double CenterX, CenterY, Angle;
  };

  void ResetVertices();
  // The blend states and vertex colours of one mode.
  void SetBlend(TBlend Mode, int Alpha);
  void SetRectangle(const TRect& DestRect);
  void SetRotation(const TRotation& R);
  // Draws the quad as set up; a failure keeps the next flip from showing a half-drawn frame.
  void DrawQuad();
  template <class SetTexture, class Geometry>
  bool DrawWith(TBlend Mode, int Alpha, SetTexture&& Bind, Geometry&& Shape);

  bool SetPictureTexture(TPictureCollectionItem* Item, int PatternIndex, const TRect& SrcRect);
  bool AddPictureTexture(TPictureCollectionItem* Item);
  bool SetSurfaceTexture(TDirectDrawSurface* Surface, bool Transparent, const TRect* SrcRect);
  bool AddSurfaceTexture(TDirectDrawSurface* Surface, bool Transparent);
  // Binds the entry's texture to stage 0; false (after dropping every texture) when it cannot.
  bool BindTexture(int Index);
  void SetTexCoords(double U0, double V0, double U1, double V1);

  TCustomDXDraw* FDXDraw;
  bool FTextureFilter = true;
  TD2DTextures* FTextures = nullptr;
};

// The drawer of the display made or initialized last; nullptr after a finalization or
// destruction.
extern TD2D* CurrentD2D;
// Suppresses the next flip, which clears it.
extern bool SkipNextFlip;
