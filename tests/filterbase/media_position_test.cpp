// The automation part of the position interface against a fake automation
// library (fake_automation/), which this test finds as "OleAut32.dll".
#include "filterbase/media_position.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/media/guids.h"
#include "platform/win32/modules.h"

namespace {

template <class Interface>
class Counted : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  int references = 0;
};

class FakeTypeInfo : public Counted<ITypeInfo> {
 public:
  STDMETHODIMP GetTypeAttr(TYPEATTR **) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeComp(ITypeComp **) override { return E_NOTIMPL; }
  STDMETHODIMP GetFuncDesc(UINT, FUNCDESC **) override { return E_NOTIMPL; }
  STDMETHODIMP GetVarDesc(UINT, VARDESC **) override { return E_NOTIMPL; }
  STDMETHODIMP GetNames(MEMBERID, BSTR *, UINT, UINT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetRefTypeOfImplType(UINT, HREFTYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP GetImplTypeFlags(UINT, INT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(LPOLESTR *names, UINT count, MEMBERID *ids) override {
    seenNames = names;
    seenCount = count;
    if (ids != nullptr) *ids = 42;
    return idsResult;
  }
  STDMETHODIMP Invoke(LPVOID instance, MEMBERID id, WORD flags, DISPPARAMS *params,
                      VARIANT *result, EXCEPINFO *exception, UINT *argError) override {
    seenInstance = instance;
    seenId = id;
    seenFlags = flags;
    seenParams = params;
    seenResult = result;
    seenException = exception;
    seenArgError = argError;
    return invokeResult;
  }

  HRESULT idsResult = S_OK;
  HRESULT invokeResult = S_OK;
  LPOLESTR *seenNames = nullptr;
  UINT seenCount = 0;
  LPVOID seenInstance = nullptr;
  MEMBERID seenId = 0;
  WORD seenFlags = 0;
  DISPPARAMS *seenParams = nullptr;
  VARIANT *seenResult = nullptr;
  EXCEPINFO *seenException = nullptr;
  UINT *seenArgError = nullptr;
};

class FakeTypeLib : public Counted<ITypeLib> {
 public:
  STDMETHODIMP_(UINT) GetTypeInfoCount() override { return 1; }
  STDMETHODIMP GetTypeInfo(UINT, ITypeInfo **) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfoType(UINT, DWORD *) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **info) override {
    ++lookups;
    seenGuid = guid;
    if (FAILED(lookupResult)) return lookupResult;
    *info = &typeInfo;
    typeInfo.AddRef();
    return S_OK;
  }

  FakeTypeInfo typeInfo;
  HRESULT lookupResult = S_OK;
  int lookups = 0;
  GUID seenGuid = GUID_NULL;
};

// What the fake library's entry points see and answer, for the current test.
struct Loaders {
  FakeTypeLib library;
  HRESULT registeredResult = S_OK;
  HRESULT fileResult = S_OK;
  int registeredCalls = 0;
  int fileCalls = 0;
  GUID libid = GUID_NULL;
  WORD major = 0;
  WORD minor = 0;
  LCID locale = 0;
  std::wstring file;
};
Loaders *loaders = nullptr;

HRESULT LoadRegistered(REFGUID libid, WORD major, WORD minor, LCID locale, ITypeLib **library) {
  ++loaders->registeredCalls;
  loaders->libid = libid;
  loaders->major = major;
  loaders->minor = minor;
  loaders->locale = locale;
  if (FAILED(loaders->registeredResult)) return loaders->registeredResult;
  *library = &loaders->library;
  loaders->library.AddRef();
  return S_OK;
}

HRESULT LoadFile(LPCOLESTR file, ITypeLib **library) {
  ++loaders->fileCalls;
  loaders->file = file;
  if (FAILED(loaders->fileResult)) return loaders->fileResult;
  *library = &loaders->library;
  loaders->library.AddRef();
  return S_OK;
}

// The smallest concrete position object; its IMediaPosition operations are
// never called here.
class CTestPosition : public CMediaPosition {
 public:
  CTestPosition() : CMediaPosition(L"position", nullptr) {}
  STDMETHODIMP get_Duration(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_CurrentPosition(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP get_CurrentPosition(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP get_StopTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_StopTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP get_PrerollTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP put_Rate(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Rate(double *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekForward(LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekBackward(LONG *) override { return E_NOTIMPL; }
};

bool FakeLibraryIsMapped() {
  void *mapped = dlopen("OleAut32.dll", RTLD_NOW | RTLD_NOLOAD);
  if (mapped == nullptr) return false;
  dlclose(mapped);
  return true;
}

// Keeps the fake library loaded for the test and installs its loaders.
class MediaPositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loaders = &state;
    library = LoadLibraryW(L"OleAut32.dll");
    ASSERT_NE(library, nullptr) << "the fake automation library was not built beside the test";
    auto install = reinterpret_cast<void (*)(LoadRegTypeLibFn, LoadTypeLibFn)>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "FakeAutomationSetLoaders")));
    ASSERT_NE(install, nullptr);
    install(&LoadRegistered, &LoadFile);
    position = new CTestPosition;
    position->NonDelegatingUnknown()->AddRef();
    dispatch = position;
  }
  void TearDown() override {
    if (position != nullptr) {
      EXPECT_EQ(position->NonDelegatingUnknown()->Release(), 0u);
    }
    EXPECT_EQ(state.library.references, 0);
    EXPECT_EQ(state.library.typeInfo.references, 0);
    if (library != nullptr) {
      auto install = reinterpret_cast<void (*)(LoadRegTypeLibFn, LoadTypeLibFn)>(
          reinterpret_cast<void (*)()>(GetProcAddress(library, "FakeAutomationSetLoaders")));
      if (install != nullptr) install(nullptr, nullptr);
      FreeLibrary(library);
    }
    loaders = nullptr;
  }

  Loaders state;
  HMODULE library = nullptr;
  CTestPosition *position = nullptr;
  IDispatch *dispatch = nullptr;
};

TEST_F(MediaPositionTest, TypeInfoComesFromTheRegisteredLibraryOnceAndIsCached) {
  ITypeInfo *info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0x409, &info), S_OK);
  EXPECT_EQ(info, &state.library.typeInfo);
  EXPECT_EQ(state.registeredCalls, 1);
  EXPECT_EQ(state.libid, LIBID_QuartzTypeLib);
  EXPECT_EQ(state.major, 1);
  EXPECT_EQ(state.minor, 0);
  EXPECT_EQ(state.locale, 0x409u);
  EXPECT_EQ(state.fileCalls, 0);
  EXPECT_EQ(state.library.seenGuid, IID_IMediaPosition);
  EXPECT_EQ(state.library.references, 0);         // the library is let go at once
  EXPECT_EQ(state.library.typeInfo.references, 2);  // the cache's and ours
  info->Release();

  ASSERT_EQ(dispatch->GetTypeInfo(0, 0x409, &info), S_OK);
  EXPECT_EQ(state.registeredCalls, 1);
  EXPECT_EQ(state.library.lookups, 1);
  info->Release();

  // The object's destruction gives the cached reference back.
  EXPECT_EQ(position->NonDelegatingUnknown()->Release(), 0u);
  position = nullptr;
  EXPECT_EQ(state.library.typeInfo.references, 0);
}

TEST_F(MediaPositionTest, MissingRegistrationFallsBackToTheLibraryFile) {
  state.registeredResult = MAKE_HRESULT_CONST(0x8002801D);
  ITypeInfo *info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
  EXPECT_EQ(state.fileCalls, 1);
  EXPECT_EQ(state.file, L"control.tlb");
  EXPECT_EQ(info, &state.library.typeInfo);
  info->Release();
}

TEST_F(MediaPositionTest, LoaderAndLookupFailuresAreReturnedAndNothingIsCached) {
  state.registeredResult = MAKE_HRESULT_CONST(0x8002801D);
  state.fileResult = MAKE_HRESULT_CONST(0x80029C4A);
  ITypeInfo *info = reinterpret_cast<ITypeInfo *>(1);
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), state.fileResult);
  EXPECT_EQ(info, nullptr);

  state.registeredResult = S_OK;
  state.library.lookupResult = TYPE_E_ELEMENTNOTFOUND;
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(state.library.references, 0);

  // Nothing was cached: the next call loads again and succeeds.
  state.library.lookupResult = S_OK;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
  EXPECT_EQ(state.registeredCalls, 3);
  info->Release();
}

TEST_F(MediaPositionTest, NamesAndInvocationsGoToTheTypeInfo) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Duration"), const_cast<LPOLESTR>(L"Rate")};
  DISPID ids[2] = {};
  state.library.typeInfo.idsResult = DISP_E_MEMBERNOTFOUND;
  // The interface identifier of GetIDsOfNames is not looked at.
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_IPin, names, 2, 0, ids), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(state.library.typeInfo.seenNames, names);
  EXPECT_EQ(state.library.typeInfo.seenCount, 2u);
  EXPECT_EQ(ids[0], 42);

  auto *params = reinterpret_cast<DISPPARAMS *>(0x1000);
  auto *result = reinterpret_cast<VARIANT *>(0x2000);
  auto *exception = reinterpret_cast<EXCEPINFO *>(0x3000);
  UINT argError = 0;
  state.library.typeInfo.invokeResult = MAKE_HRESULT_CONST(0x00041111);
  EXPECT_EQ(dispatch->Invoke(7, IID_NULL, 0, DISPATCH_PROPERTYGET, params, result, exception,
                             &argError),
            MAKE_HRESULT_CONST(0x00041111));
  const FakeTypeInfo &info = state.library.typeInfo;
  EXPECT_EQ(info.seenInstance, static_cast<void *>(static_cast<IMediaPosition *>(position)));
  EXPECT_EQ(info.seenId, 7);
  EXPECT_EQ(info.seenFlags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(info.seenParams, params);
  EXPECT_EQ(info.seenResult, result);
  EXPECT_EQ(info.seenException, exception);
  EXPECT_EQ(info.seenArgError, &argError);
  EXPECT_EQ(info.references, 1);  // only the cache's

  EXPECT_EQ(dispatch->Invoke(7, IID_IMediaPosition, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr,
                             nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(MediaPositionLibrary, LibraryIsUnloadedWithTheLastObjectAndLoadedAgainOnUse) {
  ASSERT_EQ(__atomic_load_n(&ActiveObjectCount, __ATOMIC_SEQ_CST), 0);
  ASSERT_FALSE(FakeLibraryIsMapped());
  // With no loaders installed the fake library refuses both: a result that
  // only the found library can give.
  const HRESULT cannotLoad = MAKE_HRESULT_CONST(0x80029C4A);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto *position = new CTestPosition;
    position->NonDelegatingUnknown()->AddRef();
    ITypeInfo *info = nullptr;
    EXPECT_EQ(static_cast<IDispatch *>(position)->GetTypeInfo(0, 0, &info), cannotLoad);
    EXPECT_NE(CurrentAutomationLibrary(), nullptr);
    EXPECT_TRUE(FakeLibraryIsMapped());
    EXPECT_EQ(position->NonDelegatingUnknown()->Release(), 0u);
    EXPECT_EQ(CurrentAutomationLibrary(), nullptr);
    EXPECT_FALSE(FakeLibraryIsMapped());
  }
}

}  // namespace
