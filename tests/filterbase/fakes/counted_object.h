// Small plain COM objects for the framework's tests: each counts its own
// references without ever deleting itself (they live on the test's stack), so
// a test can check that every reference the framework took was given back.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "filterbase/media_type.h"
#include "platform/com/unknown.h"
#include "platform/media/media.h"

namespace fbtest {

// Reference counting for a stack-held fake; RefCount() is what is still held.
template <class Interface>
class CountedObject : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG RefCount() const { return refs.load(); }

 protected:
  ~CountedObject() = default;
  std::atomic<ULONG> refs{0};
};

// An object that is only ever a pUnk of a media type.
class CountedUnknown final : public CountedObject<IUnknown> {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IUnknown *>(this);
    AddRef();
    return S_OK;
  }
};

// A media type with the given GUIDs and, when `format` is not empty, a format
// block holding those bytes.
inline MediaTypeRecord MakeType(const GUID &major, const GUID &sub, const GUID &formatType,
                                const std::vector<BYTE> &format = {}) {
  AM_MEDIA_TYPE plain{};
  ResetMediaType(&plain);
  plain.majortype = major;
  plain.subtype = sub;
  plain.formattype = formatType;
  plain.cbFormat = static_cast<ULONG>(format.size());
  plain.pbFormat = format.empty() ? nullptr : const_cast<BYTE *>(format.data());
  return MediaTypeRecord(plain);  // deep copy: the record owns its block
}

// A subtype GUID numbered n, to tell types apart in the tests.
inline GUID TestSubtype(uint32_t n) {
  return GUID{0x5EB70000u + n, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
}
inline GUID TestFormat(uint32_t n) {
  return GUID{0xF0F00000u + n, 0x3333, 0x4444, {8, 7, 6, 5, 4, 3, 2, 1}};
}

}  // namespace fbtest
