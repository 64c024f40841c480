// The movie instance's event handling and release, against fake graph interfaces.
#include "movie/movie_instance.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>


namespace {

// One journal shared by every fake, so the tests can check call order.
using Journal = std::vector<std::string>;

// IDispatch and IUnknown parts that the instance never uses meaningfully.
template <typename Interface>
class FakeDispatch : public Interface {
 public:
  explicit FakeDispatch(Journal *journal, const char *name) : journal_(journal), name_(name) {}
  virtual ~FakeDispatch() = default;
  STDMETHODIMP QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    journal_->push_back(std::string(name_) + ".Release");
    return --refs;
  }
  STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                      UINT *) override {
    return E_NOTIMPL;
  }
  ULONG refs = 1;

 protected:
  void Note(const std::string &what) { journal_->push_back(std::string(name_) + "." + what); }

 private:
  Journal *journal_;
  const char *name_;
};

struct QueuedEvent {
  LONG code;
  LONG_PTR param1;
  LONG_PTR param2;
};

class FakeEvents : public FakeDispatch<IMediaEvent> {
 public:
  explicit FakeEvents(Journal *j) : FakeDispatch(j, "events") {}
  STDMETHODIMP GetEventHandle(OAEVENT *) override { return E_NOTIMPL; }
  STDMETHODIMP GetEvent(LONG *code, LONG_PTR *p1, LONG_PTR *p2, LONG ms) override {
    Note("GetEvent(" + std::to_string(ms) + ")");
    if (queue.empty()) return E_ABORT;
    *code = queue.front().code;
    *p1 = queue.front().param1;
    *p2 = queue.front().param2;
    queue.pop_front();
    return S_OK;
  }
  STDMETHODIMP WaitForCompletion(LONG, LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP CancelDefaultHandling(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP RestoreDefaultHandling(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP FreeEventParams(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    Note("Free(" + std::to_string(code) + "," + std::to_string(p1) + "," + std::to_string(p2) +
         ")");
    return S_OK;
  }
  std::deque<QueuedEvent> queue;
};

class FakeControl : public FakeDispatch<IMediaControl> {
 public:
  explicit FakeControl(Journal *j) : FakeDispatch(j, "control") {}
  STDMETHODIMP Run() override { return E_NOTIMPL; }
  STDMETHODIMP Pause() override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override {
    Note("Stop");
    return stopResult;
  }
  STDMETHODIMP GetState(LONG, OAFilterState *) override { return E_NOTIMPL; }
  STDMETHODIMP RenderFile(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(BSTR, IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP get_FilterCollection(IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegFilterCollection(IDispatch **) override { return E_NOTIMPL; }
  STDMETHODIMP StopWhenReady() override { return E_NOTIMPL; }
  HRESULT stopResult = S_OK;
};

class FakePosition : public FakeDispatch<IMediaPosition> {
 public:
  explicit FakePosition(Journal *j) : FakeDispatch(j, "position") {}
  STDMETHODIMP get_Duration(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_CurrentPosition(REFTIME t) override {
    Note("put_CurrentPosition(" + std::to_string(static_cast<int>(t)) + ")");
    return S_OK;
  }
  STDMETHODIMP get_CurrentPosition(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP get_StopTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_StopTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP get_PrerollTime(REFTIME *) override { return E_NOTIMPL; }
  STDMETHODIMP put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP put_Rate(double) override { return E_NOTIMPL; }
  STDMETHODIMP get_Rate(double *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekForward(LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP CanSeekBackward(LONG *) override { return E_NOTIMPL; }
};

class FakeAudio : public FakeDispatch<IBasicAudio> {
 public:
  explicit FakeAudio(Journal *j) : FakeDispatch(j, "audio") {}
  STDMETHODIMP put_Volume(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Volume(LONG *) override { return E_NOTIMPL; }
  STDMETHODIMP put_Balance(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Balance(LONG *) override { return E_NOTIMPL; }
};

class FakeSink : public TextureFlushInterface {
 public:
  explicit FakeSink(Journal *j) : journal_(j) {}
  bool PrepareFormat(const BITMAPINFOHEADER *) override { return true; }
  bool FlushFrame(BYTE *, LONG, LONG) override { return true; }
  void NotifyStopped() override { journal_->push_back("sink.NotifyStopped"); }
  void ReleaseSurfaces() override { journal_->push_back("sink.ReleaseSurfaces"); }

 private:
  Journal *journal_;
};

class MovieInstanceEvents : public testing::Test {
 protected:
  MovieInstanceEvents() : sink(&journal), movie(&sink) {
    movie.control = &control;
    movie.position = &position;
    movie.events = &events;
    movie.audio = &audio;
  }
  ~MovieInstanceEvents() override {
    // The fakes live on the stack; keep ReleaseGraph from touching them twice.
    movie.control = nullptr;
    movie.position = nullptr;
    movie.events = nullptr;
    movie.audio = nullptr;
  }

  Journal journal;
  FakeSink sink;
  FakeEvents events{&journal};
  FakeControl control{&journal};
  FakePosition position{&journal};
  FakeAudio audio{&journal};
  MovieInstance movie;
};

TEST_F(MovieInstanceEvents, EmptyQueueMakesOneNonWaitingCall) {
  movie.ProcessGraphEvents();
  EXPECT_EQ((Journal{"events.GetEvent(0)"}), journal);
}

TEST_F(MovieInstanceEvents, OtherEventsAreFreedAndChangeNothing) {
  events.queue = {{EC_ERRORABORT, 7, 8}, {0x0D, 1, 2}};
  movie.ProcessGraphEvents();
  EXPECT_EQ((Journal{"events.GetEvent(0)", "events.Free(3,7,8)", "events.GetEvent(0)",
                     "events.Free(13,1,2)", "events.GetEvent(0)"}),
            journal);
}

TEST_F(MovieInstanceEvents, EndOfNonRepetitiveMovieStopsNotifiesAndRewinds) {
  events.queue = {{EC_COMPLETE, 0, 42}};
  movie.ProcessGraphEvents();
  EXPECT_EQ((Journal{"events.GetEvent(0)", "events.Free(1,0,42)", "control.Stop",
                     "sink.NotifyStopped", "position.put_CurrentPosition(0)",
                     "events.GetEvent(0)"}),
            journal);
}

TEST_F(MovieInstanceEvents, FailedStopIsNotRewound) {
  control.stopResult = E_FAIL;
  events.queue = {{EC_COMPLETE, 0, 0}};
  movie.ProcessGraphEvents();
  EXPECT_EQ((Journal{"events.GetEvent(0)", "events.Free(1,0,0)", "control.Stop",
                     "sink.NotifyStopped", "events.GetEvent(0)"}),
            journal);
}

TEST_F(MovieInstanceEvents, RepetitiveMovieOnlyRewindsForEveryQueuedEnd) {
  movie.repetitive = true;
  events.queue = {{EC_COMPLETE, 0, 0}, {EC_COMPLETE, 0, 0}};
  movie.ProcessGraphEvents();
  EXPECT_EQ((Journal{"events.GetEvent(0)", "events.Free(1,0,0)",
                     "position.put_CurrentPosition(0)", "events.GetEvent(0)",
                     "events.Free(1,0,0)", "position.put_CurrentPosition(0)",
                     "events.GetEvent(0)"}),
            journal);
}

TEST_F(MovieInstanceEvents, ReleaseStopsThenReleasesInOrderAndKeepsTheSink) {
  // The sink's surfaces go with the renderer, once the graph lets it go.
  movie.ReleaseGraph();
  EXPECT_EQ((Journal{"control.Stop", "control.Release", "audio.Release",
                     "events.Release", "position.Release"}),
            journal);
  EXPECT_EQ(nullptr, movie.control);
  EXPECT_EQ(nullptr, movie.events);
  EXPECT_EQ(&sink, movie.flusher);
  journal.clear();
  movie.ReleaseGraph();  // a second release finds nothing to do
  EXPECT_TRUE(journal.empty());
}

}  // namespace
