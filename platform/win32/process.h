// Message boxes and process exit.
#pragma once

#include "platform/win32/types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONHAND = MB_ICONERROR;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr int IDOK = 1;

// Writes "caption: text" to stderr as UTF-8; with a desktop (DISPLAY set) and
// CINELINK_NO_DIALOG unset it also shows a modal dialog. Returns IDOK.
int MessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type);

// Flushes stdio and ends the process at once; no static destructors run.
[[noreturn]] void ExitProcess(UINT exitCode);
