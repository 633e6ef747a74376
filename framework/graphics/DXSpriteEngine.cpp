#include "framework/graphics/DXSpriteEngine.h"

namespace {

const bool registered = (RegisterClass<TDXSpriteEngine>("TDXSpriteEngine"), true);

TSprite* MakeSprite(TSpriteType Kind, TSprite* Parent) {
  switch (Kind) {
    case stImageSprite:
      return new TImageSprite(Parent);
    case stImageSpriteEx:
      return new TImageSpriteEx(Parent);
    case stBackgroundSprite:
      return new TBackgroundSprite(Parent);
    case stSprite:
    default:
      return new TSprite(Parent);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSpriteCollectionItem

TSpriteCollectionItem::TSpriteCollectionItem(TCollection* Collection)
    : THashCollectionItem(Collection),
      FOwner(dynamic_cast<TSpriteCollection*>(Collection)),
      FSpriteEngine(FOwner != nullptr ? FOwner->SpriteEngine : nullptr) {
  FSprite = new TSprite(FSpriteEngine);
}

TSpriteCollectionItem::~TSpriteCollectionItem() { delete FSprite; }

void TSpriteCollectionItem::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TSpriteCollectionItem*>(Source)) {
    FSprite->Assign(src->FSprite);
  }
  THashCollectionItem::Assign(Source);
}

void TSpriteCollectionItem::DefineProperties(TPropertyDefs& Defs) {
  THashCollectionItem::DefineProperties(Defs);
  // The kind before the sprite: changing it replaces the sprite the nested values go to.
  Defs.Enum(
      "KindSprite", {"stSprite", "stImageSprite", "stImageSpriteEx", "stBackgroundSprite"},
      [this] { return FKindSprite; }, [this](TSpriteType v) { SetKindSprite(v); });
  Defs.Persistent("Sprite", FSprite);
  Defs.Event<void(TObject*)>(
      "OnDraw", [this]() -> const TDrawEvent& { return FSprite->OnDraw; },
      [this](TDrawEvent v) { FSprite->OnDraw = std::move(v); });
  Defs.Event<void(TObject*, int&)>(
      "OnMove", [this]() -> const TMoveEvent& { return FSprite->OnMove; },
      [this](TMoveEvent v) { FSprite->OnMove = std::move(v); });
  Defs.Event<void(TObject*, bool&)>(
      "OnCollision", [this]() -> const TCollisionEvent& { return FSprite->OnCollision; },
      [this](TCollisionEvent v) { FSprite->OnCollision = std::move(v); });
  Defs.Event<void(TObject*, TPictureCollectionItem*&)>(
      "OnGetImage", [this]() -> const TGetImage& { return FSprite->OnGetImage; },
      [this](TGetImage v) { FSprite->OnGetImage = std::move(v); });
}

void TSpriteCollectionItem::SetKindSprite(TSpriteType Value) {
  if (Value == FKindSprite) return;
  TSprite* fresh = MakeSprite(Value, FSpriteEngine);
  TSprite* old = FSprite;
  if (old != nullptr) {
    fresh->Assign(old);
    fresh->OnDraw = old->OnDraw;
    fresh->OnMove = old->OnMove;
    fresh->OnCollision = old->OnCollision;
    TSpriteEngine* engine = old->Engine();
    if (engine != nullptr && engine->Walking()) {
      // Freeing the sprite now could pull it from under the walk (or from under its own running
      // event): it is switched off and left to the dead queue instead.
      old->Moved = false;
      old->Visible = false;
      old->Collisioned = false;
      old->Dead();
    } else {
      delete old;
    }
  }
  FSprite = fresh;
  FKindSprite = Value;
}

void TSpriteCollectionItem::SetDisplayName(const std::string& Value) {
  auto* owner = dynamic_cast<TSpriteCollection*>(Collection());
  if (!Value.empty() && !SameText(Value, DisplayName()) && owner != nullptr &&
      owner->IndexOfName(Value) >= 0) {
    throw Exception(Format("Item duplicate name \"%s\" error", {Value}));
  }
  Changed(false);
}

// ---------------------------------------------------------------------------------------------
// TSpriteCollection

TSpriteCollection::TSpriteCollection(TCustomDXSpriteEngine* AOwner)
    : THashCollection(AOwner, CollectionItemClass<TSpriteCollectionItem>()), FOwner(AOwner) {}

TSpriteCollection::~TSpriteCollection() { Clear(); }

bool TSpriteCollection::Initialize(TSpriteEngine* Engine) {
  if (!OnInitialize) return true;
  try {
    OnInitialize(Engine);
  } catch (...) {
    return false;
  }
  return true;
}

TSpriteCollectionItem* TSpriteCollection::Items(int Index) const {
  return static_cast<TSpriteCollectionItem*>(TCollection::Items(Index));
}

void TSpriteCollection::DefineProperties(TPropertyDefs& Defs) {
  THashCollection::DefineProperties(Defs);
  Defs.Event("OnInitialize", OnInitialize);
  Defs.Event("OnFinalize", OnFinalize);
}

// ---------------------------------------------------------------------------------------------
// TCustomDXSpriteEngine

TCustomDXSpriteEngine::TCustomDXSpriteEngine(TComponent* AOwner)
    : TComponent(AOwner), FEngine(new TSpriteEngine(nullptr)), FItems(nullptr) {
  FItems = new TSpriteCollection(this);
  FItems->SpriteEngine = FEngine;
  FItems->Initialize(FEngine);
}

TCustomDXSpriteEngine::~TCustomDXSpriteEngine() {
  SetDXDraw(nullptr);
  // The items first: each frees its own template sprite while the engine still stands, so no
  // sprite is freed twice; then the engine with the rest of the tree.
  delete FItems;
  delete FEngine;
}

void TCustomDXSpriteEngine::Move(int MoveCount) { FEngine->Move(MoveCount); }

void TCustomDXSpriteEngine::Draw() {
  if (FDXDraw != nullptr && FDXDraw->Initialized()) FEngine->Draw();
}

void TCustomDXSpriteEngine::Dead() { FEngine->Dead(); }

void TCustomDXSpriteEngine::SetDXDraw(TCustomDXDraw* Value) {
  if (FDXDraw != nullptr) {
    FDXDraw->RemoveNotifyHandler(
        TDXDrawNotifyEvent::Of<&TCustomDXSpriteEngine::DXDrawNotifyEvent>(this));
    FDXDraw->RemoveFreeNotification(this);
  }
  FDXDraw = Value;
  if (Value != nullptr) {
    Value->FreeNotification(this);
    Value->AddNotifyHandler(
        TDXDrawNotifyEvent::Of<&TCustomDXSpriteEngine::DXDrawNotifyEvent>(this));
  }
}

void TCustomDXSpriteEngine::DXDrawNotifyEvent(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType) {
  switch (NotifyType) {
    case nkDestroying:
      SetDXDraw(nullptr);
      break;
    case nkInitialize:
      FEngine->SetSurface(Sender->Surface);
      break;
    case nkFinalize:
      FEngine->SetSurface(nullptr);
      break;
    default:
      break;
  }
}

void TCustomDXSpriteEngine::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != nullptr && AComponent == FDXDraw) SetDXDraw(nullptr);
}

void TCustomDXSpriteEngine::DefineProperties(TPropertyDefs& Defs) {
  TComponent::DefineProperties(Defs);
  Defs.Component(
      "DXDraw", [this] { return FDXDraw; }, [this](TCustomDXDraw* v) { SetDXDraw(v); });
  Defs.Collection("Items", FItems);
}
