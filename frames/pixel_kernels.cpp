#include "frames/pixel_kernels.h"

#include <initializer_list>

bool PixelKernelAvailable(PixelKernel kernel) {
#ifdef CINELINK_X86_KERNELS
  // The feature bits may not be read yet when this runs from another
  // library's constructor.
  __builtin_cpu_init();
#endif
  switch (kernel) {
    case PixelKernel::kScalar:
      return true;
#ifdef CINELINK_X86_KERNELS
    case PixelKernel::kSse2:
      return __builtin_cpu_supports("sse2");
    case PixelKernel::kAvx2:
      return __builtin_cpu_supports("avx2");
#endif
    default:
      return false;
  }
}

std::vector<PixelKernel> AvailablePixelKernels() {
  std::vector<PixelKernel> kernels;
  for (const PixelKernel kernel : {PixelKernel::kScalar, PixelKernel::kSse2, PixelKernel::kAvx2}) {
    if (PixelKernelAvailable(kernel)) {
      kernels.push_back(kernel);
    }
  }
  return kernels;
}

PixelKernel ChosenPixelKernel() {
  static const PixelKernel chosen = [] {
    for (const PixelKernel kernel : {PixelKernel::kAvx2, PixelKernel::kSse2}) {
      if (PixelKernelAvailable(kernel)) {
        return kernel;
      }
    }
    return PixelKernel::kScalar;
  }();
  return chosen;
}
