#include "filterbase/filter_registration.h"

namespace {

GUID OrNull(const GUID *guid) { return guid != nullptr ? *guid : GUID_NULL; }

// Registers the pins and their types in record order; the first failure ends it.
HRESULT RegisterPins(const FilterRegistrationRecord &record, IFilterMapper *mapper) {
  const CLSID classId = *record.classId;
  HRESULT result = S_OK;
  for (UINT p = 0; p < record.pinCount && record.pins != nullptr; ++p) {
    const PinRegistrationRecord &pin = record.pins[p];
    result = mapper->RegisterPin(classId, pin.name, pin.rendered, pin.output, pin.zero, pin.many,
                                 OrNull(pin.connectsToFilter), pin.connectsToPin);
    for (UINT t = 0; t < pin.mediaTypeCount && pin.mediaTypes != nullptr; ++t) {
      if (FAILED(result)) return result;
      result = mapper->RegisterPinType(classId, pin.name, OrNull(pin.mediaTypes[t].majorType),
                                       OrNull(pin.mediaTypes[t].subType));
    }
    if (FAILED(result)) return result;
  }
  return result;
}

}  // namespace

HRESULT RunRegistrationWalk(const FilterRegistrationRecord *record, IFilterMapper *mapper,
                            BOOL doRegister) {
  if (record == nullptr || record->classId == nullptr || mapper == nullptr) return E_POINTER;
  // Whatever was registered before goes first, also when registering anew.
  HRESULT result = mapper->UnregisterFilter(*record->classId);
  if (doRegister) {
    result = mapper->RegisterFilter(*record->classId, record->name, record->merit);
    if (SUCCEEDED(result)) result = RegisterPins(*record, mapper);
  }
  return result == RegistrationNothingFound ? S_OK : result;
}
