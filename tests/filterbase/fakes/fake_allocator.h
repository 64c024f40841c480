// A memory allocator that only counts, and the registration that makes
// CoCreateInstance(CLSID_MemoryAllocator) hand out instances of it.
#pragma once

#include <memory>
#include <vector>

#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakeAllocator final : public CountedObject<IMemAllocator> {
 public:
  ~FakeAllocator() = default;
  int commits = 0;
  int decommits = 0;
  HRESULT decommitResult = S_OK;

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IMemAllocator) return E_NOINTERFACE;
    *out = static_cast<IMemAllocator *>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES *, ALLOCATOR_PROPERTIES *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override {
    ++commits;
    return S_OK;
  }
  STDMETHODIMP Decommit() override {
    ++decommits;
    return decommitResult;
  }
  STDMETHODIMP GetBuffer(IMediaSample **, REFERENCE_TIME *, REFERENCE_TIME *, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample *) override { return E_NOTIMPL; }
};

// While alive, CLSID_MemoryAllocator creates FakeAllocators owned by this
// object (so they outlive the pins' references in every test). One at a time.
class AllocatorRegistration {
 public:
  AllocatorRegistration() {
    current = this;
    StandInRegisterClass(CLSID_MemoryAllocator, &Create);
  }
  ~AllocatorRegistration() {
    StandInRegisterClass(CLSID_MemoryAllocator, nullptr);
    current = nullptr;
  }
  AllocatorRegistration(const AllocatorRegistration &) = delete;
  AllocatorRegistration &operator=(const AllocatorRegistration &) = delete;

  int Created() const { return static_cast<int>(made.size()); }
  FakeAllocator *Last() const { return made.empty() ? nullptr : made.back().get(); }
  FakeAllocator *At(int i) const { return made[static_cast<size_t>(i)].get(); }

 private:
  static HRESULT Create(LPUNKNOWN outer, REFIID iid, void **out) {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    current->made.push_back(std::make_unique<FakeAllocator>());
    return current->made.back()->QueryInterface(iid, out);
  }

  static inline AllocatorRegistration *current = nullptr;
  std::vector<std::unique_ptr<FakeAllocator>> made;
};

}  // namespace fbtest
