#include "platform/win32/memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/win32/errors.h"

namespace {

// Each block carries its size in a header in front of the caller's bytes; the
// header is as large as the strictest alignment so the bytes stay aligned.
struct alignas(std::max_align_t) BlockHeader {
  SIZE_T bytes;
};

BlockHeader *HeaderOf(HLOCAL memory) { return static_cast<BlockHeader *>(memory) - 1; }

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  // Only fixed blocks: a movable block would need LocalLock, which is not offered.
  if ((flags & ~LMEM_ZEROINIT) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + bytes));
  if (!header) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  header->bytes = bytes;
  if (flags & LMEM_ZEROINIT) std::memset(header + 1, 0, bytes);
  return header + 1;
}

HLOCAL LocalFree(HLOCAL memory) {
  if (memory) std::free(HeaderOf(memory));
  return nullptr;
}

SIZE_T LocalSize(HLOCAL memory) {
  if (!memory) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return HeaderOf(memory)->bytes;
}
