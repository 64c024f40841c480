// A filter graph manager whose answers the test scripts, registered in place
// of the real one, so the exports' handling of every result can be checked.
#pragma once

#include <atomic>
#include <vector>

#include "mediagraph/graph/loop_hint.h"
#include "platform/media/media.h"
#include "platform/win32/errors.h"

namespace movietest {

class ScriptedGraph final : public IGraphBuilder,
                            public IMediaControl,
                            public IMediaPosition,
                            public IMediaEvent,
                            public IBasicAudio,
                            public ILoopHint {
 public:
  // Results the next calls give, and what the exports asked of the graph.
  struct Script {
    HRESULT renderResult = S_OK;
    HRESULT addFilterResult = S_OK;  // a failure sets ERROR_NOT_ENOUGH_MEMORY
    HRESULT runResult = S_OK;
    HRESULT pauseResult = S_OK;
    HRESULT stopResult = S_OK;
    HRESULT getStateResult = S_OK;
    LONG state = State_Stopped;
    HRESULT positionResult = S_OK;
    bool offerAudio = true;
    int pendingCompletions = 0;  // EC_COMPLETE events waiting in the queue
    std::vector<LONG> volumes;
    std::vector<LONG> stateTimeouts;
    std::vector<double> positions;
    std::vector<BOOL> loopHints;
    REFTIME duration = 2.0;
    REFTIME current = 0.5;
    int runs = 0;
    int pauses = 0;
    int stops = 0;
  };
  static Script script;
  static std::atomic<int> liveGraphs;

  static HRESULT Create(IUnknown *outer, REFIID iid, void **out) {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto *graph = new ScriptedGraph;
    const HRESULT hr = graph->QueryInterface(iid, out);
    graph->Release();
    return hr;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IGraphBuilder || iid == IID_IFilterGraph) {
      *out = static_cast<IGraphBuilder *>(this);
    } else if (iid == IID_IMediaControl) {
      *out = static_cast<IMediaControl *>(this);
    } else if (iid == IID_IMediaPosition) {
      *out = static_cast<IMediaPosition *>(this);
    } else if (iid == IID_IMediaEvent) {
      *out = static_cast<IMediaEvent *>(this);
    } else if (iid == IID_IBasicAudio && script.offerAudio) {
      *out = static_cast<IBasicAudio *>(this);
    } else if (iid == IID_ILoopHint) {
      *out = static_cast<ILoopHint *>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const int left = --refs_;
    if (left == 0) {
      for (IBaseFilter *f : filters_) {
        f->JoinFilterGraph(nullptr, nullptr);
        f->Release();
      }
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP SetRepetitive(BOOL repetitive) override {
    script.loopHints.push_back(repetitive);
    return S_OK;
  }

  // IFilterGraph / IGraphBuilder
  STDMETHODIMP AddFilter(IBaseFilter *filter, LPCWSTR name) override {
    if (FAILED(script.addFilterResult)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return script.addFilterResult;
    }
    filter->AddRef();
    filters_.push_back(filter);
    return filter->JoinFilterGraph(this, name);
  }
  STDMETHODIMP RenderFile(LPCWSTR, LPCWSTR) override {
    if (FAILED(script.renderResult)) SetLastError(ERROR_BAD_FORMAT);
    return script.renderResult;
  }
  STDMETHODIMP RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  STDMETHODIMP Connect(IPin *, IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP Render(IPin *) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  STDMETHODIMP SetLogFile(DWORD_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP Abort() override { return E_NOTIMPL; }
  STDMETHODIMP ShouldOperationContinue() override { return E_NOTIMPL; }

  // IDispatch, shared by the four automation interfaces
  STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                      UINT *) override {
    return E_NOTIMPL;
  }

  // IMediaControl
  STDMETHODIMP Run() override {
    ++script.runs;
    return script.runResult;
  }
  STDMETHODIMP Pause() override {
    ++script.pauses;
    return script.pauseResult;
  }
  STDMETHODIMP Stop() override {
    ++script.stops;
    return script.stopResult;
  }
  STDMETHODIMP GetState(LONG ms, OAFilterState *state) override {
    script.stateTimeouts.push_back(ms);
    *state = script.state;
    return script.getStateResult;
  }
  STDMETHODIMP RenderFile(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(BSTR, IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP get_FilterCollection(IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegFilterCollection(IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP StopWhenReady() override { return E_NOTIMPL; }

  // IMediaPosition
  STDMETHODIMP put_CurrentPosition(REFTIME t) override {
    script.positions.push_back(t);
    return script.positionResult;
  }
  STDMETHODIMP get_Duration(REFTIME *length) override {
    *length = script.duration;
    return S_OK;
  }
  STDMETHODIMP get_CurrentPosition(REFTIME *now) override {
    *now = script.current;
    return S_OK;
  }
  STDMETHODIMP get_StopTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_StopTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP get_PrerollTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP put_Rate(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Rate(double *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekForward(LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekBackward(LONG *) override { return E_NOTIMPL; }

  // IMediaEvent: only the scripted completions
  STDMETHODIMP GetEventHandle(OAEVENT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetEvent(LONG *code, LONG_PTR *p1, LONG_PTR *p2, LONG) override {
    if (script.pendingCompletions == 0) return E_ABORT;
    --script.pendingCompletions;
    *code = EC_COMPLETE;
    *p1 = 0;
    *p2 = 0;
    return S_OK;
  }
  STDMETHODIMP WaitForCompletion(LONG, LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP CancelDefaultHandling(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP RestoreDefaultHandling(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  // IBasicAudio
  STDMETHODIMP put_Volume(LONG level) override {
    script.volumes.push_back(level);
    return E_FAIL;  // ignored by the exports
  }
  STDMETHODIMP get_Volume(LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP put_Balance(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Balance(LONG *) override { return E_NOTIMPL; }

 private:
  ScriptedGraph() { ++liveGraphs; }
  ~ScriptedGraph() { --liveGraphs; }

  std::atomic<int> refs_{1};
  std::vector<IBaseFilter *> filters_;
};

}  // namespace movietest
