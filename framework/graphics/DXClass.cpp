#include "framework/graphics/DXClass.h"

void TDirectX::SetResultCode(HRESULT Value) {
  FResultCode = Value;
  if (Value != 0) CheckResult();
}

int HashName(const std::string& Name) {
  const std::string s = LowerCase(Name);
  const std::size_t len = s.size();
  std::size_t h = len << 4;
  if (len >= 2) h += static_cast<unsigned char>(s[len - 2]) + static_cast<unsigned char>(s[0]);
  return static_cast<int>(h & 255);
}

// ---------------------------------------------------------------------------------------------
// THashCollectionItem

THashCollectionItem::THashCollectionItem(TCollection* Collection) : TCollectionItem(Collection) {
  EnterHash();
}

THashCollectionItem::~THashCollectionItem() { LeaveHash(); }

THashCollection* THashCollectionItem::HashCollection() const {
  return dynamic_cast<THashCollection*>(Collection());
}

void THashCollectionItem::EnterHash() {
  FCachedIndex = Index();
  if (HashCollection() != nullptr) AddHash();
}

void THashCollectionItem::LeaveHash() {
  if (TCollection* c = Collection()) {
    // The items behind this one move up by one when it leaves.
    for (int i = FCachedIndex + 1; i < c->Count(); ++i)
      if (auto* item = dynamic_cast<THashCollectionItem*>(c->Items(i))) --item->FCachedIndex;
  }
  RemoveHash();
  FCachedIndex = -1;
}

void THashCollectionItem::AddHash() {
  THashCollection* c = HashCollection();
  if (c == nullptr) return;
  FBucket = HashName(FName);
  THashCollectionItem* head = c->Buckets[FBucket];
  if (head != nullptr) {
    head->FPrev = this;
    FNext = head;
  }
  c->Buckets[FBucket] = this;
  FLinked = true;
}

void THashCollectionItem::RemoveHash() {
  if (!FLinked) return;
  if (FPrev != nullptr) {
    FPrev->FNext = FNext;
    if (FNext != nullptr) FNext->FPrev = FPrev;
  } else {
    if (THashCollection* c = HashCollection()) c->Buckets[FBucket] = FNext;
    if (FNext != nullptr) FNext->FPrev = nullptr;
  }
  FPrev = nullptr;
  FNext = nullptr;
  FLinked = false;
}

void THashCollectionItem::SetName(const std::string& Value) {
  if (Value == FName) return;
  FName = Value;
  RemoveHash();
  AddHash();
}

void THashCollectionItem::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<THashCollectionItem*>(Source)) {
    SetName(source->FName);
    return;
  }
  TCollectionItem::Assign(Source);
}

std::string THashCollectionItem::GetDisplayName() const {
  return FName.empty() ? TCollectionItem::GetDisplayName() : FName;
}

void THashCollectionItem::SetIndex(int Value) {
  if (Value == FCachedIndex) return;
  TCollectionItem::SetIndex(Value);
  // Every item between the old and the new place has shifted; renumber them all.
  TCollection* c = Collection();
  for (int i = 0; i < c->Count(); ++i)
    if (auto* item = dynamic_cast<THashCollectionItem*>(c->Items(i))) item->FCachedIndex = i;
}

void THashCollectionItem::SetCollection(TCollection* Value) {
  if (Value == Collection()) return;
  LeaveHash();
  TCollectionItem::SetCollection(Value);
  EnterHash();
}

void THashCollectionItem::DefineProperties(TPropertyDefs& Defs) {
  TCollectionItem::DefineProperties(Defs);
  Defs.String(
      "Name", [this] { return FName; }, [this](const std::string& v) { SetName(v); });
}

// ---------------------------------------------------------------------------------------------
// THashCollection

THashCollection::THashCollection(TCollectionItemClass ItemClass)
    : TCollection(std::move(ItemClass)) {}

THashCollection::THashCollection(TPersistent* AOwner, TCollectionItemClass ItemClass)
    : TCollection(AOwner, std::move(ItemClass)) {}

THashCollection::~THashCollection() { Clear(); }

int THashCollection::IndexOfName(const std::string& Name) const {
  for (const THashCollectionItem* item = Buckets[HashName(Name)]; item != nullptr;
       item = item->Next())
    if (SameText(item->Name(), Name)) return item->CachedIndex();
  return -1;
}
