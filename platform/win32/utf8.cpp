#include "platform/win32/utf8.h"

#include <cstdint>
#include <cwchar>

namespace standin {

size_t DecodeUtf8(const unsigned char *p, const unsigned char *end, char32_t &codePoint,
                  bool &valid) {
  const unsigned char lead = p[0];
  valid = false;
  codePoint = kReplacementCharacter;
  if (lead < 0x80) {
    valid = true;
    codePoint = lead;
    return 1;
  }
  size_t trailing;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 1;
  }
  size_t used = 1;
  for (size_t i = 0; i < trailing; ++i, ++used) {
    if (p + used >= end) return used;
    const unsigned char byte = p[used];
    const unsigned char min = i == 0 ? low : 0x80;
    const unsigned char max = i == 0 ? high : 0xBF;
    if (byte < min || byte > max) return used;
    value = (value << 6) | (byte & 0x3F);
  }
  valid = true;
  codePoint = value;
  return used;
}

size_t EncodeUtf8(char32_t codePoint, char out[4]) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

size_t DecodeWide(const wchar_t *p, const wchar_t *end, char32_t &codePoint, bool &valid) {
  // wchar_t is signed here; go through its unsigned 32-bit value.
  const auto unit = static_cast<char32_t>(static_cast<uint32_t>(p[0]));
  valid = true;
  codePoint = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF && p + 1 < end) {
    const auto next = static_cast<char32_t>(static_cast<uint32_t>(p[1]));
    if (next >= 0xDC00 && next <= 0xDFFF) {
      codePoint = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
      return 2;
    }
  }
  if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) {
    valid = false;
    codePoint = kReplacementCharacter;
  }
  return 1;
}

std::string WideToUtf8(const wchar_t *text) {
  std::string out;
  if (!text) return out;
  const wchar_t *end = text + std::wcslen(text);
  char bytes[4];
  for (const wchar_t *p = text; p < end;) {
    char32_t codePoint;
    bool valid;
    p += DecodeWide(p, end, codePoint, valid);
    out.append(bytes, EncodeUtf8(codePoint, bytes));
  }
  return out;
}

std::wstring Utf8ToWide(const char *text, size_t length) {
  std::wstring out;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + length;
  while (p < end) {
    char32_t codePoint;
    bool valid;
    p += DecodeUtf8(p, end, codePoint, valid);
    out.push_back(static_cast<wchar_t>(codePoint));
  }
  return out;
}

}  // namespace standin
