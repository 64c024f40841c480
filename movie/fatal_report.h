// The report that ends the process when an export meets a failure it cannot
// recover from: a message box naming the export and the thread's last error,
// then exit with that error as the exit code.
#pragma once

#include <cstdarg>

#include "platform/win32/types.h"

// Never returns. `name` is the export's name, e.g. L"Movie_Load".
[[noreturn]] void ReportFatalError(const wchar_t *name);

// Formats into `destination`, writing at most capacity - 1 characters and always
// a terminator (unless the capacity is rejected). Conversions: %s (wide string),
// %d, %u, %x, %c (wide character) and %%.
// E_INVALIDARG for a capacity of 0 or above 2147483647 (nothing written);
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the text was cut;
// S_OK when it fit.
HRESULT FormatBounded(wchar_t *destination, size_t capacity, const wchar_t *format, ...);
HRESULT FormatBoundedV(wchar_t *destination, size_t capacity, const wchar_t *format,
                       va_list arguments);
