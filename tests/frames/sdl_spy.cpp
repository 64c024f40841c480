#include "tests/frames/sdl_spy.h"

#include <dlfcn.h>

#include <mutex>
#include <set>

namespace {

std::mutex spyLock;
bool failNextOpen = false;
int openCount = 0;
std::set<const SDL_Surface *> freed;

template <typename Function>
Function NextDefinition(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void FailNextStreamOpen() {
  std::lock_guard<std::mutex> guard(spyLock);
  failNextOpen = true;
}

int StreamOpenCount() {
  std::lock_guard<std::mutex> guard(spyLock);
  return openCount;
}

bool WasFreed(const SDL_Surface *surface) {
  std::lock_guard<std::mutex> guard(spyLock);
  return freed.count(surface) != 0;
}

void ForgetFreedSurfaces() {
  std::lock_guard<std::mutex> guard(spyLock);
  freed.clear();
}

extern "C" SDL_RWops *SDL_RWFromMem(void *mem, int size) {
  static const auto real = NextDefinition<SDL_RWops *(*)(void *, int)>("SDL_RWFromMem");
  {
    std::lock_guard<std::mutex> guard(spyLock);
    ++openCount;
    if (failNextOpen) {
      failNextOpen = false;
      return nullptr;
    }
  }
  return real(mem, size);
}

extern "C" void SDL_FreeSurface(SDL_Surface *surface) {
  static const auto real = NextDefinition<void (*)(SDL_Surface *)>("SDL_FreeSurface");
  {
    std::lock_guard<std::mutex> guard(spyLock);
    freed.insert(surface);
  }
  real(surface);
}
