#include "platform/win32/modules.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/win32/errors.h"
#include "platform/win32/utf8.h"

namespace {

// Libraries handed out by LoadLibraryW with their load counts, so that a handle
// that never came from us is refused instead of reaching dlclose/dlsym.
struct LoadedModules {
  std::mutex mutex;
  std::map<void *, int> counts;  // guarded by mutex
};

LoadedModules &Modules() {
  static LoadedModules *modules = new LoadedModules;  // kept for the whole process
  return *modules;
}

bool IsLoaded(HMODULE module) {
  LoadedModules &modules = Modules();
  std::lock_guard<std::mutex> lock(modules.mutex);
  return modules.counts.count(module) != 0;
}

// The path of the running executable (or of a loaded library), as UTF-8.
bool ModulePath(HMODULE module, std::string &path) {
  if (module) {
    link_map *map = nullptr;
    if (!IsLoaded(module) || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map ||
        !map->l_name) {
      return false;
    }
    path = map->l_name;
    return true;
  }
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      path = std::move(buffer);
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = standin::WideToUtf8(fileName);
  void *library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  LoadedModules &modules = Modules();
  std::lock_guard<std::mutex> lock(modules.mutex);
  ++modules.counts[library];
  return static_cast<HMODULE>(library);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  // Ordinals (values below 0x10000) have no meaning for shared objects.
  if (!procName || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (module && !IsLoaded(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // A null module means the running program with everything it has loaded.
  void *symbol = dlsym(module ? static_cast<void *>(module) : RTLD_DEFAULT, procName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  {
    LoadedModules &modules = Modules();
    std::lock_guard<std::mutex> lock(modules.mutex);
    auto it = modules.counts.find(module);
    if (it == modules.counts.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) modules.counts.erase(it);
  }
  dlclose(module);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  if (!fileName && size > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string path;
  if (!ModulePath(module, path)) {
    SetLastError(module ? ERROR_MOD_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const std::wstring wide = standin::Utf8ToWide(path.data(), path.size());
  if (wide.size() < size) {
    wide.copy(fileName, wide.size());
    fileName[wide.size()] = L'\0';
    return static_cast<DWORD>(wide.size());
  }
  // Too small: as much as fits, terminated, and the buffer's size as the result.
  if (size > 0) {
    wide.copy(fileName, size - 1);
    fileName[size - 1] = L'\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
