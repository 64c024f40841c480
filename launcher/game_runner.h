// Runs the game inside the embedded interpreter, once the executable's path is known.
#pragma once

#include "platform/win32/types.h"

// Capacity, in characters, of each path buffer of the entry routine.
constexpr DWORD kLauncherPathCapacity = 2048;

// Starts the interpreter with its home at the directory of `programPath`, imports the
// module `launch` and shuts the interpreter down again. Main thread only, once per
// process (the interpreter is not restarted).
//
// `programPath` is the executable's full path; it becomes the interpreter's program
// name and the script's only argument. `homeDirectory` holds a second copy of the same
// path and is cut in place at its last directory separator. Both must stay valid until
// this returns: older interpreters keep the pointers they are given rather than copies.
//
// Returns 0 once the interpreter has run, whether or not the script failed (a failure
// prints the traceback and shows the error box first), and -1, with a message on
// standard output and the interpreter never initialised, when the path holds no separator.
int RunGame(LPWSTR programPath, LPWSTR homeDirectory);
