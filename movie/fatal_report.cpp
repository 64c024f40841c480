#include "movie/fatal_report.h"

#include <climits>
#include <cstdio>

#include "platform/win32/windows.h"

namespace {

// Appends to a bounded wide buffer, remembering whether anything was cut.
class BoundedWriter {
 public:
  BoundedWriter(wchar_t *buffer, size_t capacity) : buffer_(buffer), limit_(capacity - 1) {}

  void Put(wchar_t c) {
    if (length_ < limit_) {
      buffer_[length_++] = c;
    } else {
      cut_ = true;
    }
  }
  void PutWide(const wchar_t *s) {
    if (s == nullptr) s = L"(null)";
    while (*s != L'\0') Put(*s++);
  }
  void PutNarrow(const char *s) {
    while (*s != '\0') Put(static_cast<wchar_t>(static_cast<unsigned char>(*s++)));
  }
  void Finish() { buffer_[length_] = L'\0'; }
  bool Cut() const { return cut_; }

 private:
  wchar_t *buffer_;
  size_t limit_;
  size_t length_ = 0;
  bool cut_ = false;
};

}  // namespace

HRESULT FormatBoundedV(wchar_t *destination, size_t capacity, const wchar_t *format,
                       va_list arguments) {
  if (capacity == 0 || capacity > static_cast<size_t>(INT_MAX)) return E_INVALIDARG;
  BoundedWriter out(destination, capacity);
  char number[32];
  for (const wchar_t *p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      out.Put(*p);
      continue;
    }
    ++p;
    if (*p == L'l') ++p;  // %ls means the same as %s here
    switch (*p) {
      case L's':
        out.PutWide(va_arg(arguments, const wchar_t *));
        break;
      case L'd':
        std::snprintf(number, sizeof number, "%d", va_arg(arguments, int));
        out.PutNarrow(number);
        break;
      case L'u':
        std::snprintf(number, sizeof number, "%u", va_arg(arguments, unsigned));
        out.PutNarrow(number);
        break;
      case L'x':
        std::snprintf(number, sizeof number, "%x", va_arg(arguments, unsigned));
        out.PutNarrow(number);
        break;
      case L'c':
        out.Put(static_cast<wchar_t>(va_arg(arguments, wint_t)));
        break;
      case L'%':
        out.Put(L'%');
        break;
      case L'\0':
        --p;  // a lone '%' at the end is dropped
        break;
      default:
        out.Put(L'%');
        out.Put(*p);
        break;
    }
  }
  out.Finish();
  return out.Cut() ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : S_OK;
}

HRESULT FormatBounded(wchar_t *destination, size_t capacity, const wchar_t *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  HRESULT hr = FormatBoundedV(destination, capacity, format, arguments);
  va_end(arguments);
  return hr;
}

void ReportFatalError(const wchar_t *name) {
  const DWORD code = GetLastError();

  wchar_t *systemText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
  // Without a system text the message still names the code.
  const wchar_t *shownText = systemText != nullptr ? systemText : L"";

  const SIZE_T characters = static_cast<SIZE_T>(lstrlenW(shownText)) +
                            static_cast<SIZE_T>(lstrlenW(name)) + 40;
  auto *block = static_cast<wchar_t *>(LocalAlloc(LMEM_ZEROINIT, characters * sizeof(wchar_t)));
  const size_t capacity = block != nullptr ? LocalSize(block) / sizeof(wchar_t) : 0;
  FormatBounded(block, capacity, L"%s failed with error %d: %s", name, static_cast<int>(code),
                shownText);

  MessageBoxW(nullptr, block != nullptr ? block : L"", L"Error", MB_OK);

  LocalFree(systemText);
  LocalFree(block);
  ExitProcess(code);
}
