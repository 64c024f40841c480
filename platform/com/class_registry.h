// Stand-in internals: lookup in the in-process class registry.
#pragma once

#include "platform/com/unknown.h"

namespace standin {

// The factory registered for a class, or null. Safe from any thread.
StandInClassFactory FindClassFactory(REFCLSID clsid);

}  // namespace standin
