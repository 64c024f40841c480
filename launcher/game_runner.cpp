#include "launcher/game_runner.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <cwchar>

#include "platform/win32/process.h"

namespace {

#ifdef _WIN32
constexpr WCHAR kDirectorySeparator = L'\\';
#else
constexpr WCHAR kDirectorySeparator = L'/';
#endif

// "出错了！" and "出错了！请查看错误信息.txt ！", escaped so the text does not depend on
// the compiler's idea of the source encoding. The game's scripts write that log file.
constexpr const WCHAR *kErrorCaption = L"\u51fa\u9519\u4e86\uff01";
constexpr const WCHAR *kErrorText =
    L"\u51fa\u9519\u4e86\uff01\u8bf7\u67e5\u770b\u9519\u8bef\u4fe1\u606f.txt \uff01";

}  // namespace

// The legacy pre-initialisation calls below are the interface the game was built
// against; Python 3.11 still honours them but marks them deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

int RunGame(LPWSTR programPath, LPWSTR homeDirectory) {
  Py_SetProgramName(programPath);

  WCHAR *separator = std::wcsrchr(homeDirectory, kDirectorySeparator);
  if (separator == nullptr) {
    std::fputs("Get module file name error!\n", stdout);
    return -1;
  }
  *separator = L'\0';

  Py_OptimizeFlag = 2;
  Py_NoSiteFlag = 1;
  Py_SetPythonHome(homeDirectory);
  // Queried once and not used: interpreters before 3.8 worked out their search path
  // here, from the home just given.
  static_cast<void>(Py_GetPath());
  static_cast<void>(Py_GetPythonHome());

  Py_Initialize();

  WCHAR *argv[] = {programPath, nullptr};
  PySys_SetArgv(1, argv);

  // The runner prints the traceback itself when it fails; PyErr_Print covers an
  // error left pending behind a zero result.
  const int result = PyRun_SimpleStringFlags("import launch", nullptr);
  if (result != 0 || PyErr_Occurred() != nullptr) {
    PyErr_Print();
    MessageBoxW(nullptr, kErrorText, kErrorCaption, MB_OK);
  }

  Py_Finalize();
  return 0;
}

#pragma GCC diagnostic pop
