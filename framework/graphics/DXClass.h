// Base classes of the framework: TDirectX (the root of the DirectX wrappers), EDirectXError, and
// THashCollection / THashCollectionItem, collections of named items found by name, without
// regard to letter case, through 256 hash buckets.
#pragma once

#include <string>

#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinTypes.h"

// Root of the DirectX wrapper exceptions (EDirectDrawError, EDirectSoundError and their kin).
// The framework's other errors derive from Exception directly, so a handler for this one does
// not catch them.
MORVANE_DECLARE_EXCEPTION(EDirectXError, Exception)

// Stores the result of each DirectX call a wrapper makes. Wrappers report success as a truth
// value (ResultCode() == 0) or raise their own errors; SetResultCode itself never raises.
class TDirectX : public TPersistent {
 public:
  HRESULT ResultCode() const { return FResultCode; }
  // Stores Value; when it is not 0, calls CheckResult afterwards.
  void SetResultCode(HRESULT Value);

 protected:
  // Sees every failed call of the object; empty here.
  virtual void CheckResult() {}

 private:
  HRESULT FResultCode = 0;
};

// The bucket of a name: with s the name lower-cased (A..Z to a..z) and L its length in bytes,
// (L shl 4 + (when L >= 2) the byte s[L-1] + the byte s[1], counting from 1) and 255. The
// second-to-last byte is used, not the last. Bytes count as unsigned values.
int HashName(const std::string& Name);

class THashCollection;

// An item with a Name, linked into the bucket chain of its name in its collection from its
// constructor to its destructor. CachedIndex always equals the item's position.
class THashCollectionItem : public TCollectionItem {
 public:
  // Appended to Collection, with an empty name (bucket 0).
  explicit THashCollectionItem(TCollection* Collection);
  ~THashCollectionItem() override;

  const std::string& Name() const { return FName; }
  // A different name (compared exactly) re-links the item at the head of its new chain; a
  // rename that only changes letter case stays in its bucket but still moves to the head.
  void SetName(const std::string& Value);
  int CachedIndex() const { return FCachedIndex; }
  int Bucket() const { return FBucket; }
  THashCollectionItem* Prev() const { return FPrev; }
  THashCollectionItem* Next() const { return FNext; }

  // From another hash item: its Name and nothing else (descendants copy their own fields);
  // anything else goes to the class library's assignment, which refuses it.
  void Assign(TPersistent* Source) override;
  void SetIndex(int Value) override;
  void SetCollection(TCollection* Value) override;
  void DefineProperties(TPropertyDefs& Defs) override;

 protected:
  std::string GetDisplayName() const override;

 private:
  THashCollection* HashCollection() const;
  void AddHash();
  void RemoveHash();
  // Joins / leaves the collection's positions and hash.
  void EnterHash();
  void LeaveHash();

  int FBucket = 0;
  int FCachedIndex = -1;
  std::string FName;
  THashCollectionItem* FPrev = nullptr;
  THashCollectionItem* FNext = nullptr;
  bool FLinked = false;
};

class THashCollection : public TCollection {
 public:
  explicit THashCollection(TCollectionItemClass ItemClass);
  THashCollection(TPersistent* AOwner, TCollectionItemClass ItemClass);
  // Frees the items here, while the buckets they unlink from still exist. A descendant whose
  // items reach back into its own part while they are destroyed clears in its destructor too.
  ~THashCollection() override;

  // The position of the item whose name equals Name ignoring case, or -1. When several items
  // bear the name, the one whose name was set last wins. One hash and one chain walk.
  int IndexOfName(const std::string& Name) const;

  static constexpr int BucketCount = 256;
  THashCollectionItem* Buckets[BucketCount] = {};
};

// The base form and window-procedure hooks of this unit have files of their own.
#include "framework/graphics/ControlSubClass.h"
#include "framework/graphics/DXForm.h"
