// Media type records: the rules by which the framework creates, copies, frees
// and compares AM_MEDIA_TYPE descriptions.
//
// Ownership: a record owns its format block exactly when cbFormat is not 0
// (allocated with CoTaskMemAlloc), and one reference on pUnk when it is not
// null. A pbFormat with cbFormat 0 is never freed. Records carry no lock.
#pragma once

#include <type_traits>

#include "platform/media/structs.h"
#include "platform/win32/types.h"

// Every byte zero, then bFixedSizeSamples TRUE and lSampleSize 1. Forgets any
// contents without freeing them. Null: nothing.
void ResetMediaType(AM_MEDIA_TYPE *type);

// Frees the format block (when cbFormat is not 0) and releases pUnk; the
// record itself stays, with cbFormat 0, pbFormat and pUnk null. Null: nothing.
void FreeMediaTypeContents(AM_MEDIA_TYPE *type);

// Copies every field of source over target (whose contents are overwritten,
// not freed), then gives target its own copy of the format block and its own
// reference on pUnk. E_OUTOFMEMORY when the block cannot be allocated: target's
// cbFormat is then 0 and pbFormat null, and it still holds its own reference
// on pUnk. E_POINTER for a null argument or a source claiming a block it does
// not have (cbFormat not 0, pbFormat null), with target's block cleared alike.
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);

// Frees target's contents and copies source into it; the same object: S_OK and
// no change. A failed copy gives E_OUTOFMEMORY with target's old contents gone.
HRESULT AssignMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);

// Frees a task-memory record handed out by an enumerator, contents included.
// Null: nothing.
void DestroyMediaTypeBlock(AM_MEDIA_TYPE *block);

// True when majortype or formattype is GUID_NULL (subtype is not looked at).
// A null type is all wildcard.
bool HasWildcard(const AM_MEDIA_TYPE *type);

// True when concrete satisfies pattern: GUID_NULL fields of the pattern match
// anything; with a formattype the format blocks must be equal byte for byte.
// bFixedSizeSamples, bTemporalCompression, lSampleSize and pUnk never count.
// A null pattern matches everything; a null concrete type matches nothing.
bool MatchesPattern(const AM_MEDIA_TYPE *concrete, const AM_MEDIA_TYPE *pattern);

// An AM_MEDIA_TYPE that owns its contents: reset on construction, freed on
// destruction, deep-copied on copy. Usable wherever an AM_MEDIA_TYPE is expected.
class MediaTypeRecord : public AM_MEDIA_TYPE {
 public:
  MediaTypeRecord();
  // Copies ignore failure: a record that could not copy its format block is
  // left with none (cbFormat 0). Use AssignMediaType to see the result.
  MediaTypeRecord(const MediaTypeRecord &other);
  explicit MediaTypeRecord(const AM_MEDIA_TYPE &other);
  MediaTypeRecord &operator=(const MediaTypeRecord &other);
  MediaTypeRecord &operator=(const AM_MEDIA_TYPE &other);
  ~MediaTypeRecord();
};

static_assert(sizeof(MediaTypeRecord) == sizeof(AM_MEDIA_TYPE),
              "MediaTypeRecord has exactly the layout of AM_MEDIA_TYPE");
static_assert(std::is_standard_layout<MediaTypeRecord>::value,
              "MediaTypeRecord has exactly the layout of AM_MEDIA_TYPE");
