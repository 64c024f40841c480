// Stand-in internals: UTF-8 decoding and encoding shared by the code-page
// conversions and the calls that hand names to the host (dlopen, stderr, dialogs).
#pragma once

#include <cstddef>
#include <string>

namespace standin {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the sequence at the start of [p, end) (p < end). Returns the bytes it
// covers; `valid` is false for an ill-formed sequence, which then covers its
// maximal ill-formed part (at least one byte), as Unicode recommends for replacement.
size_t DecodeUtf8(const unsigned char *p, const unsigned char *end, char32_t &codePoint,
                  bool &valid);

// Writes the UTF-8 form of a scalar value (not a surrogate, at most U+10FFFF) to
// out and returns its length (1 to 4).
size_t EncodeUtf8(char32_t codePoint, char out[4]);

// Reads one character of a wide string that may hold UTF-16 surrogate pairs
// (combined) or values that are not characters (`valid` false). Returns the
// wide characters it covers.
size_t DecodeWide(const wchar_t *p, const wchar_t *end, char32_t &codePoint, bool &valid);

// Lenient whole-string conversions: anything ill-formed becomes U+FFFD.
std::string WideToUtf8(const wchar_t *text);
std::wstring Utf8ToWide(const char *text, size_t length);

}  // namespace standin
