// An owning reference to an IUnknown-derived interface: AddRef on copy, Release when dropped.
// The framework's wrappers keep their interfaces in these, so a reference is given back exactly
// once, whichever way the wrapper goes.
#pragma once

#include <utility>

#include "platform/win/Unknwn.h"

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p (p keeps its own).
  explicit ComPtr(T* p) : Ptr(p) {
    if (Ptr) Ptr->AddRef();
  }
  ComPtr(const ComPtr& o) : Ptr(o.Ptr) {
    if (Ptr) Ptr->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : Ptr(std::exchange(o.Ptr, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& o) {
    if (o.Ptr) o.Ptr->AddRef();
    Reset();
    Ptr = o.Ptr;
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      Ptr = std::exchange(o.Ptr, nullptr);
    }
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns (the result of a Create or QueryInterface).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.Ptr = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(Ptr, nullptr); }

  void Reset() {
    if (T* p = std::exchange(Ptr, nullptr)) p->Release();
  }
  T* Get() const { return Ptr; }
  T* operator->() const { return Ptr; }
  explicit operator bool() const { return Ptr != nullptr; }
  // The address to receive a new reference; whatever was held is released first.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &Ptr;
  }

  // Asks the held object for another interface; an empty result on failure.
  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>& out) const {
    out.Reset();
    if (!Ptr) return E_POINTER;
    void* p = nullptr;
    const HRESULT hr = Ptr->QueryInterface(iid, &p);
    if (SUCCEEDED(hr)) out = ComPtr<U>::Attach(static_cast<U*>(p));
    return hr;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.Ptr == b.Ptr; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.Ptr == nullptr; }

 private:
  T* Ptr = nullptr;
};
