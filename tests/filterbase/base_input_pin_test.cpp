// The input side: accepting a connection, the allocator handshake, and the
// base checks and property filling of every sample.
#include "filterbase/base_input_pin.h"

#include <gtest/gtest.h>

#include "tests/filterbase/fakes/fake_allocator.h"
#include "tests/filterbase/fakes/fake_graph.h"
#include "tests/filterbase/fakes/fake_peer_pin.h"
#include "tests/filterbase/fakes/fake_sample.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

using fbtest::FakePeerPin;
using fbtest::FakeSample;
using fbtest::MakeType;
using fbtest::TestFilter;
using fbtest::TestInputPin;
using fbtest::TestSubtype;

class BaseInputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    filter = new TestFilter(&destroyed);
    filter->Interface()->AddRef();
    ASSERT_EQ(filter->JoinFilterGraph(&graph, L"sink"), S_OK);
    in = filter->AddInputPin(L"In");
  }
  void TearDown() override {
    filter->ForceState(State_Stopped);
    in->Disconnect();
    EXPECT_EQ(filter->Interface()->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
    CoUninitialize();
  }
  const MediaTypeRecord type = MakeType(MEDIATYPE_Video, TestSubtype(1), FORMAT_VideoInfo, {9});

  fbtest::AllocatorRegistration allocators;
  fbtest::FakeGraph graph;
  int destroyed = 0;
  TestFilter *filter = nullptr;
  TestInputPin *in = nullptr;
};

// --- Accepting a connection

TEST_F(BaseInputPinTest, RefusedConnectionsLeaveNoPeerAndNoReference) {
  FakePeerPin sameDirection(PINDIR_INPUT);
  EXPECT_EQ(in->ReceiveConnection(&sameDirection, &type), VFW_E_INVALID_DIRECTION);
  FakePeerPin mute;
  mute.directionResult = E_FAIL;  // a peer that cannot say its direction
  EXPECT_EQ(in->ReceiveConnection(&mute, &type), VFW_E_INVALID_DIRECTION);

  FakePeerPin upstream;
  const struct {
    HRESULT answer;
    HRESULT expected;
  } refusals[] = {{S_FALSE, VFW_E_TYPE_NOT_ACCEPTED},
                  {E_FAIL, VFW_E_TYPE_NOT_ACCEPTED},
                  {E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED},
                  {E_OUTOFMEMORY, E_OUTOFMEMORY}};
  for (const auto &refusal : refusals) {
    in->script.accept = [&](const AM_MEDIA_TYPE *) { return refusal.answer; };
    EXPECT_EQ(in->ReceiveConnection(&upstream, &type), refusal.expected);
  }
  in->script.accept = nullptr;
  in->script.concludeResult = E_ACCESSDENIED;
  EXPECT_EQ(in->ReceiveConnection(&upstream, &type), E_ACCESSDENIED);

  EXPECT_FALSE(in->IsConnected());
  EXPECT_EQ(sameDirection.RefCount(), 0u);
  EXPECT_EQ(mute.RefCount(), 0u);
  EXPECT_EQ(upstream.RefCount(), 0u);
  int undone = 0;
  for (const auto &entry : filter->log) undone += entry == L"UndoConnection:In";
  EXPECT_EQ(undone, 7);  // once per refusal
}

TEST_F(BaseInputPinTest, OneConnectionAtATimeAndOnlyWhileStopped) {
  FakePeerPin first, second;
  EXPECT_EQ(in->ReceiveConnection(nullptr, &type), E_POINTER);
  EXPECT_EQ(in->ReceiveConnection(&first, nullptr), E_POINTER);

  filter->ForceState(State_Paused);
  EXPECT_EQ(in->ReceiveConnection(&first, &type), VFW_E_NOT_STOPPED);
  filter->ForceState(State_Stopped);

  ASSERT_EQ(in->ReceiveConnection(&first, &type), S_OK);
  EXPECT_EQ(first.RefCount(), 1u);
  EXPECT_EQ(in->ConnectionType().subtype, TestSubtype(1));
  EXPECT_EQ(in->ReceiveConnection(&second, &type), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(in->ReceiveConnection(&first, &type), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(second.RefCount(), 0u);

  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(first.RefCount(), 0u);
  filter->ForceState(State_Running);
  in->SetReconnectWhenActive(true);
  EXPECT_EQ(in->ReceiveConnection(&second, &type), S_OK);
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);  // the flag does not cover Disconnect
  filter->ForceState(State_Stopped);
  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(second.RefCount(), 0u);
}

// --- Allocator

TEST_F(BaseInputPinTest, GetAllocatorCreatesTheDefaultAllocatorOnce) {
  IMemAllocator *a = nullptr;
  IMemAllocator *b = nullptr;
  EXPECT_EQ(in->GetAllocator(nullptr), E_POINTER);
  ASSERT_EQ(in->GetAllocator(&a), S_OK);
  ASSERT_EQ(in->GetAllocator(&b), S_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(allocators.Created(), 1);
  EXPECT_EQ(allocators.Last()->RefCount(), 3u);
  a->Release();
  b->Release();
  ALLOCATOR_PROPERTIES props{};
  EXPECT_EQ(in->GetAllocatorRequirements(&props), E_NOTIMPL);
}

TEST_F(BaseInputPinTest, AFailedAllocatorCreationStoresNothing) {
  StandInRegisterClass(CLSID_MemoryAllocator, nullptr);
  IMemAllocator *got = reinterpret_cast<IMemAllocator *>(1);
  EXPECT_EQ(in->GetAllocator(&got), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(in->Allocator(), nullptr);
}

TEST_F(BaseInputPinTest, NotifyAllocatorKeepsExactlyOneReference) {
  fbtest::FakeAllocator first, second;
  EXPECT_EQ(in->NotifyAllocator(nullptr, FALSE), E_POINTER);
  EXPECT_EQ(in->NotifyAllocator(&first, TRUE), S_OK);
  EXPECT_TRUE(in->IsReadOnly());
  EXPECT_EQ(in->NotifyAllocator(&first, 0x100), S_OK);  // only the low byte counts
  EXPECT_FALSE(in->IsReadOnly());
  EXPECT_EQ(first.RefCount(), 1u);
  EXPECT_EQ(in->NotifyAllocator(&second, FALSE), S_OK);
  EXPECT_EQ(first.RefCount(), 0u);
  EXPECT_EQ(second.RefCount(), 1u);

  // Disconnecting decommits and lets go; a failed decommit keeps everything.
  FakePeerPin upstream;
  ASSERT_EQ(in->ReceiveConnection(&upstream, &type), S_OK);
  second.decommitResult = E_FAIL;
  EXPECT_EQ(in->Disconnect(), E_FAIL);
  EXPECT_TRUE(in->IsConnected());
  EXPECT_EQ(second.RefCount(), 1u);
  second.decommitResult = S_OK;
  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(second.decommits, 2);
  EXPECT_EQ(second.RefCount(), 0u);
  EXPECT_EQ(upstream.RefCount(), 0u);
}

// --- Samples

TEST_F(BaseInputPinTest, TheStreamingStateIsCheckedInOrder) {
  FakeSample sample;
  EXPECT_EQ(in->Receive(nullptr), E_POINTER);
  EXPECT_EQ(in->Receive(&sample), VFW_E_WRONG_STATE);
  EXPECT_EQ(in->BeginFlush(), S_OK);
  EXPECT_EQ(in->Receive(&sample), VFW_E_WRONG_STATE);  // stopped wins over flushing
  filter->ForceState(State_Running);
  EXPECT_EQ(in->Receive(&sample), S_FALSE);  // dropped quietly
  in->SetRuntimeError(true);
  EXPECT_EQ(in->Receive(&sample), S_FALSE);  // flushing wins over the error
  EXPECT_EQ(in->EndFlush(), S_OK);
  EXPECT_FALSE(in->IsFlushing());
  EXPECT_FALSE(in->HasRuntimeError());
  EXPECT_EQ(in->Receive(&sample), S_OK);
  EXPECT_EQ(sample.RefCount(), 0u);
}

struct FlagCase {
  const char *name;
  void (*arrange)(FakeSample &);
  DWORD flags;
};

const DWORD kTimes = AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
const MediaTypeRecord kChangedType = MakeType(MEDIATYPE_Video, TestSubtype(5), FORMAT_VideoInfo);

const FlagCase kFlagCases[] = {
    {"Plain", [](FakeSample &) {}, kTimes},
    {"Discontinuity", [](FakeSample &s) { s.discontinuity = S_OK; },
     kTimes | AM_SAMPLE_DATADISCONTINUITY},
    {"Preroll", [](FakeSample &s) { s.preroll = S_OK; }, kTimes | AM_SAMPLE_PREROLL},
    {"SyncPoint", [](FakeSample &s) { s.syncPoint = S_OK; }, kTimes | AM_SAMPLE_SPLICEPOINT},
    {"SyncPointFailing", [](FakeSample &s) { s.syncPoint = E_FAIL; }, kTimes},
    {"TimeFailing", [](FakeSample &s) { s.timeResult = VFW_E_TIME_NOT_SET; }, 0},
    {"TimeWithAnotherSuccess", [](FakeSample &s) { s.timeResult = S_FALSE; }, kTimes},
    {"TypeChange", [](FakeSample &s) { s.mediaType = &kChangedType; },
     kTimes | AM_SAMPLE_TYPECHANGED},
    {"Everything",
     [](FakeSample &s) {
       s.discontinuity = s.preroll = s.syncPoint = S_OK;
       s.mediaType = &kChangedType;
     },
     kTimes | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_PREROLL | AM_SAMPLE_SPLICEPOINT |
         AM_SAMPLE_TYPECHANGED},
};

class SamplePropertiesTest : public BaseInputPinTest,
                             public ::testing::WithParamInterface<FlagCase> {};

TEST_P(SamplePropertiesTest, ASampleWithoutSample2IsReadCallByCall) {
  filter->ForceState(State_Running);
  // A previous sample with other times must leave nothing behind.
  FakeSample earlier;
  earlier.start = 1;
  earlier.stop = 2;
  ASSERT_EQ(in->Receive(&earlier), S_OK);

  FakeSample sample;
  GetParam().arrange(sample);
  ASSERT_EQ(in->Receive(&sample), S_OK);
  const AM_SAMPLE2_PROPERTIES &props = in->SampleProps();
  EXPECT_EQ(props.dwSampleFlags, GetParam().flags);
  // 48 bytes on the platform; the host's own size of the structure here.
  EXPECT_EQ(props.cbData, sizeof(AM_SAMPLE2_PROPERTIES));
  EXPECT_EQ(props.dwTypeSpecificFlags, 0u);
  EXPECT_EQ(props.dwStreamId, AM_STREAM_MEDIA);
  BYTE *buffer = nullptr;
  sample.GetPointer(&buffer);
  EXPECT_EQ(props.pbBuffer, buffer);
  EXPECT_EQ(props.lActual, 24);
  EXPECT_EQ(props.cbBuffer, 32);
  if (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) {
    EXPECT_EQ(props.tStart, 100);
    EXPECT_EQ(props.tStop, 200);
  } else {
    EXPECT_EQ(props.tStop, 0);
  }
  if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
    ASSERT_NE(props.pMediaType, nullptr);
    EXPECT_EQ(props.pMediaType->subtype, TestSubtype(5));
  } else {
    EXPECT_EQ(props.pMediaType, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Flags, SamplePropertiesTest, ::testing::ValuesIn(kFlagCases),
                         [](const auto &flagCase) { return std::string(flagCase.param.name); });

TEST_F(BaseInputPinTest, ASample2HandsOverItsPropertiesWhole) {
  filter->ForceState(State_Running);
  FakeSample sample(true);
  sample.properties.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEDISCONTINUITY;
  sample.properties.tStart = 7;
  sample.properties.lActual = 3;
  sample.discontinuity = S_OK;  // not asked: the properties say it all
  ASSERT_EQ(in->Receive(&sample), S_OK);
  EXPECT_EQ(sample.propertiesSizeAsked, sizeof(AM_SAMPLE2_PROPERTIES));
  EXPECT_EQ(in->SampleProps().dwSampleFlags, AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEDISCONTINUITY);
  EXPECT_EQ(in->SampleProps().tStart, 7);
  EXPECT_EQ(in->SampleProps().lActual, 3);

  sample.propertiesResult = E_UNEXPECTED;
  EXPECT_EQ(in->Receive(&sample), E_UNEXPECTED);

  // A type change that names no type is refused like a bad type.
  sample.propertiesResult = S_OK;
  sample.properties.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
  sample.properties.pMediaType = nullptr;
  EXPECT_EQ(in->Receive(&sample), VFW_E_INVALIDMEDIATYPE);
  EXPECT_TRUE(in->HasRuntimeError());
  EXPECT_EQ(sample.RefCount(), 0u);

  // So is one that a plain sample announces with S_OK and a null type.
  in->SetRuntimeError(false);
  FakeSample plain;
  plain.untypedAnswer = S_OK;
  EXPECT_EQ(in->Receive(&plain), VFW_E_INVALIDMEDIATYPE);
  EXPECT_TRUE(in->HasRuntimeError());
}

TEST_F(BaseInputPinTest, ARejectedTypeChangeStopsTheStreamUntilAFlushEnds) {
  filter->ForceState(State_Running);
  in->script.accept = [](const AM_MEDIA_TYPE *t) {
    return t->subtype == TestSubtype(5) ? S_FALSE : S_OK;
  };
  FakeSample changing;
  changing.mediaType = &kChangedType;
  EXPECT_EQ(in->Receive(&changing), VFW_E_INVALIDMEDIATYPE);
  EXPECT_TRUE(in->HasRuntimeError());
  EXPECT_EQ(in->script.endOfStreams, 1);  // through IPin: the derived one ran
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_EQ(events[0].param1, VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(events[0].param2, 0);

  FakeSample plain;
  EXPECT_EQ(in->Receive(&plain), VFW_E_RUNTIME_ERROR);
  EXPECT_EQ(in->BeginFlush(), S_OK);
  EXPECT_EQ(in->Receive(&plain), S_FALSE);
  EXPECT_EQ(in->EndFlush(), S_OK);
  EXPECT_EQ(in->Receive(&plain), S_OK);
  EXPECT_EQ(graph.Events().size(), 1u);
}

TEST_F(BaseInputPinTest, AnAcceptedTypeChangeIsHandedOnAndItsTypeFreedLater) {
  filter->ForceState(State_Running);
  fbtest::CountedUnknown unknown;
  MediaTypeRecord changed = MakeType(MEDIATYPE_Video, TestSubtype(6), FORMAT_VideoInfo, {1, 2});
  changed.pUnk = &unknown;
  unknown.AddRef();
  FakeSample changing;
  changing.mediaType = &changed;
  ASSERT_EQ(in->Receive(&changing), S_OK);
  ASSERT_NE(in->SampleProps().pMediaType, nullptr);
  EXPECT_EQ(in->AdoptMediaType(in->SampleProps().pMediaType), S_OK);
  EXPECT_EQ(in->ConnectionType().subtype, TestSubtype(6));
  EXPECT_EQ(unknown.RefCount(), 3u);  // the record, the sample's copy, the connection type

  FakeSample plain;
  ASSERT_EQ(in->Receive(&plain), S_OK);
  EXPECT_EQ(unknown.RefCount(), 2u);  // the sample's copy is gone
  ASSERT_EQ(in->Receive(&changing), S_OK);
  EXPECT_EQ(unknown.RefCount(), 3u);
  // The pin's destruction (in TearDown) frees the rest; check it here.
  filter->ForceState(State_Stopped);
  EXPECT_EQ(filter->Interface()->Release(), 0u);
  EXPECT_EQ(unknown.RefCount(), 1u);
  filter = new TestFilter(&destroyed);  // TearDown's own
  destroyed = 0;
  filter->Interface()->AddRef();
  in = filter->AddInputPin(L"In");
}

TEST_F(BaseInputPinTest, ReceiveMultipleStopsAtTheFirstRefusal) {
  filter->ForceState(State_Running);
  in->script.accept = [](const AM_MEDIA_TYPE *) { return S_FALSE; };
  FakeSample first, refused, third;
  refused.mediaType = &kChangedType;
  IMediaSample *samples[] = {&first, &refused, &third};
  LONG processed = 9;
  EXPECT_EQ(in->ReceiveMultiple(samples, 3, &processed), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(processed, 1);
  EXPECT_EQ(in->script.receives, 2);  // through IMemInputPin: the derived Receive

  EXPECT_EQ(in->ReceiveMultiple(samples, 0, &processed), S_OK);
  EXPECT_EQ(processed, 0);
  EXPECT_EQ(in->ReceiveMultiple(nullptr, 1, &processed), E_POINTER);
  EXPECT_EQ(in->ReceiveMultiple(samples, 1, nullptr), E_POINTER);
}

TEST_F(BaseInputPinTest, ReceiveCanBlockAsksWhatTheFilterFeeds) {
  EXPECT_EQ(in->ReceiveCanBlock(), S_OK);  // a pure sink may block

  fbtest::TestOutputPin *out = filter->AddOutputPin(L"Out");
  out->negotiateAllocator = false;
  EXPECT_EQ(in->ReceiveCanBlock(), S_OK);  // an unconnected output does not count

  FakePeerPin nonBlocking(PINDIR_INPUT, true);
  nonBlocking.canBlock = S_FALSE;
  ASSERT_EQ(out->Connect(&nonBlocking, &type), S_OK);
  EXPECT_EQ(in->ReceiveCanBlock(), S_FALSE);
  nonBlocking.canBlock = S_OK;
  EXPECT_EQ(in->ReceiveCanBlock(), S_OK);
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(nonBlocking.RefCount(), 0u);

  FakePeerPin withoutMemInput(PINDIR_INPUT, false);
  ASSERT_EQ(out->Connect(&withoutMemInput, &type), S_OK);
  EXPECT_EQ(in->ReceiveCanBlock(), S_OK);
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(withoutMemInput.RefCount(), 0u);
}

}  // namespace
