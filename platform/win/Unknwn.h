// The reference-counted interface base every DirectX stand-in object derives from. Callers
// hold interface pointers and give them back with Release; the object deletes itself when the
// last reference goes, so no caller ever deletes one directly.
#pragma once

#include "platform/win/WinTypes.h"

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Reference counting for one stand-in class: starts at 1 for the creator's reference.
template <class Interface>
class TRefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++RefCount; }
  ULONG Release() override {
    const ULONG left = --RefCount;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ULONG RefCount = 1;
};
