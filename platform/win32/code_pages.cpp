#include "platform/win32/strings.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "platform/win32/errors.h"
#include "platform/win32/utf8.h"

namespace {

// Flags the platform accepts for CP_ACP conversions (ignored here).
constexpr DWORD kAcpToWideFlags = 0x1 | 0x2 | 0x4 | MB_ERR_INVALID_CHARS;
constexpr DWORD kAcpFromWideFlags = 0x10 | 0x20 | 0x40 | 0x200 | 0x400;

// Collects converted units into the caller's buffer, or only counts them when
// the buffer length is 0 (a size query).
template <typename Unit>
class Output {
 public:
  Output(Unit *buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}

  // False when the buffer is full.
  bool Put(Unit unit) {
    if (capacity_ > 0) {
      if (count_ >= capacity_) return false;
      buffer_[count_] = unit;
    } else if (count_ == INT_MAX) {
      return false;
    }
    ++count_;
    return true;
  }
  int count() const { return count_; }

 private:
  Unit *buffer_;
  int capacity_;
  int count_ = 0;
};

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Why a conversion stopped short.
enum class Stop { None, Invalid, Full };

Stop Utf8ToWide(const unsigned char *p, const unsigned char *end, bool strict,
                Output<WCHAR> &out) {
  while (p < end) {
    char32_t codePoint;
    bool valid;
    p += standin::DecodeUtf8(p, end, codePoint, valid);
    if (!valid && strict) return Stop::Invalid;
    if (!out.Put(static_cast<WCHAR>(codePoint))) return Stop::Full;
  }
  return Stop::None;
}

Stop AcpToWide(const char *p, const char *end, bool strict, Output<WCHAR> &out) {
  std::mbstate_t state{};
  while (p < end) {
    wchar_t wide;
    size_t used;
    if (*p == '\0') {
      wide = L'\0';
      used = 1;
    } else {
      used = std::mbrtowc(&wide, p, static_cast<size_t>(end - p), &state);
      if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
        if (strict) return Stop::Invalid;
        state = std::mbstate_t{};
        wide = static_cast<wchar_t>(standin::kReplacementCharacter);
        used = 1;
      }
    }
    if (!out.Put(wide)) return Stop::Full;
    p += used;
  }
  return Stop::None;
}

Stop WideToUtf8(const wchar_t *p, const wchar_t *end, bool strict, Output<char> &out) {
  char bytes[4];
  while (p < end) {
    char32_t codePoint;
    bool valid;
    p += standin::DecodeWide(p, end, codePoint, valid);
    if (!valid && strict) return Stop::Invalid;
    const size_t length = standin::EncodeUtf8(codePoint, bytes);
    for (size_t i = 0; i < length; ++i) {
      if (!out.Put(bytes[i])) return Stop::Full;
    }
  }
  return Stop::None;
}

Stop WideToAcp(const wchar_t *p, const wchar_t *end, char defaultChar, bool &usedDefault,
               Output<char> &out) {
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (; p < end; ++p) {
    size_t length = std::wcrtomb(bytes, *p, &state);
    if (length == static_cast<size_t>(-1)) {
      state = std::mbstate_t{};
      bytes[0] = defaultChar;
      length = 1;
      usedDefault = true;
    }
    for (size_t i = 0; i < length; ++i) {
      if (!out.Put(bytes[i])) return Stop::Full;
    }
  }
  return Stop::None;
}

int Finish(Stop stop, int count) {
  if (stop == Stop::Invalid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (stop == Stop::Full) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return count;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstLength) {
  if (!src || srcLength == 0 || srcLength < -1 || dstLength < 0 || (dstLength > 0 && !dst)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // -1: the string and its terminator.
  const size_t length = srcLength == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLength);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  Output<WCHAR> out(dst, dstLength);
  Stop stop;
  if (codePage == CP_UTF8) {
    if (flags & ~MB_ERR_INVALID_CHARS) return Fail(ERROR_INVALID_FLAGS);
    const auto *p = reinterpret_cast<const unsigned char *>(src);
    stop = Utf8ToWide(p, p + length, strict, out);
  } else if (codePage == CP_ACP) {
    if (flags & ~kAcpToWideFlags) return Fail(ERROR_INVALID_FLAGS);
    stop = AcpToWide(src, src + length, strict, out);
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return Finish(stop, out.count());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstLength, LPCSTR defaultChar, BOOL *usedDefault) {
  if (!src || srcLength == 0 || srcLength < -1 || dstLength < 0 || (dstLength > 0 && !dst)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const size_t length = srcLength == -1 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLength);
  Output<char> out(dst, dstLength);
  Stop stop;
  if (codePage == CP_UTF8) {
    // UTF-8 represents everything: a default character makes no sense.
    if (defaultChar || usedDefault) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & ~WC_ERR_INVALID_CHARS) return Fail(ERROR_INVALID_FLAGS);
    stop = WideToUtf8(src, src + length, (flags & WC_ERR_INVALID_CHARS) != 0, out);
  } else if (codePage == CP_ACP) {
    if (flags & ~kAcpFromWideFlags) return Fail(ERROR_INVALID_FLAGS);
    bool used = false;
    stop = WideToAcp(src, src + length, defaultChar ? *defaultChar : '?', used, out);
    if (usedDefault) *usedDefault = used ? TRUE : FALSE;
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return Finish(stop, out.count());
}
