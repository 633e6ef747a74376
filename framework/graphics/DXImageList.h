// The image list: named pictures cut into equal patterns (animation frames) on a grid, copied
// into DirectDraw surfaces whenever the display initializes or restores, and drawn by pattern
// index.
//
//   TPictureCollectionItem         one named picture, its patterns and the surfaces holding them
//   TPictureCollection             the pictures of a list, found by name ignoring case
//   TCustomDXImageList/TDXImageList the component that binds the pictures to a display
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/graphics/DXClass.h"
#include "framework/graphics/DXDraw.h"
#include "platform/gdi/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/win/WinTypes.h"

class TDirectDrawSurface;
class TPictureCollection;

MORVANE_DECLARE_EXCEPTION(EPictureCollectionError, Exception)

// One pattern: its source rectangle on one of the item's surfaces.
struct TPictureCollectionItemPattern {
  TRect Rect;
  TDirectDrawSurface* Surface = nullptr;  // not owned: one of the item's Surfaces
};

class TPictureCollectionItem : public THashCollectionItem {
 public:
  explicit TPictureCollectionItem(TCollection* Collection);
  ~TPictureCollectionItem() override;

  // From another picture item its pattern layout, keying and a copy of its picture; rebuilt at
  // once when this item was initialized. Anything else goes to the named item's assignment.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  // Drops what was built and takes the collection's state; surfaces come with Restore.
  void Initialize();
  void Finalize();
  // Cuts the picture into surfaces and patterns again (nothing while the picture is empty).
  void Restore();
  bool Initialized() const { return FInitialized; }

  // Drawing by pattern index. An index outside the patterns, or an item that is not
  // initialized, draws nothing.
  void Draw(TDirectDrawSurface* Dest, int X, int Y, int PatternIndex);
  void StretchDraw(TDirectDrawSurface* Dest, const TRect& DestRect, int PatternIndex);
  void DrawAdd(TDirectDrawSurface* Dest, const TRect& DestRect, int PatternIndex, int Alpha);
  void DrawAlpha(TDirectDrawSurface* Dest, const TRect& DestRect, int PatternIndex, int Alpha);
  void DrawSub(TDirectDrawSurface* Dest, const TRect& DestRect, int PatternIndex, int Alpha);
  // (X, Y) is where the rotation centre lands, (CenterX, CenterY) the centre as fractions of
  // the pattern, Angle in 1/256 of a turn.
  void DrawRotate(TDirectDrawSurface* Dest, int X, int Y, int Width, int Height, int PatternIndex,
                  double CenterX, double CenterY, float Angle);
  void DrawRotateAdd(TDirectDrawSurface* Dest, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, float Angle, int Alpha);
  void DrawRotateAlpha(TDirectDrawSurface* Dest, int X, int Y, int Width, int Height,
                       int PatternIndex, double CenterX, double CenterY, float Angle, int Alpha);
  void DrawRotateSub(TDirectDrawSurface* Dest, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, float Angle, int Alpha);

  // The pattern size: PatternWidth / PatternHeight when above 0, else the picture's.
  int Width() const;
  int Height() const;
  int PatternCount() const { return static_cast<int>(FPatterns.size()); }
  // (0, 0, 0, 0) and nullptr outside 0 .. PatternCount - 1.
  TRect PatternRects(int Index) const;
  TDirectDrawSurface* PatternSurfaces(int Index) const;
  const std::vector<TPictureCollectionItemPattern>& Patterns() const { return FPatterns; }
  const std::vector<TDirectDrawSurface*>& Surfaces() const { return FSurfaces; }

  TPicture* Picture() const { return FPicture; }
  // Copies the picture; the surfaces follow at the next Restore.
  void SetPicture(TPicture* Value);
  TColor TransparentColor() const { return FTransparentColor; }
  // Re-keys the surfaces already built, one by one; a surface that fails is skipped.
  void SetTransparentColor(TColor Value);

  TPictureCollection* PictureCollection() const;

  int PatternHeight = 0;
  int PatternWidth = 0;
  int SkipHeight = 0;
  int SkipWidth = 0;
  bool SystemMemory = false;
  bool Transparent = true;

 private:
  void ClearSurfaces();
  // A new surface holding Rect of the picture, keyed with the transparent colour.
  TDirectDrawSurface* MakeSurface(const TRect& Rect);
  // The display when drawing goes through its accelerator (do3D in its Options).
  TCustomDXDraw* AcceleratedDisplay() const;
  // The accelerator that draws on Dest: the display's, when Dest is its drawing surface.
  TD2D* Accelerator(TDirectDrawSurface* Dest) const;
  // Empties the accelerator's texture cache after the surfaces were cut again.
  void ForgetTextures();
  const TPictureCollectionItemPattern* PatternToDraw(int PatternIndex) const;
  // Sends one drawing call where it goes: the accelerator's call on a display asked for 3-D
  // whose accelerator can draw, the surface's call elsewhere; nothing for a pattern that is not
  // there.
  template <class ViaAccelerator, class ViaSurface>
  void Route(TDirectDrawSurface* Dest, int PatternIndex, ViaAccelerator viaAccelerator,
             ViaSurface viaSurface);

  TPicture* FPicture;
  bool FInitialized = false;
  std::vector<TPictureCollectionItemPattern> FPatterns;
  std::vector<TDirectDrawSurface*> FSurfaces;
  TColor FTransparentColor = 0;
};

class TPictureCollection : public THashCollection {
 public:
  explicit TPictureCollection(TPersistent* AOwner);
  ~TPictureCollection() override;

  // The item whose Name equals Name ignoring case; EPictureCollectionError "Image '%s' not
  // found" when there is none.
  TPictureCollectionItem* Find(const std::string& Name) const;
  TPictureCollectionItem* Items(int Index) const;

  // Takes the display and initializes every item; EPictureCollectionError when the display is
  // missing or not initialized (after the items were finalized).
  void Initialize(TCustomDXDraw* ADXDraw);
  // Finalizes every item and forgets the display, also when an item raised.
  void Finalize();
  void Restore();
  bool Initialized() const;
  TCustomDXDraw* DXDraw() const { return FDXDraw; }

  void DefineProperties(TPropertyDefs& Defs) override;

  // Carried in the stored form and nothing else: 256 entries blue, green, red, reserved.
  static constexpr int ColorTableSize = 1024;
  std::uint8_t ColorTable[ColorTableSize] = {};

 private:
  TCustomDXDraw* FDXDraw = nullptr;
};

class TCustomDXImageList : public TComponent {
 public:
  explicit TCustomDXImageList(TComponent* AOwner);
  ~TCustomDXImageList() override;

  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  // Leaves the display it had and registers with the new one, which replays its state.
  void SetDXDraw(TCustomDXDraw* Value);
  TPictureCollection* Items() const { return FItems; }
  void SetItems(TPictureCollection* Value);

  // The handler registered on the display.
  void DXDrawNotify(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void DefineProperties(TPropertyDefs& Defs) override;

 private:
  TCustomDXDraw* FDXDraw = nullptr;
  TPictureCollection* FItems;
};

class TDXImageList : public TCustomDXImageList {
 public:
  explicit TDXImageList(TComponent* AOwner) : TCustomDXImageList(AOwner) {}
};
