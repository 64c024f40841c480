#include "platform/win32/errors.h"

#include <cstring>

#include "platform/win32/memory.h"

namespace {

struct MessageText {
  DWORD id;
  const wchar_t *text;
};

// The stand-in's own texts for the codes it sets or passes on. Result codes of
// the form 0x8007xxxx are looked up by their Win32 code.
constexpr MessageText kTexts[] = {
    {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, L"Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, L"The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory is available to process this command.\r\n"},
    {ERROR_BAD_FORMAT, L"The file is not in a format that can be loaded.\r\n"},
    {ERROR_INVALID_DATA, L"The data is invalid.\r\n"},
    {ERROR_OUTOFMEMORY, L"Not enough memory is available to complete this operation.\r\n"},
    {ERROR_NOT_READY, L"The device is not ready.\r\n"},
    {ERROR_NOT_SUPPORTED, L"The request is not supported.\r\n"},
    {ERROR_OPEN_FAILED, L"The system cannot open the device or file specified.\r\n"},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, L"The buffer passed to a system call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, L"The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, L"The specified procedure could not be found.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, L"The filename or extension is too long.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, L"No text exists for this message number.\r\n"},
    {ERROR_INVALID_FLAGS, L"Invalid flags.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     L"No mapping for the Unicode character exists in the target code page.\r\n"},
    {ERROR_INVALID_THREAD_ID, L"The thread identifier is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_QUOTA, L"Not enough quota is available to process this command.\r\n"},
    {static_cast<DWORD>(E_NOTIMPL), L"Not implemented.\r\n"},
    {static_cast<DWORD>(E_NOINTERFACE), L"No such interface is supported.\r\n"},
    {static_cast<DWORD>(E_POINTER), L"Invalid pointer.\r\n"},
    {static_cast<DWORD>(E_ABORT), L"The operation was aborted.\r\n"},
    {static_cast<DWORD>(E_FAIL), L"Unspecified error.\r\n"},
    {static_cast<DWORD>(E_UNEXPECTED), L"Catastrophic failure.\r\n"},
    {static_cast<DWORD>(CLASS_E_NOAGGREGATION), L"The class cannot be aggregated.\r\n"},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), L"The class is not registered.\r\n"},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), L"CoInitialize has not been called.\r\n"},
};

const wchar_t *FindText(DWORD id) {
  if ((id & 0xFFFF0000u) == 0x80070000u) id &= 0xFFFFu;
  for (const MessageText &entry : kTexts) {
    if (entry.id == id) return entry.text;
  }
  return nullptr;
}

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD size, va_list *arguments) {
  // Only the system's texts are offered; none of them has inserts.
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_FROM_STRING) ||
      ((flags & FORMAT_MESSAGE_FROM_HMODULE) && source) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t *text = FindText(messageId);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  size_t length = std::wcslen(text);
  // The widest width setting means "no line breaks at all".
  if ((flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK) length -= 2;

  LPWSTR out = buffer;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // `size` is then the least number of characters to allocate.
    const size_t chars = length + 1 > size ? length + 1 : size;
    out = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
    if (!out) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<LPWSTR *>(buffer) = out;
  } else if (size < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::wmemcpy(out, text, length);
  out[length] = L'\0';
  return static_cast<DWORD>(length);
}
