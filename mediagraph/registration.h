// Makes the media graph's classes known to the component registry.
#pragma once

namespace mediagraph {

// Registers CLSID_FilterGraph and CLSID_MemoryAllocator with the stand-in's class
// registry. Runs by itself when a program that links the mediagraph archive whole
// starts (a static initialiser in registration.cpp); calling it again is harmless.
void RegisterMediaGraphClasses();

}  // namespace mediagraph
