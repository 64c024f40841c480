// FilterGraph: the movie's sound: its volume (IBasicAudio) and whether it plays.
#include "mediagraph/graph/filter_graph.h"

namespace mediagraph {

STDMETHODIMP FilterGraph::put_Volume(LONG volume) {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  if (!source_) return E_NOTIMPL;
  return source_->SetVolume(volume);
}

STDMETHODIMP FilterGraph::get_Volume(LONG *volume) {
  if (!volume) return E_POINTER;
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  if (!source_) return E_NOTIMPL;
  return source_->GetVolume(volume);
}

STDMETHODIMP FilterGraph::PlaysSound() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return source_ && source_->HasSound() ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::put_Balance(LONG) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_Balance(LONG *) { return E_NOTIMPL; }

}  // namespace mediagraph
