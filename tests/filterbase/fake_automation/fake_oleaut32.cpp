// A stand-in automation library for the tests: loaded by LoadLibraryW as
// "OleAut32.dll", it answers LoadRegTypeLib and LoadTypeLib through loaders the
// test installs, and refuses both when none is installed.
#include "platform/media/automation.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
LoadRegTypeLibFn registeredLoader = nullptr;
LoadTypeLibFn fileLoader = nullptr;
constexpr HRESULT kLibraryNotRegistered = MAKE_HRESULT_CONST(0x8002801D);
constexpr HRESULT kCannotLoadLibrary = MAKE_HRESULT_CONST(0x80029C4A);
}  // namespace

FAKE_EXPORT void FakeAutomationSetLoaders(LoadRegTypeLibFn registered, LoadTypeLibFn file) {
  registeredLoader = registered;
  fileLoader = file;
}

FAKE_EXPORT HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale,
                                   ITypeLib **library) {
  if (registeredLoader == nullptr) return kLibraryNotRegistered;
  return registeredLoader(libid, major, minor, locale, library);
}

FAKE_EXPORT HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib **library) {
  if (fileLoader == nullptr) return kCannotLoadLibrary;
  return fileLoader(file, library);
}
