// Platform scalar types, handles and result codes with the widths the
// platform gives them, independent of the host's `long`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

#define WINAPI
#define STDMETHODCALLTYPE
#define CALLBACK
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int32_t HRESULT;
typedef wchar_t WCHAR;
typedef char CHAR;
typedef WCHAR OLECHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef OLECHAR *BSTR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef LONG *LPLONG;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef DWORD LCID;
typedef LONG DISPID;
typedef LONG MEMBERID;
typedef short VARIANT_BOOL;
typedef double REFTIME;
typedef LONGLONG REFERENCE_TIME;
typedef UINT MMRESULT;
typedef UINT MMTIMERID;
typedef LONG OAFilterState;
typedef LONG_PTR OAEVENT;
typedef LONG_PTR OAHWND;

typedef void *HANDLE;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HANDLE HLOCAL;
typedef int (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define MAX_PATH 260

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define MAKE_HRESULT_CONST(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
#define HRESULT_FROM_WIN32(x) \
  ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((x) & 0x0000FFFFu) | 0x80070000u))

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_CONST(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_CONST(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_CONST(0x80004003);
constexpr HRESULT E_ABORT = MAKE_HRESULT_CONST(0x80004004);
constexpr HRESULT E_FAIL = MAKE_HRESULT_CONST(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_CONST(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_CONST(0x80070005);
constexpr HRESULT E_HANDLE = MAKE_HRESULT_CONST(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_CONST(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_CONST(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_CONST(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_CONST(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MAKE_HRESULT_CONST(0x800401F0);
constexpr HRESULT RPC_E_CHANGED_MODE = MAKE_HRESULT_CONST(0x80010106);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MAKE_HRESULT_CONST(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MAKE_HRESULT_CONST(0x80020003);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MAKE_HRESULT_CONST(0x8002802B);

// Win32 error codes the stand-in sets.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_FORMAT = 11;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_OPEN_FAILED = 110;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG *LPMSG;

static_assert(sizeof(LONG) == 4 && sizeof(HRESULT) == 4 && sizeof(DWORD) == 4,
              "platform widths");
