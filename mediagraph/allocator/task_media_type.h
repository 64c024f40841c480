// Media-type records in task memory: what a sample hands out through
// GetMediaType and what the receiver frees.
#pragma once

#include "platform/media/structs.h"

namespace mediagraph {

// A new AM_MEDIA_TYPE in task memory with its own copy of the format block and a
// reference on pUnk; null when task memory runs out.
AM_MEDIA_TYPE *CopyMediaTypeToTaskMemory(const AM_MEDIA_TYPE &source);

// Frees a record made by CopyMediaTypeToTaskMemory (or by anyone following the same
// rules): the format block, the pUnk reference, then the record. Null is ignored.
void FreeTaskMediaType(AM_MEDIA_TYPE *type);

}  // namespace mediagraph
