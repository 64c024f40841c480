#include "filterbase/media_type.h"

#include <cstring>

#include "platform/com/unknown.h"

void ResetMediaType(AM_MEDIA_TYPE *type) {
  if (type == nullptr) return;
  std::memset(static_cast<void *>(type), 0, sizeof(AM_MEDIA_TYPE));
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = 1;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE *type) {
  if (type == nullptr) return;
  if (type->cbFormat != 0) {
    CoTaskMemFree(type->pbFormat);
    type->cbFormat = 0;
    type->pbFormat = nullptr;
  }
  if (type->pUnk != nullptr) {
    type->pUnk->Release();
    type->pUnk = nullptr;
  }
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source) {
  if (target == nullptr || source == nullptr) return E_POINTER;
  if (target == source) {
    // Copying onto itself would otherwise replace the block it reads from.
    return S_OK;
  }
  *target = *source;
  HRESULT result = S_OK;
  if (source->cbFormat != 0) {
    target->pbFormat = nullptr;
    if (source->pbFormat == nullptr) {
      result = E_POINTER;
    } else {
      target->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(source->cbFormat));
      if (target->pbFormat == nullptr) {
        result = E_OUTOFMEMORY;
      } else {
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
      }
    }
    if (FAILED(result)) target->cbFormat = 0;
  }
  // The reference is taken on the failure path too: the target carries the
  // pUnk value either way, and will release it when it is freed.
  if (target->pUnk != nullptr) target->pUnk->AddRef();
  return result;
}

HRESULT AssignMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source) {
  if (target == nullptr || source == nullptr) return E_POINTER;
  if (target == source) return S_OK;
  FreeMediaTypeContents(target);
  return FAILED(CopyMediaTypeContents(target, source)) ? E_OUTOFMEMORY : S_OK;
}

void DestroyMediaTypeBlock(AM_MEDIA_TYPE *block) {
  if (block == nullptr) return;
  FreeMediaTypeContents(block);
  CoTaskMemFree(block);
}

bool HasWildcard(const AM_MEDIA_TYPE *type) {
  if (type == nullptr) return true;
  return type->majortype == GUID_NULL || type->formattype == GUID_NULL;
}

bool MatchesPattern(const AM_MEDIA_TYPE *concrete, const AM_MEDIA_TYPE *pattern) {
  if (pattern == nullptr) return true;
  if (concrete == nullptr) return false;
  if (pattern->majortype != GUID_NULL && pattern->majortype != concrete->majortype) return false;
  if (pattern->subtype != GUID_NULL && pattern->subtype != concrete->subtype) return false;
  if (pattern->formattype == GUID_NULL) return true;
  if (concrete->formattype != pattern->formattype) return false;
  if (concrete->cbFormat != pattern->cbFormat) return false;
  if (concrete->cbFormat == 0) return true;
  if (concrete->pbFormat == pattern->pbFormat) return true;
  if (concrete->pbFormat == nullptr || pattern->pbFormat == nullptr) return false;
  return std::memcmp(concrete->pbFormat, pattern->pbFormat, concrete->cbFormat) == 0;
}

MediaTypeRecord::MediaTypeRecord() : AM_MEDIA_TYPE() { ResetMediaType(this); }

MediaTypeRecord::MediaTypeRecord(const MediaTypeRecord &other) : MediaTypeRecord() {
  CopyMediaTypeContents(this, &other);
}

MediaTypeRecord::MediaTypeRecord(const AM_MEDIA_TYPE &other) : MediaTypeRecord() {
  CopyMediaTypeContents(this, &other);
}

MediaTypeRecord &MediaTypeRecord::operator=(const MediaTypeRecord &other) {
  AssignMediaType(this, &other);
  return *this;
}

MediaTypeRecord &MediaTypeRecord::operator=(const AM_MEDIA_TYPE &other) {
  AssignMediaType(this, &other);
  return *this;
}

MediaTypeRecord::~MediaTypeRecord() { FreeMediaTypeContents(this); }
