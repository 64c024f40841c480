// The media graph's classes join the component registry when the program starts.
// The system reaches them only through CoCreateInstance and names no symbol of
// this library, so a linker would drop this file from the archive: programs link
// the mediagraph archive whole (CMake's WHOLE_ARCHIVE link feature).
#include "mediagraph/registration.h"

#include "mediagraph/allocator/memory_allocator.h"
#include "mediagraph/graph/filter_graph.h"
#include "platform/com/unknown.h"
#include "platform/media/guids.h"

namespace mediagraph {

void RegisterMediaGraphClasses() {
  StandInRegisterClass(CLSID_FilterGraph, &FilterGraph::CreateInstance);
  StandInRegisterClass(CLSID_MemoryAllocator, &MemoryAllocator::CreateInstance);
}

namespace {
const bool registered = (RegisterMediaGraphClasses(), true);
}  // namespace

}  // namespace mediagraph
