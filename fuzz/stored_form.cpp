// Any text given to the stored-form reader builds a form or fails with an exception of the class
// library, leaving no component behind. What builds is written, read and written again, and the
// two texts must agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"

namespace {

enum TKind { kOne, kTwo, kThree };
enum TFlag { fA, fB, fC, fD };

class TBlob : public TPersistent {
 public:
  int Width = 0;
  std::vector<std::uint8_t> Bytes;
  void DefineProperties(TPropertyDefs& P) override {
    P.Int("Width", Width).Default(0);
    P.DefineBinaryProperty(
        "Data",
        [this](TStream* S) {
          Bytes.assign(static_cast<std::size_t>(S->Size()), 0);
          if (!Bytes.empty()) S->ReadBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
        },
        [this](TStream* S) {
          if (!Bytes.empty()) S->WriteBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
        },
        !Bytes.empty());
  }
};

class TFuzzItem : public TCollectionItem {
 public:
  explicit TFuzzItem(TCollection* C) : TCollectionItem(C) {}
  std::string Name;
  TBlob Wave;
  TComponent* Link = nullptr;
  void DefineProperties(TPropertyDefs& P) override {
    P.String("Name", Name);
    P.Persistent("Wave", &Wave);
    P.Component("Link", Link);
  }
};

class TFuzzItems : public TCollection {
 public:
  TFuzzItems() : TCollection(CollectionItemClass<TFuzzItem>()) {}
  ~TFuzzItems() override { Clear(); }
  std::uint8_t Table[4] = {};
  void DefineProperties(TPropertyDefs& P) override {
    P.DefineBinaryProperty(
        "Table", [this](TStream* S) { S->ReadBuffer(Table, sizeof Table); },
        [this](TStream* S) { S->WriteBuffer(Table, sizeof Table); }, true);
  }
};

class TFuzzComp : public TComponent {
 public:
  explicit TFuzzComp(TComponent* AOwner) : TComponent(AOwner) {}
  const char* ClassName() const override { return "TFuzzComp"; }
  int Count = 0;
  std::int16_t Short = 0;
  bool Flag = false;
  double Speed = 0;
  std::string Caption;
  TKind Kind = kOne;
  TSet<TFlag> Flags;
  TFuzzComp* Buddy = nullptr;
  TNotifyEvent OnClick;
  std::function<void(TObject*, bool&)> OnIdle;
  TBlob Blob;
  TFuzzItems Items;
  TComponent* Parent = nullptr;

  void DefineProperties(TPropertyDefs& P) override {
    TComponent::DefineProperties(P);
    P.Int("Count", Count);
    P.Int("Short", Short).Default(0);
    P.Bool("Flag", Flag).Default(false);
    P.Float("Speed", Speed);
    P.String("Caption", Caption);
    P.Enum("Kind", {"kOne", "kTwo", "kThree"}, Kind).Default(kOne);
    P.Set("Flags", {"fA", "fB", "fC", "fD"}, Flags);
    P.Component(
        "Buddy", [this] { return Buddy; },
        [this](TFuzzComp* c) {
          Buddy = c;
          if (c != nullptr) c->FreeNotification(this);
        });
    P.Event("OnClick", OnClick);
    P.Event("OnIdle", OnIdle);
    P.Persistent("Blob", &Blob);
    P.Collection("Items", &Items);
    // A setter with a check of its own, and a Loaded that can fail.
    P.Int(
         "Limit", [] { return 0; },
         [](int v) {
           if (v < 0) throw EInvalidOperation("negative");
         })
        .Default(0);
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove && AComponent == Buddy) Buddy = nullptr;
    TComponent::Notification(AComponent, Operation);
  }
  void Loaded() override {
    TComponent::Loaded();
    if (Count == 13) throw EInvalidOperation("unlucky");
  }
  TComponent* GetParentComponent() const override { return Parent; }
  void SetParentComponent(TComponent* Value) override {
    Parent = Value == Owner() ? nullptr : Value;
  }
};

class TFuzzForm : public TFuzzComp {
 public:
  TFuzzForm() : TFuzzComp(nullptr) {
    RegisterMethod("Click", this, &TFuzzForm::Click);
    RegisterMethod("Idle", this, &TFuzzForm::Idle);
    RegisterField("Comp1", Comp1);
  }
  const char* ClassName() const override { return "TFuzzForm"; }
  TFuzzComp* Comp1 = nullptr;
  void Click(TObject*) {}
  void Idle(TObject*, bool& Done) { Done = false; }
};

// Another class, so a field may be given the wrong one.
class TOther : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TOther"; }
};

bool Read(TFuzzForm& Form, const std::string& Text) {
  try {
    ReadStoredForm(&Form, Text);
    return true;
  } catch (const Exception&) {
    if (Form.ComponentCount() != 0) __builtin_trap();  // something half-built was left
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] {
    RegisterClass<TFuzzComp>("TFuzzComp");
    RegisterClass<TOther>("TOther");
    return true;
  }();
  (void)registered;

  const std::string text(reinterpret_cast<const char*>(data), size);
  TFuzzForm form;
  if (!Read(form, text)) return 0;
  const std::string first = WriteStoredForm(&form);
  TFuzzForm again;
  if (!Read(again, first)) __builtin_trap();
  if (WriteStoredForm(&again) != first) __builtin_trap();
  return 0;
}
