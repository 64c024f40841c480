// Module loading and the executable's file name.
#pragma once

#include "platform/win32/types.h"

// Null and last error ERROR_MOD_NOT_FOUND when the library cannot be loaded.
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
// module null: the running executable. Truncates to size - 1 characters plus the
// terminator and sets ERROR_INSUFFICIENT_BUFFER, returning size, as the platform does.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
