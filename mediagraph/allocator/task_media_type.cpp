#include "mediagraph/allocator/task_media_type.h"

#include <cstring>

namespace mediagraph {

AM_MEDIA_TYPE *CopyMediaTypeToTaskMemory(const AM_MEDIA_TYPE &source) {
  auto *copy = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!copy) return nullptr;
  *copy = source;
  copy->pbFormat = nullptr;
  copy->cbFormat = 0;
  if (source.cbFormat != 0 && source.pbFormat) {
    copy->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(source.cbFormat));
    if (!copy->pbFormat) {
      CoTaskMemFree(copy);
      return nullptr;
    }
    std::memcpy(copy->pbFormat, source.pbFormat, source.cbFormat);
    copy->cbFormat = source.cbFormat;
  }
  if (copy->pUnk) copy->pUnk->AddRef();
  return copy;
}

void FreeTaskMediaType(AM_MEDIA_TYPE *type) {
  if (!type) return;
  if (type->pbFormat) CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  CoTaskMemFree(type);
}

}  // namespace mediagraph
