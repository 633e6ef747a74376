// The class library's object model: persistent objects that describe their stored properties,
// collections of items, components that own components, the class registry and the stored
// forms that the programs' main windows are built from.
//
// Stored properties. A class lists what it stores by overriding TPersistent::DefineProperties,
// calling its base first, with one line per property:
//
//   void TDXImageList::DefineProperties(TPropertyDefs& P) {
//     TComponent::DefineProperties(P);
//     P.Component("DXDraw", [this] { return FDXDraw; }, [this](TCustomDXDraw* v) { SetDXDraw(v);
//     }); P.Collection("Items", FItems);
//   }
//   void TPictureCollection::DefineProperties(TPropertyDefs& P) {
//     THashCollection::DefineProperties(P);
//     P.DefineBinaryProperty("ColorTable", [this](TStream* S) { ReadColorTable(S); },
//                            [this](TStream* S) { WriteColorTable(S); }, true);
//   }
//   P.Int("SkipWidth", FSkipWidth).Default(0);                  // a plain field
//   P.Enum("BorderStyle", {"bsNone", "bsSingle"}, [this] { return FBorderStyle; },
//          [this](TFormBorderStyle v) { SetBorderStyle(v); });
//   P.Set("Options", {"doFullScreen", "doNoWindowChange", ...}, FOptions);  // TSet<E> or bits
//   P.Event("OnIdle", OnIdle);                                   // any std::function signature
//   P.Persistent("Display", FDisplay);                           // nested: Display.Width = 640
//
// Events are bound by handler name through the root component: the form registers its handlers
// (RegisterMethod) and the components whose instances it keeps in fields (RegisterField) before
// it reads its stored data. A handler's signature must match the event's exactly.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/rtl/Object.h"
#include "platform/rtl/Sets.h"
#include "platform/rtl/SysUtils.h"

class TStream;
class TPersistent;
class TCollection;
class TCollectionItem;
class TComponent;

using TNotifyEvent = std::function<void(TObject* Sender)>;
// Reader or writer of a binary property; the stream holds exactly the property's bytes.
using TStreamProc = std::function<void(TStream* Stream)>;

// An event handler bound by name from a stored form. Events hold one of these inside their
// std::function, so the writer can tell which named handler an event refers to.
template <class Sig>
struct TNamedHandler;
template <class R, class... A>
struct TNamedHandler<R(A...)> {
  std::string Name;
  std::function<R(A...)> Handler;
  R operator()(A... Args) const { return Handler(std::forward<A>(Args)...); }
};

enum class TPropKind {
  Integer,
  Boolean,
  Float,
  String,
  Enum,
  Set,
  Component,
  Event,
  Persistent,
  Collection,
  Binary
};

// One stored property of an object, with callables that reach its value.
struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::Integer;

  // Integer, Boolean, Enum and Set values travel as 64-bit integers (a set as its bits).
  std::function<std::int64_t()> GetOrd;
  std::function<void(std::int64_t)> SetOrd;
  std::int64_t MinValue = std::numeric_limits<std::int64_t>::min();
  std::int64_t MaxValue = std::numeric_limits<std::int64_t>::max();
  std::vector<std::string> Names;  // enumeration / set element names, by value
  std::function<double()> GetFloat;
  std::function<void(double)> SetFloat;
  std::function<std::string()> GetString;
  std::function<void(const std::string&)> SetString;
  std::function<TComponent*()> GetComponent;
  // False when the component is not of the class the property holds.
  std::function<bool(TComponent*)> SetComponent;
  // The handler name the event is bound to; empty when unbound or bound in code.
  std::function<std::string()> GetHandlerName;
  // Binds a registered handler (Handler holds a std::function of some signature; nullptr
  // clears the event). False when the handler's signature is not the event's.
  std::function<bool(const std::any* Handler, const std::string& Name)> SetHandler;
  std::function<TPersistent*()> GetObject;  // Persistent and Collection
  TStreamProc ReadData;
  TStreamProc WriteData;
  bool HasData = false;

  // Written only when this says so (and, for values with a default, when they differ from it).
  std::function<bool()> IsStored;
  bool HasDefault = false;
  std::int64_t DefaultOrd = 0;
  double DefaultFloat = 0;
  std::string DefaultString;

  // The value that is not written. Takes an integer, a bool, an enumeration value, a TSet, a
  // floating-point value or a string, according to the property's kind.
  template <class T>
  TPropInfo& Default(const T& Value) {
    HasDefault = true;
    if constexpr (std::is_floating_point_v<T>) {
      DefaultFloat = Value;
    } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
      // Also the default of a real property given as a whole number (".Default(1)").
      DefaultOrd = static_cast<std::int64_t>(Value);
      DefaultFloat = static_cast<double>(DefaultOrd);
    } else if constexpr (std::is_convertible_v<const T&, std::string>) {
      DefaultString = Value;
    } else {
      DefaultOrd = static_cast<std::int64_t>(Value.Bits());
    }
    return *this;
  }
  TPropInfo& Stored(std::function<bool()> Predicate) {
    IsStored = std::move(Predicate);
    return *this;
  }
  TPropInfo& Stored(bool Value) {
    IsStored = [Value] { return Value; };
    return *this;
  }
};

namespace classes_detail {
template <class T>
struct IsTSet : std::false_type {};
template <class E>
struct IsTSet<TSet<E>> : std::true_type {};

template <class T>
std::int64_t ToOrd(const T& v) {
  if constexpr (IsTSet<T>::value) {
    return static_cast<std::int64_t>(v.Bits());
  } else {
    return static_cast<std::int64_t>(v);
  }
}
template <class T>
T FromOrd(std::int64_t v) {
  if constexpr (IsTSet<T>::value) {
    return T::FromBits(static_cast<std::uint64_t>(v));
  } else {
    return static_cast<T>(v);
  }
}
template <class G>
using GetterResult = std::remove_cvref_t<std::invoke_result_t<G>>;
}  // namespace classes_detail

// The list that DefineProperties fills. Defining a name again (a derived class changing its
// base's default, say) replaces the earlier definition in its place.
class TPropertyDefs {
 public:
  // Integers of any width; values outside the type's range are refused when read.
  template <class G, class S>
  TPropInfo& Int(const std::string& Name, G Get, S Set) {
    using T = classes_detail::GetterResult<G>;
    static_assert(std::is_integral_v<T>, "Int properties read an integer");
    TPropInfo& p = Add(Name, TPropKind::Integer);
    p.GetOrd = [Get] { return static_cast<std::int64_t>(Get()); };
    p.SetOrd = [Set](std::int64_t v) { Set(static_cast<T>(v)); };
    p.MinValue = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
      p.MaxValue = std::numeric_limits<std::int64_t>::max();
    } else {
      p.MaxValue = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    }
    return p;
  }
  template <class T>
  TPropInfo& Int(const std::string& Name, T& Field) {
    return Int(
        Name, [&Field] { return Field; }, [&Field](T v) { Field = v; });
  }

  template <class G, class S>
  TPropInfo& Bool(const std::string& Name, G Get, S Set) {
    TPropInfo& p = Add(Name, TPropKind::Boolean);
    p.GetOrd = [Get] { return static_cast<std::int64_t>(static_cast<bool>(Get())); };
    p.SetOrd = [Set](std::int64_t v) { Set(v != 0); };
    p.MinValue = 0;
    p.MaxValue = 1;
    return p;
  }
  TPropInfo& Bool(const std::string& Name, bool& Field) {
    return Bool(
        Name, [&Field] { return Field; }, [&Field](bool v) { Field = v; });
  }

  template <class G, class S>
  TPropInfo& Float(const std::string& Name, G Get, S Set) {
    TPropInfo& p = Add(Name, TPropKind::Float);
    p.GetFloat = [Get] { return static_cast<double>(Get()); };
    p.SetFloat = [Set](double v) { Set(v); };
    return p;
  }
  template <class T>
  TPropInfo& Float(const std::string& Name, T& Field) {
    static_assert(std::is_floating_point_v<T>, "Float properties hold a floating-point value");
    return Float(
        Name, [&Field] { return Field; }, [&Field](T v) { Field = v; });
  }

  template <class G, class S>
  TPropInfo& String(const std::string& Name, G Get, S Set) {
    TPropInfo& p = Add(Name, TPropKind::String);
    p.GetString = [Get] { return std::string(Get()); };
    p.SetString = [Set](const std::string& v) { Set(v); };
    return p;
  }
  TPropInfo& String(const std::string& Name, std::string& Field) {
    return String(
        Name, [&Field] { return Field; }, [&Field](const std::string& v) { Field = v; });
  }

  // Enumerations by name: Names[i] is the name of value i.
  template <class G, class S>
  TPropInfo& Enum(const std::string& Name, std::vector<std::string> Names, G Get, S Set) {
    using T = classes_detail::GetterResult<G>;
    TPropInfo& p = Add(Name, TPropKind::Enum);
    p.GetOrd = [Get] { return static_cast<std::int64_t>(Get()); };
    p.SetOrd = [Set](std::int64_t v) { Set(static_cast<T>(v)); };
    p.MinValue = 0;
    p.MaxValue = static_cast<std::int64_t>(Names.size()) - 1;
    p.Names = std::move(Names);
    return p;
  }
  template <class T>
  TPropInfo& Enum(const std::string& Name, std::vector<std::string> Names, T& Field) {
    return Enum(
        Name, std::move(Names), [&Field] { return Field; }, [&Field](T v) { Field = v; });
  }

  // Sets by element names: Names[i] is element i. The getter gives a TSet or an integer of bits.
  template <class G, class S>
  TPropInfo& Set(const std::string& Name, std::vector<std::string> Names, G Get, S Set) {
    using T = classes_detail::GetterResult<G>;
    TPropInfo& p = Add(Name, TPropKind::Set);
    p.GetOrd = [Get] { return classes_detail::ToOrd<T>(Get()); };
    p.SetOrd = [Set](std::int64_t v) { Set(classes_detail::FromOrd<T>(v)); };
    p.Names = std::move(Names);
    return p;
  }
  template <class T>
  TPropInfo& Set(const std::string& Name, std::vector<std::string> Names, T& Field) {
    return Set(
        Name, std::move(Names), [&Field] { return Field; }, [&Field](T v) { Field = v; });
  }

  // A reference to another component of the form, stored by name and set once the whole form
  // is read. The property holds the class the getter returns (or T, when given); a component of
  // another class is refused.
  template <class T = void, class G, class S>
  TPropInfo& Component(const std::string& Name, G Get, S Set) {
    using U = std::conditional_t<std::is_void_v<T>,
                                 std::remove_pointer_t<classes_detail::GetterResult<G>>, T>;
    TPropInfo& p = Add(Name, TPropKind::Component);
    p.GetComponent = [Get]() -> TComponent* { return Get(); };
    p.SetComponent = [Set](TComponent* c) {
      U* typed = dynamic_cast<U*>(c);
      if (c != nullptr && typed == nullptr) return false;
      Set(typed);
      return true;
    };
    return p;
  }
  template <class T>
  TPropInfo& Component(const std::string& Name, T*& Field) {
    return Component<T>(
        Name, [&Field] { return Field; }, [&Field](T* v) { Field = v; });
  }

  // An event; its signature is that of the std::function it is kept in.
  template <class Sig>
  TPropInfo& Event(const std::string& Name, std::function<Sig>& Field) {
    return Event<Sig>(
        Name, [&Field]() -> const std::function<Sig>& { return Field; },
        [&Field](std::function<Sig> v) { Field = std::move(v); });
  }
  template <class Sig, class G, class S>
  TPropInfo& Event(const std::string& Name, G Get, S Set) {
    TPropInfo& p = Add(Name, TPropKind::Event);
    p.GetHandlerName = [Get] {
      const std::function<Sig>& f = Get();
      const TNamedHandler<Sig>* h = f.template target<TNamedHandler<Sig>>();
      return h != nullptr ? h->Name : std::string();
    };
    p.SetHandler = [Set](const std::any* Handler, const std::string& HandlerName) {
      if (Handler == nullptr) {
        Set(std::function<Sig>());
        return true;
      }
      const std::function<Sig>* f = std::any_cast<std::function<Sig>>(Handler);
      if (f == nullptr) return false;
      Set(std::function<Sig>(TNamedHandler<Sig>{HandlerName, *f}));
      return true;
    };
    return p;
  }

  // A persistent object held by the property; its own properties are stored under its name
  // ("Display.Width"). Nothing is stored for a null object.
  TPropInfo& Persistent(const std::string& Name, TPersistent* Object);
  // A collection: its items, and its own properties under its name ("Items.ColorTable").
  TPropInfo& Collection(const std::string& Name, TCollection* Object);
  // Bytes that the owner reads and writes itself. HasData says whether there is anything to
  // write now.
  TPropInfo& DefineBinaryProperty(const std::string& Name, TStreamProc ReadData,
                                  TStreamProc WriteData, bool HasData);

  const std::vector<TPropInfo>& Items() const { return FItems; }
  // The property of that name (ignoring case), or nullptr.
  const TPropInfo* Find(const std::string& Name) const;

 private:
  TPropInfo& Add(const std::string& Name, TPropKind Kind);
  std::vector<TPropInfo> FItems;
};

class TPersistent : public TObject {
 public:
  // Copies Source into this object. The base asks Source to assign itself (AssignTo); when
  // neither side knows the other's class it raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(TPersistent* Source);
  // Lists the stored properties (see the top of this file). Overrides call their base first.
  virtual void DefineProperties(TPropertyDefs& Defs) {}
  // The object this one belongs to, for collections and their items.
  virtual TPersistent* GetOwner() { return nullptr; }

 protected:
  virtual void AssignTo(TPersistent* Dest);
  [[noreturn]] void AssignError(TPersistent* Source);
};

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// Makes an item of the collection's item class, appended to the collection.
using TCollectionItemClass = std::function<TCollectionItem*(TCollection* Collection)>;
template <class T>
TCollectionItemClass CollectionItemClass() {
  return [](TCollection* c) -> TCollectionItem* { return new T(c); };
}

class TCollectionItem : public TPersistent {
 public:
  // Appends the item to Collection when one is given; the item is in the list from here on,
  // while its derived constructors run.
  explicit TCollectionItem(TCollection* Collection);
  // Leaves the collection last, so the item is still in its list while derived destructors run.
  ~TCollectionItem() override;

  TCollection* Collection() const { return FCollection; }
  // Moves the item into another collection (or out of any, with nullptr).
  virtual void SetCollection(TCollection* Value);
  int ID() const { return FID; }
  // Position in the collection (-1 outside one); moving it raises EListError when out of range.
  int Index() const;
  virtual void SetIndex(int Value);
  std::string DisplayName() const { return GetDisplayName(); }
  TPersistent* GetOwner() override;

 protected:
  virtual std::string GetDisplayName() const { return ClassName(); }
  // Tells the collection that this item (or, with AllItems, the whole collection) changed.
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

class TCollection : public TPersistent {
 public:
  explicit TCollection(TCollectionItemClass ItemClass);
  TCollection(TPersistent* AOwner, TCollectionItemClass ItemClass);
  // Frees the items, last first. A derived collection whose items reach back into the derived
  // part while they are destroyed calls Clear in its own destructor (or is freed through Free,
  // which clears while the whole object still stands).
  ~TCollection() override;
  void BeforeDestruction() override;

  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  // Frees every item, one at a time, last first; each is still in the list while it is freed.
  void Clear();
  // Frees one item; EListError "List index out of bounds (%d)" when out of range.
  void Delete(int Index);
  int Count() const { return static_cast<int>(FItems.size()); }
  TCollectionItem* Items(int Index) const;
  // Assigns Value to the item at Index.
  void SetItems(int Index, TCollectionItem* Value);
  TCollectionItem* FindItemID(int ID) const;
  const TCollectionItemClass& ItemClass() const { return FItemClass; }
  TPersistent* Owner() const { return FOwner; }
  TPersistent* GetOwner() override { return FOwner; }

  // A collection takes another's items as copies of them (each new item assigned from its
  // source); anything else goes to the base.
  void Assign(TPersistent* Source) override;

  virtual void BeginUpdate() { ++FUpdateCount; }
  virtual void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

 protected:
  // Item is the item that changed, or nullptr when the whole collection did.
  virtual void Update(TCollectionItem* Item) {}
  virtual void Notify(TCollectionItem* Item, TCollectionNotification Action) {}
  // Update(nullptr) unless updates are held.
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);
  void MoveItem(int CurIndex, int NewIndex);

  TPersistent* FOwner = nullptr;
  TCollectionItemClass FItemClass;
  std::vector<TCollectionItem*> FItems;
  int FUpdateCount = 0;
  int FNextID = 0;
};

enum TComponentStateItem {
  csLoading,  // created from stored data and not yet Loaded
  csReading,  // its stored properties are being read
  csWriting,  // its stored properties are being written
  csDestroying,
  csDesigning,
  csFreeNotification
};
using TComponentState = TSet<TComponentStateItem>;
enum TOperation { opInsert, opRemove };

// Makes a component of a registered class, owned by AOwner.
using TComponentClass = std::function<TComponent*(TComponent* AOwner)>;

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  // Frees the owned components (last first, each still in the list while it is freed), tells
  // everyone who asked, and leaves the owner. Freeing through Free/FreeAndNil does the first
  // two in BeforeDestruction, while the derived parts of the component still stand.
  ~TComponent() override;
  void BeforeDestruction() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  // Names are identifiers (letters, digits, '_', not starting with a digit) and unique among
  // the owner's components, ignoring case; the empty name is allowed. EComponentError otherwise.
  virtual void SetName(const std::string& NewName);
  int Tag = 0;

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  // EListError "List index out of bounds (%d)" when out of range.
  TComponent* Components(int Index) const;
  int ComponentIndex() const;
  void SetComponentIndex(int Value);
  // The owned component of that name (ignoring case), or nullptr.
  TComponent* FindComponent(const std::string& AName) const;
  // Takes AComponent into the owned list (out of its former owner's); opInsert to everyone.
  void InsertComponent(TComponent* AComponent);
  // Lets AComponent go without freeing it; opRemove to everyone.
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, last first.
  void DestroyComponents();

  TComponentState ComponentState() const { return FComponentState; }
  // Sets or clears csDesigning here and on every owned component.
  void SetDesigning(bool Value);
  // Marks this component and every owned one csDestroying.
  void Destroying();

  // AComponent gets Notification(this, opRemove) when this component goes, and this one when
  // AComponent goes, whoever owns them.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Runs once the whole stored form is read and every reference in it set. Overrides call the
  // base, which ends csLoading.
  virtual void Loaded();
  // A component was inserted into or removed from this one's owner tree, or one that asked for
  // free notification goes. The base passes it on to every owned component; overrides clear
  // their references to a component that goes, then call the base.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // The component that encloses this one in a stored form (a control's parent); nullptr when it
  // stands directly in the root. The reader calls SetParentComponent with the enclosing object.
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* Value) {}

  void DefineProperties(TPropertyDefs& Defs) override;

  // Event handlers that stored forms bind by name (a root component registers its own).
  template <class Sig>
  void RegisterMethod(const std::string& Name, std::function<Sig> Handler) {
    AddMethod(Name, std::any(std::move(Handler)));
  }
  template <class C, class R, class... A>
  void RegisterMethod(const std::string& Name, C* Object, R (C::*Method)(A...)) {
    RegisterMethod<R(A...)>(Name, std::function<R(A...)>([Object, Method](A... Args) -> R {
                              return (Object->*Method)(std::forward<A>(Args)...);
                            }));
  }
  // The registered handler of that name (ignoring case): an std::any holding the handler's
  // std::function, or nullptr.
  const std::any* FindMethod(const std::string& Name) const;
  // A field that holds the owned component of that name: set when a component takes the name,
  // cleared when it gives it up or leaves. A component of a class the field cannot hold raises
  // EComponentError.
  template <class T>
  void RegisterField(const std::string& Name, T*& Field) {
    AddField(
        Name, [&Field]() -> TComponent* { return Field; },
        [&Field](TComponent* c) {
          T* typed = dynamic_cast<T*>(c);
          if (c != nullptr && typed == nullptr) return false;
          Field = typed;
          return true;
        });
  }

 protected:
  // Raises EComponentError when NewName would clash with another owned component.
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName,
                              const std::string& NewName);

 private:
  friend class TStoredFormReader;
  friend class TStoredFormWriter;
  struct TFieldEntry {
    std::string Name;
    std::function<TComponent*()> Get;
    std::function<bool(TComponent*)> Set;
  };
  void AddMethod(const std::string& Name, std::any Handler);
  void AddField(const std::string& Name, std::function<TComponent*()> Get,
                std::function<bool(TComponent*)> Set);
  // Points the owner's field of this component's name at it (or clears it).
  void SetReference(bool Enable);
  void ReleaseLinks();
  void Remove(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState;
  bool FLinksReleased = false;
  bool FInDestructor = false;
  std::vector<std::pair<std::string, std::any>> FMethods;
  std::vector<TFieldEntry> FFields;
};

// The registry of component classes that stored forms may name. Registering a name again
// replaces the earlier factory.
void RegisterClass(const std::string& ClassName, TComponentClass Factory);
template <class T>
void RegisterClass(const std::string& ClassName) {
  RegisterClass(ClassName, [](TComponent* AOwner) -> TComponent* { return new T(AOwner); });
}
void UnRegisterClass(const std::string& ClassName);
// The factory of the class (ignoring case); EClassNotFound "Class %s not found" when missing.
TComponentClass FindClass(const std::string& ClassName);
// As FindClass, but nullptr when missing.
const TComponentClass* GetClass(const std::string& ClassName);

// Reads a stored form into Root (whose own class the caller made): sets Root's name and
// properties, creates the components it lists (owned by Root), sets references once all are
// read, then calls Loaded on Root and on every created component in creation order. Damaged
// text raises EReadError naming the line. On any failure the components created so far are
// freed again before the exception goes on.
void ReadStoredForm(TComponent* Root, const std::string& Text);
// The stored form of Root and the components it owns. ReadStoredForm of the result gives back
// the same text when written again.
std::string WriteStoredForm(TComponent* Root);

// Stored forms built into the program, by the class name of their form.
void RegisterFormResource(const std::string& FormClassName, std::string Text);
// Takes the text out again (tests that register one of their own).
void UnregisterFormResource(const std::string& FormClassName);
// The registered text, or nullptr.
const std::string* FindFormResource(const std::string& FormClassName);
// Reads the stored form registered under Root's class name; false (and nothing done) when
// there is none.
bool ReadFormResource(TComponent* Root);
