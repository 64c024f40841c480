// Everything of the kernel and user stand-in, as one include.
#pragma once

#include "platform/win32/errors.h"
#include "platform/win32/memory.h"
#include "platform/win32/modules.h"
#include "platform/win32/process.h"
#include "platform/win32/strings.h"
#include "platform/win32/sync.h"
#include "platform/win32/threads.h"
#include "platform/win32/timers.h"
#include "platform/win32/types.h"
