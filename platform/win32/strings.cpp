#include "platform/win32/strings.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>

// Null pointers are tolerated as the platform tolerates them: they count as
// empty, compare lowest, and make copies return null.

int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(std::wcslen(s)) : 0; }

int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  return std::wcscpy(dst, src);
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
  if (!dst || !src) return nullptr;
  if (max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i] != L'\0'; ++i) dst[i] = src[i];
  dst[i] = L'\0';
  return dst;
}

namespace {

// Ordinal comparison, optionally folding case; -1, 0 or 1.
int Compare(LPCWSTR a, LPCWSTR b, bool foldCase) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  for (;; ++a, ++b) {
    auto x = static_cast<uint32_t>(*a);
    auto y = static_cast<uint32_t>(*b);
    if (foldCase) {
      x = static_cast<uint32_t>(std::towlower(static_cast<wint_t>(x)));
      y = static_cast<uint32_t>(std::towlower(static_cast<wint_t>(y)));
    }
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

}  // namespace

int lstrcmpW(LPCWSTR a, LPCWSTR b) { return Compare(a, b, false); }

int lstrcmpiW(LPCWSTR a, LPCWSTR b) { return Compare(a, b, true); }
