#include "platform/rtl/Classes.h"

#include <algorithm>

namespace {

// Names of properties, components, classes and handlers compare without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b) { return SameText(a, b); }

std::string FoldName(const std::string& s) { return LowerCase(s); }

bool IsValidIdent(const std::string& s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

[[noreturn]] void IndexError(int Index) {
  throw EListError(Format("List index out of bounds (%d)", {static_cast<std::int64_t>(Index)}));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPropertyDefs

TPropInfo& TPropertyDefs::Add(const std::string& Name, TPropKind Kind) {
  for (TPropInfo& p : FItems) {
    if (SameName(p.Name, Name)) {
      p = TPropInfo();
      p.Name = Name;
      p.Kind = Kind;
      return p;
    }
  }
  TPropInfo& p = FItems.emplace_back();
  p.Name = Name;
  p.Kind = Kind;
  return p;
}

const TPropInfo* TPropertyDefs::Find(const std::string& Name) const {
  for (const TPropInfo& p : FItems) {
    if (SameName(p.Name, Name)) return &p;
  }
  return nullptr;
}

TPropInfo& TPropertyDefs::Persistent(const std::string& Name, TPersistent* Object) {
  TPropInfo& p = Add(Name, TPropKind::Persistent);
  p.GetObject = [Object] { return Object; };
  return p;
}

TPropInfo& TPropertyDefs::Collection(const std::string& Name, TCollection* Object) {
  TPropInfo& p = Add(Name, TPropKind::Collection);
  p.GetObject = [Object]() -> TPersistent* { return Object; };
  return p;
}

TPropInfo& TPropertyDefs::DefineBinaryProperty(const std::string& Name, TStreamProc ReadData,
                                               TStreamProc WriteData, bool HasData) {
  TPropInfo& p = Add(Name, TPropKind::Binary);
  p.ReadData = std::move(ReadData);
  p.WriteData = std::move(WriteData);
  p.HasData = HasData;
  return p;
}

// ---------------------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(TPersistent* Source) {
  if (Source == nullptr) AssignError(nullptr);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
  const std::string from = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError(Format("Cannot assign a %s to a %s", {from, std::string(ClassName())}));
}

// ---------------------------------------------------------------------------------------------
// TCollectionItem / TCollection

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() {
  if (FCollection != nullptr) FCollection->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (FCollection == Value) return;
  if (FCollection != nullptr) FCollection->RemoveItem(this);
  if (Value != nullptr) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (FCollection == nullptr) return -1;
  const auto& items = FCollection->FItems;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
  const int cur = Index();
  if (cur >= 0 && cur != Value) {
    FCollection->MoveItem(cur, Value);
    Changed(true);
  }
}

TPersistent* TCollectionItem::GetOwner() { return FCollection; }

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection != nullptr && FCollection->FUpdateCount == 0) {
    FCollection->Update(AllItems ? nullptr : this);
  }
}

TCollection::TCollection(TCollectionItemClass ItemClass) : FItemClass(std::move(ItemClass)) {}

TCollection::TCollection(TPersistent* AOwner, TCollectionItemClass ItemClass)
    : FOwner(AOwner), FItemClass(std::move(ItemClass)) {}

TCollection::~TCollection() {
  // No change notifications from a collection that is going away.
  FUpdateCount = 1;
  while (!FItems.empty()) delete FItems.back();
}

void TCollection::BeforeDestruction() {
  FUpdateCount = 1;
  while (!FItems.empty()) FItems.back()->Free();
}

TCollectionItem* TCollection::Add() {
  if (!FItemClass) throw EInvalidOperation("The collection has no item class");
  return FItemClass(this);
}

TCollectionItem* TCollection::Insert(int Index) {
  if (Index < 0 || Index > Count()) IndexError(Index);
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  try {
    // One at a time, last first: each item is still in the list while it is destroyed, and
    // the list is never cleared behind the back of an item's destructor.
    while (!FItems.empty()) FItems.back()->Free();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Delete(int Index) {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  TCollectionItem* item = FItems[static_cast<std::size_t>(Index)];
  Notify(item, cnDeleting);
  item->Free();
}

TCollectionItem* TCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

void TCollection::SetItems(int Index, TCollectionItem* Value) { Items(Index)->Assign(Value); }

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* item : FItems) {
    if (item->FID == ID) return item;
  }
  return nullptr;
}

void TCollection::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TCollection*>(Source);
  if (source == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  BeginUpdate();
  try {
    Clear();
    for (int i = 0; i < source->Count(); ++i) Add()->Assign(source->Items(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
  FItems.push_back(Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
  Notify(Item, cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  Notify(Item, cnExtracting);
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  if (it != FItems.end()) FItems.erase(it);
  Item->FCollection = nullptr;
  Changed();
}

void TCollection::MoveItem(int CurIndex, int NewIndex) {
  if (NewIndex < 0 || NewIndex >= Count()) IndexError(NewIndex);
  TCollectionItem* item = FItems[static_cast<std::size_t>(CurIndex)];
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, item);
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

void TComponent::BeforeDestruction() {
  if (!FComponentState.Contains(csDestroying)) Destroying();
  ReleaseLinks();
}

TComponent::~TComponent() {
  FInDestructor = true;
  if (!FComponentState.Contains(csDestroying)) Destroying();
  ReleaseLinks();
  if (FOwner != nullptr) FOwner->Remove(this);
}

void TComponent::ReleaseLinks() {
  if (FLinksReleased) return;
  FLinksReleased = true;
  // Those who asked to hear of this component's end.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& theirs = other->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  // The owner and, through it, the siblings clear their references while this component is
  // still in the owner's list.
  if (FOwner != nullptr && !FOwner->FInDestructor) FOwner->Notification(this, opRemove);
}

void TComponent::Remove(TComponent* AComponent) {
  // Taking the field back is skipped once the owner's own destructor runs: the field lives in
  // a part of the owner that is already gone.
  if (!FInDestructor) AComponent->SetReference(false);
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it != FComponents.end()) FComponents.erase(it);
  AComponent->FOwner = nullptr;
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (!NewName.empty() && !IsValidIdent(NewName)) {
    throw EComponentError(Format("Invalid component name \"%s\"", {NewName}));
  }
  if (FOwner != nullptr) {
    FOwner->ValidateRename(this, FName, NewName);
  } else {
    ValidateRename(nullptr, FName, NewName);
  }
  SetReference(false);
  const std::string old = FName;
  FName = NewName;
  try {
    SetReference(true);
  } catch (...) {
    FName = old;
    SetReference(true);
    throw;
  }
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
  if (AComponent == nullptr || NewName.empty() || SameName(CurName, NewName)) return;
  TComponent* holder = FindComponent(NewName);
  if (holder != nullptr && holder != AComponent) {
    throw EComponentError(Format("A component named %s is already there", {NewName}));
  }
}

void TComponent::SetReference(bool Enable) {
  if (FOwner == nullptr || FName.empty()) return;
  for (TFieldEntry& f : FOwner->FFields) {
    if (!SameName(f.Name, FName)) continue;
    if (!Enable) {
      if (f.Get() == this) f.Set(nullptr);
    } else if (!f.Set(this)) {
      throw EComponentError(Format("Field %s cannot hold a %s", {f.Name, ClassName()}));
    }
  }
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) IndexError(Index);
  return FComponents[static_cast<std::size_t>(Index)];
}

int TComponent::ComponentIndex() const {
  if (FOwner == nullptr) return -1;
  const auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetComponentIndex(int Value) {
  if (FOwner == nullptr) return;
  auto& list = FOwner->FComponents;
  const int cur = ComponentIndex();
  const int last = static_cast<int>(list.size()) - 1;
  Value = std::clamp(Value, 0, last);
  if (cur < 0 || cur == Value) return;
  list.erase(list.begin() + cur);
  list.insert(list.begin() + Value, this);
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (SameName(c->FName, AName)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner == this) return;
  ValidateRename(AComponent, "", AComponent->FName);
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  try {
    AComponent->SetReference(true);
  } catch (...) {
    FComponents.pop_back();
    AComponent->FOwner = nullptr;
    throw;
  }
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::DestroyComponents() {
  // Last first, one at a time; each component leaves the list from its own destructor, so it
  // is still there, and findable, while it is being destroyed.
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    last->Free();
    if (!FComponents.empty() && FComponents.back() == last) FComponents.pop_back();
  }
}

void TComponent::SetDesigning(bool Value) {
  if (Value) {
    FComponentState.Include(csDesigning);
  } else {
    FComponentState.Exclude(csDesigning);
  }
  for (TComponent* c : FComponents) c->SetDesigning(Value);
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
  }
  auto& theirs = AComponent->FFreeNotifies;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
  FComponentState.Include(csFreeNotification);
  AComponent->FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
  auto& theirs = AComponent->FFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // By index over the live list: a handler may free or add components meanwhile.
  for (std::size_t i = 0; i < FComponents.size(); ++i) {
    TComponent* c = FComponents[i];
    if (c != AComponent) c->Notification(AComponent, Operation);
  }
}

void TComponent::DefineProperties(TPropertyDefs& Defs) {
  TPersistent::DefineProperties(Defs);
  Defs.Int("Tag", Tag).Default(0);
}

void TComponent::AddMethod(const std::string& Name, std::any Handler) {
  for (auto& m : FMethods) {
    if (SameName(m.first, Name)) {
      m.second = std::move(Handler);
      return;
    }
  }
  FMethods.emplace_back(Name, std::move(Handler));
}

const std::any* TComponent::FindMethod(const std::string& Name) const {
  for (const auto& m : FMethods) {
    if (SameName(m.first, Name)) return &m.second;
  }
  return nullptr;
}

void TComponent::AddField(const std::string& Name, std::function<TComponent*()> Get,
                          std::function<bool(TComponent*)> Set) {
  FFields.push_back({Name, std::move(Get), std::move(Set)});
  // A component that already bears the name fills the field at once.
  if (TComponent* c = FindComponent(Name)) {
    if (!FFields.back().Set(c)) {
      FFields.pop_back();
      throw EComponentError(Format("Field %s cannot hold a %s", {Name, c->ClassName()}));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Class registry and stored form resources

namespace {

std::map<std::string, TComponentClass>& ClassRegistry() {
  static std::map<std::string, TComponentClass> registry;
  return registry;
}

std::map<std::string, std::string>& FormResources() {
  static std::map<std::string, std::string> resources;
  return resources;
}

}  // namespace

void RegisterClass(const std::string& ClassName, TComponentClass Factory) {
  ClassRegistry()[FoldName(ClassName)] = std::move(Factory);
}

void UnRegisterClass(const std::string& ClassName) { ClassRegistry().erase(FoldName(ClassName)); }

const TComponentClass* GetClass(const std::string& ClassName) {
  auto& registry = ClassRegistry();
  auto it = registry.find(FoldName(ClassName));
  return it == registry.end() ? nullptr : &it->second;
}

TComponentClass FindClass(const std::string& ClassName) {
  const TComponentClass* factory = GetClass(ClassName);
  if (factory == nullptr) throw EClassNotFound(Format("Class %s not found", {ClassName}));
  return *factory;
}

void RegisterFormResource(const std::string& FormClassName, std::string Text) {
  FormResources()[FoldName(FormClassName)] = std::move(Text);
}

void UnregisterFormResource(const std::string& FormClassName) {
  FormResources().erase(FoldName(FormClassName));
}

const std::string* FindFormResource(const std::string& FormClassName) {
  auto& resources = FormResources();
  auto it = resources.find(FoldName(FormClassName));
  return it == resources.end() ? nullptr : &it->second;
}

bool ReadFormResource(TComponent* Root) {
  const std::string* text = FindFormResource(Root->ClassName());
  if (text == nullptr) return false;
  ReadStoredForm(Root, *text);
  return true;
}
