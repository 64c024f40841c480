// Entry routine of kestrel: finds its own path and hands over to the game runner.
#include "launcher/game_runner.h"
#include "launcher/text_locale.h"
#include "platform/win32/modules.h"

namespace {

int StartKestrel() {
  PreferUtf8TextLocale();
  // Both buffers outlive the interpreter, which may keep pointers into them.
  // Zeroed so a failed path query leaves an empty path, not stack garbage.
  WCHAR programPath[kLauncherPathCapacity] = {};
  WCHAR homeDirectory[kLauncherPathCapacity] = {};
  GetModuleFileNameW(nullptr, programPath, kLauncherPathCapacity);
  GetModuleFileNameW(nullptr, homeDirectory, kLauncherPathCapacity);
  return RunGame(programPath, homeDirectory);
}

}  // namespace

#ifdef _WIN32
// A windowed program: no console, and the command line is ignored on purpose.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return StartKestrel(); }
#else
int main() { return StartKestrel(); }
#endif
