// FilterGraph: the movie's sound: its volume (IBasicAudio) and whether it plays.
#include "mediagraph/graph/filter_graph.h"

namespace mediagraph {

STDMETHODIMP FilterGraph::put_Volume(LONG volume) {
  if (playing_.load() == nullptr) return E_NOTIMPL;
  if (volume < -10000 || volume > 0) return E_INVALIDARG;
  // Set on the worker: the sound's calls belong to the library's threads.
  std::lock_guard<SpinningMutex> hold(lock_);
  volume_ = volume;
  PostLocked({Command::kVolume, 0, 0, 0, 0, volume});
  return S_OK;
}

STDMETHODIMP FilterGraph::get_Volume(LONG *volume) {
  if (!volume) return E_POINTER;
  if (playing_.load() == nullptr) return E_NOTIMPL;
  std::lock_guard<SpinningMutex> hold(lock_);
  *volume = volume_;
  return S_OK;
}

STDMETHODIMP FilterGraph::PlaysSound() {
  const MovieSource *source = playing_.load();
  return source != nullptr && source->HasSound() ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::put_Balance(LONG) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::get_Balance(LONG *) { return E_NOTIMPL; }

}  // namespace mediagraph
