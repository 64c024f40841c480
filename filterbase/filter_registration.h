// What a filter declares about itself for the filter mapper, and the walk
// that hands it to IFilterMapper (CBaseFilter's Register and Unregister).
#pragma once

#include "platform/media/media.h"

// One media type a pin handles: a pair of pointers to major type and subtype.
struct RegisteredMediaType {
  const GUID *majorType;
  const GUID *subType;
};

struct PinRegistrationRecord {
  LPCWSTR name;
  BOOL rendered;
  BOOL output;
  BOOL zero;
  BOOL many;
  const CLSID *connectsToFilter;  // null is registered as CLSID_NULL
  LPCWSTR connectsToPin;
  UINT mediaTypeCount;
  const RegisteredMediaType *mediaTypes;
};

struct FilterRegistrationRecord {
  const CLSID *classId;
  LPCWSTR name;
  DWORD merit;
  UINT pinCount;
  const PinRegistrationRecord *pins;
};

// "File not found" as a result code: what a mapper answers when it has nothing
// registered to remove. The walk and Unregister treat it as success.
constexpr HRESULT RegistrationNothingFound = MAKE_HRESULT_CONST(0x80070002);

// Removes the filter's class from the mapper (always), then, when `doRegister`
// is TRUE, registers the filter, each of its pins and each pin's media types in
// record order, stopping at the first failure. Returns the last result, with
// RegistrationNothingFound turned into S_OK. A record without a class id gives
// E_POINTER and touches nothing.
HRESULT RunRegistrationWalk(const FilterRegistrationRecord *record, IFilterMapper *mapper,
                            BOOL doRegister);
