#include "platform/host/heap_reuse.h"

bool BackHeapAhead(size_t, const std::atomic<bool> *) { return false; }
