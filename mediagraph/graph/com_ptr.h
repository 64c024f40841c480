// Owning smart pointer for one counted reference on a component interface.
#pragma once

#include <utility>

#include "platform/com/unknown.h"

namespace mediagraph {

// Holds at most one reference; releases it on destruction or reset. Adopt() takes
// over a reference the caller already owns (the result of an out-pointer call).
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes a new reference on `p`.
  explicit ComPtr(T *p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr &other) : ComPtr(other.p_) {}
  ComPtr(ComPtr &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr &operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  static ComPtr Adopt(T *p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  void reset() {
    if (T *old = std::exchange(p_, nullptr)) old->Release();
  }
  // Out-pointer for calls that hand back a new reference; drops the current one first.
  T **put() {
    reset();
    return &p_;
  }
  void **put_void() { return reinterpret_cast<void **>(put()); }
  // Gives up ownership without releasing.
  T *detach() { return std::exchange(p_, nullptr); }

  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Queries `iid` into a new pointer; empty on failure.
  template <typename U>
  ComPtr<U> As(REFIID iid) const {
    ComPtr<U> out;
    if (p_) p_->QueryInterface(iid, out.put_void());
    return out;
  }

 private:
  T *p_ = nullptr;
};

}  // namespace mediagraph
