// FilterGraph: events from the filters and the application's event queue
// (IMediaEventSink, IMediaEvent).
#include "mediagraph/graph/filter_graph.h"

namespace mediagraph {

STDMETHODIMP FilterGraph::Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  if (eventCode == EC_COMPLETE) {
    // Parameter 2 names the renderer that completed; the application hears of the
    // end once, when the last renderer of the run is done and the end has come.
    // A stop or seek since the run was armed makes this completion stale.
    uint64_t generation = 0;
    if (!completion_.Complete(reinterpret_cast<IBaseFilter *>(param2), &generation)) return S_OK;
    // Without a movie there is no end to wait for.
    const MovieSource *source = playing_.load();
    if (source == nullptr) {
      endNotice_.DueNow(generation);
    } else {
      endNotice_.Due(source->StreamEnd(), generation);
    }
    return S_OK;
  }
  events_.Post({eventCode, param1, param2});
  return S_OK;
}

STDMETHODIMP FilterGraph::GetEventHandle(OAEVENT *event) {
  if (!event) return E_POINTER;
  *event = reinterpret_cast<OAEVENT>(events_.Handle());
  return S_OK;
}

STDMETHODIMP FilterGraph::GetEvent(LONG *eventCode, LONG_PTR *param1, LONG_PTR *param2,
                                   LONG milliseconds) {
  if (!eventCode || !param1 || !param2) return E_POINTER;
  EventQueue::Event event{};
  if (!events_.Get(&event, milliseconds < 0 ? INFINITE : DWORD(milliseconds))) {
    *eventCode = 0;
    *param1 = *param2 = 0;
    return E_ABORT;
  }
  *eventCode = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return S_OK;
}

STDMETHODIMP FilterGraph::WaitForCompletion(LONG, LONG *) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::CancelDefaultHandling(LONG) { return E_NOTIMPL; }
STDMETHODIMP FilterGraph::RestoreDefaultHandling(LONG) { return E_NOTIMPL; }

STDMETHODIMP FilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }

}  // namespace mediagraph
