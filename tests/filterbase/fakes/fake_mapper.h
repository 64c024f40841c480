// A filter mapper that writes every call to a log ("RegisterPin:In", ...) and
// answers with what the test scripted per call name (S_OK otherwise), and the
// registration that makes CoCreateInstance(CLSID_FilterMapper) hand it out.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakeMapper final : public CountedObject<IFilterMapper> {
 public:
  ~FakeMapper() = default;
  std::vector<std::wstring> calls;
  std::map<std::wstring, HRESULT> results;  // by call text

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IFilterMapper) return E_NOINTERFACE;
    *out = static_cast<IFilterMapper *>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP RegisterFilter(CLSID, LPCWSTR name, DWORD merit) override {
    return Answer(L"RegisterFilter:" + std::wstring(name) + L":" + std::to_wstring(merit));
  }
  STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID *) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterPin(CLSID, LPCWSTR name, BOOL rendered, BOOL output, BOOL, BOOL, CLSID,
                           LPCWSTR) override {
    return Answer(L"RegisterPin:" + std::wstring(name) + (rendered ? L":rendered" : L"") +
                  (output ? L":output" : L""));
  }
  STDMETHODIMP RegisterPinType(CLSID, LPCWSTR pin, CLSID, CLSID sub) override {
    return Answer(L"RegisterPinType:" + std::wstring(pin) + L":" + std::to_wstring(sub.Data1));
  }
  STDMETHODIMP UnregisterFilter(CLSID) override { return Answer(L"UnregisterFilter"); }
  STDMETHODIMP UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters **, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL,
                                   CLSID, CLSID) override {
    return E_NOTIMPL;
  }

 private:
  HRESULT Answer(const std::wstring &call) {
    calls.push_back(call);
    auto found = results.find(call);
    return found != results.end() ? found->second : S_OK;
  }
};

// While alive, CLSID_FilterMapper hands out `mapper` and counts the requests.
class MapperRegistration {
 public:
  explicit MapperRegistration(FakeMapper *served) {
    mapper = served;
    created = 0;
    StandInRegisterClass(CLSID_FilterMapper, &Create);
  }
  ~MapperRegistration() {
    StandInRegisterClass(CLSID_FilterMapper, nullptr);
    mapper = nullptr;
  }
  MapperRegistration(const MapperRegistration &) = delete;
  MapperRegistration &operator=(const MapperRegistration &) = delete;
  static int Created() { return created; }

 private:
  static HRESULT Create(LPUNKNOWN, REFIID iid, void **out) {
    ++created;
    return mapper->QueryInterface(iid, out);
  }
  static inline FakeMapper *mapper = nullptr;
  static inline int created = 0;
};

}  // namespace fbtest
