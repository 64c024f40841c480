#include "mediagraph/graph/filter_graph.h"

#include <algorithm>
#include <new>

namespace mediagraph {

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> pinEnum;
  if (FAILED(filter->EnumPins(pinEnum.put())) || !pinEnum) return pins;
  IPin *pin = nullptr;
  ULONG fetched = 0;
  while (pinEnum->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
    pins.push_back(ComPtr<IPin>::Adopt(pin));
  }
  return pins;
}

namespace {

bool IsDirection(IPin *pin, PIN_DIRECTION wanted) {
  PIN_DIRECTION direction = PINDIR_INPUT;
  return SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted;
}

bool IsConnected(IPin *pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(peer.put())) && peer;
}

// A renderer ends a branch: it takes data in and passes none on.
bool IsRenderer(IBaseFilter *filter) {
  bool input = false;
  for (const auto &pin : PinsOf(filter)) {
    if (IsDirection(pin.get(), PINDIR_OUTPUT)) return false;
    input = input || IsDirection(pin.get(), PINDIR_INPUT);
  }
  return input;
}

}  // namespace

HRESULT FilterGraph::Create(FilterGraph **out, IReferenceClock *clock) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) FilterGraph();
  if (!*out) return E_OUTOFMEMORY;
  (*out)->AddRef();
  if (!(*out)->Init(clock)) {
    (*out)->Release();
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FilterGraph::CreateInstance(IUnknown *outer, REFIID iid, void **out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  FilterGraph *graph = nullptr;
  HRESULT hr = Create(&graph);
  if (FAILED(hr)) return hr;
  hr = graph->QueryInterface(iid, out);
  graph->Release();
  return hr;
}

REFERENCE_TIME FilterGraph::Now() const {
  REFERENCE_TIME now = 0;
  clock_->GetTime(&now);
  return now;
}

// Taken apart by TearDown, on the worker.
FilterGraph::~FilterGraph() = default;

// --- IUnknown

STDMETHODIMP FilterGraph::QueryInterface(REFIID iid, void **out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder) {
    *out = static_cast<IGraphBuilder *>(this);
  } else if (iid == IID_IMediaControl) {
    *out = static_cast<IMediaControl *>(this);
  } else if (iid == IID_IMediaEvent) {
    *out = static_cast<IMediaEvent *>(this);
  } else if (iid == IID_IMediaEventSink) {
    *out = static_cast<IMediaEventSink *>(this);
  } else if (iid == IID_IMediaPosition) {
    *out = static_cast<IMediaPosition *>(this);
  } else if (iid == IID_IMediaSeeking) {
    *out = static_cast<IMediaSeeking *>(this);
  } else if (iid == IID_IBasicAudio) {
    *out = static_cast<IBasicAudio *>(this);
  } else if (iid == IID_ILoopHint) {
    *out = static_cast<ILoopHint *>(this);
  } else if (iid == IID_IMovieStreams) {
    *out = static_cast<IMovieStreams *>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FilterGraph::AddRef() { return static_cast<ULONG>(++refs_); }

// --- IDispatch

STDMETHODIMP FilterGraph::GetTypeInfoCount(UINT *) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::GetTypeInfo(UINT, LCID, ITypeInfo **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) {
  return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                 EXCEPINFO *, UINT *) {
  return E_NOTIMPL;
}

// --- members

FilterGraph::Member *FilterGraph::Find(const IBaseFilter *filter) {
  for (auto &member : members_) {
    if (member.filter.get() == filter) return &member;
  }
  return nullptr;
}

std::wstring FilterGraph::UniqueName(LPCWSTR wanted, bool *renamed) const {
  const std::wstring base = (wanted && *wanted) ? wanted : L"Filter";
  const auto taken = [this](const std::wstring &name) {
    return std::any_of(members_.begin(), members_.end(),
                       [&name](const Member &m) { return m.name == name; });
  };
  *renamed = false;
  if (!taken(base)) return base;
  *renamed = true;
  for (unsigned n = 1;; ++n) {
    wchar_t suffix[16];
    swprintf(suffix, sizeof suffix / sizeof suffix[0], L" %04u", n);
    std::wstring name = base + suffix;
    if (!taken(name)) return name;
  }
}

HRESULT FilterGraph::AddFilterLocked(IBaseFilter *filter, LPCWSTR name) {
  if (Find(filter)) return E_INVALIDARG;
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  Uncue();
  bool renamed = false;
  Member member{ComPtr<IBaseFilter>(filter), UniqueName(name, &renamed)};
  const HRESULT hr = filter->JoinFilterGraph(this, member.name.c_str());
  if (FAILED(hr)) return hr;
  filter->SetSyncSource(clock_.get());
  members_.push_back(std::move(member));
  RefreshSeekingTarget();
  return renamed && name && *name ? kDuplicateNameRenamed : S_OK;
}

HRESULT FilterGraph::RemoveFilterLocked(IBaseFilter *filter) {
  auto it = std::find_if(members_.begin(), members_.end(),
                         [filter](const Member &m) { return m.filter.get() == filter; });
  if (it == members_.end()) return VFW_E_NOT_FOUND;
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  Uncue();
  for (const auto &pin : PinsOf(filter)) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer) peer->Disconnect();
    pin->Disconnect();
  }
  filter->SetSyncSource(nullptr);
  filter->JoinFilterGraph(nullptr, nullptr);
  if (filter == videoRenderer_) videoRenderer_ = nullptr;
  ComPtr<IBaseFilter> keep = std::move(it->filter);  // released after the bookkeeping
  members_.erase(it);
  if (source_ && source_->Filter() == filter) {
    playing_ = nullptr;
    source_.reset();
  }
  RefreshSeekingTarget();
  return S_OK;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::StateOrder() const {
  std::vector<ComPtr<IBaseFilter>> renderers;
  std::vector<ComPtr<IBaseFilter>> others;
  for (const auto &member : members_) {
    (IsRenderer(member.filter.get()) ? renderers : others).push_back(member.filter);
  }
  renderers.insert(renderers.end(), others.begin(), others.end());
  return renderers;
}

std::vector<IBaseFilter *> FilterGraph::Renderers() const {
  std::vector<IBaseFilter *> renderers;
  for (const auto &member : members_) {
    if (IsRenderer(member.filter.get())) renderers.push_back(member.filter.get());
  }
  if (source_ && source_->HasSound()) renderers.push_back(source_->Filter());
  return renderers;
}

HRESULT FilterGraph::ConnectToFreeInput(IPin *out, const IBaseFilter *except,
                                        IBaseFilter **connectedTo) {
  for (const auto &member : members_) {
    if (member.filter.get() == except) continue;
    for (const auto &pin : PinsOf(member.filter.get())) {
      if (!IsDirection(pin.get(), PINDIR_INPUT) || IsConnected(pin.get())) continue;
      if (SUCCEEDED(out->Connect(pin.get(), nullptr))) {
        if (connectedTo) *connectedTo = member.filter.get();
        return S_OK;
      }
    }
  }
  return VFW_E_CANNOT_RENDER;
}

// --- IFilterGraph

STDMETHODIMP FilterGraph::AddFilter(IBaseFilter *filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return AddFilterLocked(filter, name);
}

STDMETHODIMP FilterGraph::RemoveFilter(IBaseFilter *filter) {
  if (!filter) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return RemoveFilterLocked(filter);
}

STDMETHODIMP FilterGraph::EnumFilters(IEnumFilters **) { return E_NOTIMPL; }

STDMETHODIMP FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter **filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  if (!name) return E_POINTER;
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  for (const auto &member : members_) {
    if (member.name == name) {
      *filter = member.filter.get();
      (*filter)->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

namespace {
// The filter a pin belongs to, with a reference.
ComPtr<IBaseFilter> OwnerOf(IPin *pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return {};
  return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}
}  // namespace

STDMETHODIMP FilterGraph::ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mediaType) {
  if (!out || !in) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  if (!Find(OwnerOf(out).get()) || !Find(OwnerOf(in).get())) return VFW_E_NOT_FOUND;
  Uncue();
  const HRESULT hr = out->Connect(in, mediaType);
  RefreshSeekingTarget();
  return hr;
}

STDMETHODIMP FilterGraph::Reconnect(IPin *) { return E_NOTIMPL; }

STDMETHODIMP FilterGraph::Disconnect(IPin *pin) {
  if (!pin) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  return pin->Disconnect();
}

STDMETHODIMP FilterGraph::SetDefaultSyncSource() {
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  HRESULT result = S_OK;
  for (const auto &member : members_) {
    const HRESULT hr = member.filter->SetSyncSource(clock_.get());
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

// --- IGraphBuilder

STDMETHODIMP FilterGraph::Connect(IPin *out, IPin *in) { return ConnectDirect(out, in, nullptr); }

STDMETHODIMP FilterGraph::Render(IPin *out) {
  if (!out) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  Uncue();
  if (!IsDirection(out, PINDIR_OUTPUT)) return VFW_E_INVALID_DIRECTION;
  if (IsConnected(out)) return VFW_E_ALREADY_CONNECTED;
  const HRESULT hr = ConnectToFreeInput(out, OwnerOf(out).get(), nullptr);
  RefreshSeekingTarget();
  return hr;
}

STDMETHODIMP FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  AwaitSettled();
  std::lock_guard<SpinningRecursiveMutex> hold(stateLock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  Uncue();

  MovieSource *opened = nullptr;
  HRESULT hr = CreateMovieSource(file, &opened);
  if (FAILED(hr)) return hr;  // the source has set the last error
  ComPtr<MovieSource> source = ComPtr<MovieSource>::Adopt(opened);

  hr = AddFilterLocked(source->Filter(), file);
  if (FAILED(hr)) return hr;
  IBaseFilter *renderer = nullptr;
  hr = ConnectToFreeInput(source->VideoPin(), source->Filter(), &renderer);
  if (FAILED(hr)) {
    RemoveFilterLocked(source->Filter());
    return VFW_E_CANNOT_RENDER;
  }
  source_ = source;
  playing_ = source.get();
  videoRenderer_ = renderer;
  armOnRun_ = true;
  RefreshSeekingTarget();
  bool loops = false;
  {
    // The worker cues the movie.
    std::lock_guard<SpinningMutex> queue(lock_);
    loops = repetitive_;
    if (asked_ == State_Stopped) PostLocked({Command::kCue});
  }
  // A loop hint given before the movie.
  if (loops) source->SetLooping(true);
  return source->HasAudioStream() && !source->HasSound() ? VFW_S_AUDIO_NOT_RENDERED : S_OK;
}

STDMETHODIMP FilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::SetLogFile(DWORD_PTR) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::Abort() { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::ShouldOperationContinue() { return E_NOTIMPL; }

}  // namespace mediagraph
