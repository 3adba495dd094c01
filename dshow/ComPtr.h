// One owning COM pointer: Release in one place, so no method of the filter calls it by hand.
#pragma once

#include <unknwn.h>

#include <utility>

namespace tovira::dshow {

template <class T> class ComPtr {
public:
  ComPtr() = default;
  ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }   // shares: AddRef
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }

  static ComPtr adopt(T* p) { ComPtr c; c.p_ = p; return c; }  // takes over a reference already counted
  void reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
  T** put() { reset(); return &p_; }                             // for out parameters
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  T* detach() { return std::exchange(p_, nullptr); }            // hands the reference to a caller
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  template <class U> ComPtr<U> as(REFIID iid) const {
    ComPtr<U> out;
    if (p_) p_->QueryInterface(iid, out.putVoid());
    return out;
  }

private:
  T* p_ = nullptr;
};

} // namespace tovira::dshow
