// sx::com::ComPtr<T>: holds one reference to a COM interface and releases it when it goes.
//
// Copying AddRefs, moving transfers, destruction Releases. Not thread-safe itself (like any value);
// the object it points to decides from which threads it may be called.
#pragma once

#include <cstddef>
#include <utility>

#include "com/unknown.h"

namespace sx::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to `p` (AddRef).
  ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out-parameters: releases what is held and hands out the slot (T** or void**).
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  T** GetAddressOf() { return &p_; }
  void** PutVoid() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // Takes over a reference the caller owns (no AddRef); Detach hands it back (no Release).
  void Attach(T* p) {
    if (p_ != p) Reset();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  // AddRefs and hands out the pointer (E_POINTER for a null `out`).
  HRESULT CopyTo(T** out) const {
    if (out == nullptr) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  // Releases the reference; returns the count Release reported (0 when nothing was held).
  ULONG Reset() {
    T* p = std::exchange(p_, nullptr);
    return p ? p->Release() : 0;
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  // QueryInterface for U: S_OK and the interface in *out, or the failure (and *out null).
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (p_ == nullptr) {
      *out = nullptr;
      return E_POINTER;
    }
    return p_->QueryInterface(U::kIid, out->PutVoid());
  }
  // QueryInterface for U; null when the object does not have it.
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> out;
    (void)As(&out);
    return out;
  }

 private:
  T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
  return a.Get() == b.Get();
}
template <class T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) {
  return a.Get() == nullptr;
}

}  // namespace sx::com
