// Which instruction set the per-pixel kernels use. Every kernel gives the
// same bytes; the fastest one this CPU has is chosen once, and tests and
// fuzzers run each available one.
#pragma once

#include <vector>

enum class PixelKernel { kScalar, kSse2, kAvx2 };

// Whether this build and CPU can run the kernel.
bool PixelKernelAvailable(PixelKernel kernel);

// The fastest available kernel, decided on first use.
PixelKernel ChosenPixelKernel();

// Every kernel this build and CPU can run, plainest first.
std::vector<PixelKernel> AvailablePixelKernels();

#if defined(__x86_64__) || defined(__i386__)
#define CINELINK_X86_KERNELS 1
#endif
