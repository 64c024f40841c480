// Compiles every stand-in header on its own so each stays self-contained.
#include "platform/com/unknown.h"
#include "platform/media/media.h"
#include "platform/win32/windows.h"
