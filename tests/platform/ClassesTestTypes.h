// Small stored classes shared by the component and stored-form tests: one of every kind of
// property, a collection with a binary property of its own, and a form that registers handlers
// and fields.
#pragma once

#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"

namespace classes_test {

// What happened, in order, across all test objects.
inline std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}

enum TTestBorder { tbNone, tbSingle, tbSizeable };
enum TTestOption { toAlpha, toBeta, toGamma };
using TTestOptions = TSet<TTestOption>;

// A nested object with a binary property that holds whatever bytes it is given.
class TTestBlob : public TPersistent {
 public:
  int Width = 0;
  double Gain = 1;
  std::vector<std::uint8_t> Bytes;
  std::int64_t SizeSeen = -1;  // the size of the stream the reader handed over

  void DefineProperties(TPropertyDefs& P) override {
    TPersistent::DefineProperties(P);
    P.Int("Width", Width).Default(0);
    P.Float("Gain", Gain).Default(1);
    P.DefineBinaryProperty(
        "Data",
        [this](TStream* S) {
          SizeSeen = S->Size();
          Bytes.assign(static_cast<std::size_t>(S->Size() - S->Position()), 0);
          if (!Bytes.empty()) S->ReadBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
        },
        [this](TStream* S) {
          if (!Bytes.empty()) S->WriteBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
        },
        !Bytes.empty());
  }
  void Assign(TPersistent* Source) override {
    if (auto* b = dynamic_cast<TTestBlob*>(Source)) {
      Width = b->Width;
      Bytes = b->Bytes;
      return;
    }
    TPersistent::Assign(Source);
  }
};

class TTestItem : public TCollectionItem {
 public:
  explicit TTestItem(TCollection* C) : TCollectionItem(C), Wave(new TTestBlob) {}
  ~TTestItem() override {
    Log().push_back("~item " + Name + " at " + std::to_string(Index()));
    delete Wave;
  }
  std::string Name;
  int Value = 0;
  TTestBlob* Wave;
  TComponent* Link = nullptr;

  void DefineProperties(TPropertyDefs& P) override {
    TCollectionItem::DefineProperties(P);
    P.String("Name", Name);
    P.Int("Value", Value).Default(0);
    P.Persistent("Wave", Wave);
    P.Component("Link", Link);
  }
  void Assign(TPersistent* Source) override {
    if (auto* i = dynamic_cast<TTestItem*>(Source)) {
      Name = i->Name;
      Value = i->Value;
      Wave->Assign(i->Wave);
      return;
    }
    TCollectionItem::Assign(Source);
  }
  void Touch(bool All) { Changed(All); }
};

class TTestCollection : public TCollection {
 public:
  explicit TTestCollection(TPersistent* AOwner)
      : TCollection(AOwner, CollectionItemClass<TTestItem>()) {}
  ~TTestCollection() override { Clear(); }
  TTestItem* Items(int I) const { return static_cast<TTestItem*>(TCollection::Items(I)); }

  // Read and written whole, exactly 8 bytes.
  std::uint8_t ColorTable[8] = {};
  std::vector<std::string> Updates;

  void DefineProperties(TPropertyDefs& P) override {
    TCollection::DefineProperties(P);
    P.DefineBinaryProperty(
        "ColorTable", [this](TStream* S) { S->ReadBuffer(ColorTable, sizeof ColorTable); },
        [this](TStream* S) { S->WriteBuffer(ColorTable, sizeof ColorTable); }, true);
  }

 protected:
  void Update(TCollectionItem* Item) override {
    Updates.push_back(Item ? static_cast<TTestItem*>(Item)->Name : std::string("*"));
  }
};

class TTestComp : public TComponent {
 public:
  explicit TTestComp(TComponent* AOwner)
      : TComponent(AOwner), Blob(new TTestBlob), Items(new TTestCollection(this)) {}
  ~TTestComp() override {
    Log().push_back("~" + Name() +
                    (Owner() && Owner()->FindComponent(Name()) == this ? " listed" : " unlisted"));
    delete Items;
    delete Blob;
  }

  // The test classes live in a namespace; stored forms know them by their plain names.
  const char* ClassName() const override { return "TTestComp"; }

  int Count = 0;
  std::uint8_t Small = 0;
  bool Flag = false;
  double Speed = 0;
  std::string Caption;
  TTestBorder Border = tbSingle;
  TTestOptions Options{toAlpha};
  TTestComp* Buddy = nullptr;
  TNotifyEvent OnClick;
  std::function<void(TObject*, bool&)> OnIdle;
  TTestBlob* Blob;
  TTestCollection* Items;
  TComponent* Parent = nullptr;
  bool FailLoaded = false;
  bool BuddySeenInLoaded = false;

  void DefineProperties(TPropertyDefs& P) override {
    TComponent::DefineProperties(P);
    P.Int("Count", Count);
    P.Int("Small", Small).Default(0);
    P.Bool("Flag", Flag).Default(false);
    P.Float("Speed", Speed).Default(0.0);
    P.String("Caption", Caption);
    P.Enum("Border", {"tbNone", "tbSingle", "tbSizeable"}, Border).Default(tbSingle);
    P.Set("Options", {"toAlpha", "toBeta", "toGamma"}, Options).Default(TTestOptions{toAlpha});
    P.Component(
        "Buddy", [this] { return Buddy; }, [this](TTestComp* c) { SetBuddy(c); });
    P.Event("OnClick", OnClick);
    P.Event("OnIdle", OnIdle);
    P.Persistent("Blob", Blob);
    P.Collection("Items", Items);
    P.Bool("FailLoaded", FailLoaded).Default(false);
  }
  void SetBuddy(TTestComp* C) {
    if (C == Buddy) return;
    Buddy = C;
    if (C != nullptr) C->FreeNotification(this);
  }
  void Loaded() override {
    TComponent::Loaded();
    BuddySeenInLoaded = Buddy != nullptr;
    Log().push_back("Loaded " + Name());
    if (FailLoaded) throw EInvalidOperation("Loaded failed");
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove && AComponent == Buddy) Buddy = nullptr;
    TComponent::Notification(AComponent, Operation);
  }
  TComponent* GetParentComponent() const override { return Parent; }
  void SetParentComponent(TComponent* Value) override {
    Parent = Value == Owner() ? nullptr : Value;
  }
};

// A component whose Count setter refuses negative values, as a setter with checks would.
class TTestStrict : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TTestStrict"; }
  int Count = 0;
  void DefineProperties(TPropertyDefs& P) override {
    TComponent::DefineProperties(P);
    P.Int(
        "Count", [this] { return Count; },
        [this](int v) {
          if (v < 0) throw EInvalidOperation("Count must not be negative");
          Count = v;
        });
  }
};

class TTestForm : public TTestComp {
 public:
  explicit TTestForm(TComponent* AOwner = nullptr) : TTestComp(AOwner) {
    RegisterMethod("FormClick", this, &TTestForm::FormClick);
    RegisterMethod("FormIdle", this, &TTestForm::FormIdle);
    RegisterField("Comp1", Comp1);
    RegisterField("Strict1", Strict1);
  }
  const char* ClassName() const override { return "TTestForm"; }
  TTestComp* Comp1 = nullptr;
  TTestStrict* Strict1 = nullptr;
  int Clicks = 0;
  void FormClick(TObject* Sender) { ++Clicks; }
  void FormIdle(TObject* Sender, bool& Done) { Done = false; }
};

inline void RegisterTestClasses() {
  RegisterClass<TTestComp>("TTestComp");
  RegisterClass<TTestStrict>("TTestStrict");
}

}  // namespace classes_test
