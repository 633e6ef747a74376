// The sprite-engine component and its design-time sprites.
//
//   TCustomDXSpriteEngine/TDXSpriteEngine  owns a TSpriteEngine whose surface follows a display
//   TSpriteCollection                      the component's Items: named template sprites
//   TSpriteCollectionItem                  one template sprite of a chosen kind (TSpriteType)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/graphics/DXClass.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXSprite.h"
#include "platform/rtl/Classes.h"

class TCustomDXSpriteEngine;
class TSpriteCollection;

enum TSpriteType : std::uint8_t {
  stSprite = 0,
  stImageSprite = 1,
  stImageSpriteEx = 2,
  stBackgroundSprite = 3
};

class TSpriteCollectionItem : public THashCollectionItem {
 public:
  // Makes a plain TSprite in the collection's engine.
  explicit TSpriteCollectionItem(TCollection* Collection);
  ~TSpriteCollectionItem() override;

  // From another item: its sprite's state, then its name; the kind stays.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  TSpriteType KindSprite() const { return FKindSprite; }
  // Replaces the sprite by one of the new kind that takes over its state and events. The old
  // sprite is freed at once, or, while the engine is walking its tree (the change came from one
  // of the sprite's own events), queued for the engine's Dead and switched off until then.
  void SetKindSprite(TSpriteType Value);
  TSprite* Sprite() const { return FSprite; }
  void SetSprite(TSprite* Value) { FSprite->Assign(Value); }
  // Refuses (Exception "Item duplicate name "%s" error") a name another item already has.
  void SetDisplayName(const std::string& Value);

  // The events of the sprite.
  TDrawEvent& OnDraw() { return FSprite->OnDraw; }
  TMoveEvent& OnMove() { return FSprite->OnMove; }
  TCollisionEvent& OnCollision() { return FSprite->OnCollision; }
  TGetImage& OnGetImage() { return FSprite->OnGetImage; }

  TSpriteCollection* Owner() const { return FOwner; }
  TSpriteEngine* SpriteEngine() const { return FSpriteEngine; }

 private:
  TSpriteCollection* FOwner;
  TSpriteEngine* FSpriteEngine;
  TSpriteType FKindSprite = stSprite;
  TSprite* FSprite = nullptr;
};

using TSCInitialize = std::function<void(TSpriteEngine* Owner)>;
using TSCFinalize = std::function<void(TSpriteEngine* Owner)>;

class TSpriteCollection : public THashCollection {
 public:
  explicit TSpriteCollection(TCustomDXSpriteEngine* AOwner);
  ~TSpriteCollection() override;

  // Runs OnInitialize with Engine; false when it raised (the error goes no further).
  bool Initialize(TSpriteEngine* Engine);
  TSpriteCollectionItem* Items(int Index) const;
  TCustomDXSpriteEngine* Owner() const { return FOwner; }
  void DefineProperties(TPropertyDefs& Defs) override;

  TSpriteEngine* SpriteEngine = nullptr;
  TSCInitialize OnInitialize;
  TSCFinalize OnFinalize;  // never fired

 private:
  TCustomDXSpriteEngine* FOwner;
};

class TCustomDXSpriteEngine : public TComponent {
 public:
  explicit TCustomDXSpriteEngine(TComponent* AOwner);
  // Leaves the display first, so that it never calls back into a freed engine.
  ~TCustomDXSpriteEngine() override;

  void Move(int MoveCount);
  // Draws only while the display is initialized.
  void Draw();
  void Dead();

  TSpriteEngine* Engine() const { return FEngine; }
  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  void SetDXDraw(TCustomDXDraw* Value);
  TSpriteCollection* Items() const { return FItems; }
  void SetItems(TSpriteCollection* Value) { FItems->Assign(Value); }

  // The handler registered on the display: the engine takes the drawing surface on
  // initialization and lets it go on finalization.
  void DXDrawNotifyEvent(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void DefineProperties(TPropertyDefs& Defs) override;

 private:
  TCustomDXDraw* FDXDraw = nullptr;
  TSpriteEngine* FEngine;
  TSpriteCollection* FItems;
};

class TDXSpriteEngine : public TCustomDXSpriteEngine {
 public:
  explicit TDXSpriteEngine(TComponent* AOwner) : TCustomDXSpriteEngine(AOwner) {}
};
