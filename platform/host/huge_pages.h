// Large buffers that every picture is written into. Their first touch is
// page faults, one per 4 KB page (about 6000 for a 4K RGB picture, which on a
// virtual machine costs more than converting it); where the kernel backs them
// with 2 MB pages instead, it is a few dozen.
#pragma once

#include <cstddef>

// Advice only: where the kernel has no such pages, or the range is too small
// to hold one, nothing changes.
void AdviseHugePages(void *start, size_t bytes);
