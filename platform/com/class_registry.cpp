#include "platform/com/class_registry.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

struct GuidLess {
  bool operator()(const GUID &a, const GUID &b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

struct ClassRegistry {
  std::mutex mutex;
  std::map<GUID, StandInClassFactory, GuidLess> factories;  // guarded by mutex
};

ClassRegistry &Registry() {
  static ClassRegistry *registry = new ClassRegistry;  // kept for the whole process
  return *registry;
}

}  // namespace

void StandInRegisterClass(REFCLSID clsid, StandInClassFactory factory) {
  ClassRegistry &registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (factory) {
    registry.factories[clsid] = factory;
  } else {
    registry.factories.erase(clsid);
  }
}

namespace standin {

StandInClassFactory FindClassFactory(REFCLSID clsid) {
  ClassRegistry &registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.factories.find(clsid);
  return it == registry.factories.end() ? nullptr : it->second;
}

}  // namespace standin
