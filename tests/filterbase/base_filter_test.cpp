#include "filterbase/base_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/filterbase/fakes/fake_clock.h"
#include "tests/filterbase/fakes/fake_graph.h"
#include "tests/filterbase/fakes/fake_mapper.h"
#include "tests/filterbase/fakes/fake_peer_pin.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

using fbtest::CallLog;
using fbtest::FakePeerPin;
using fbtest::TestFilter;
using fbtest::TestInputPin;

class BaseFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    filter = new TestFilter(&destroyed);
    filter->Interface()->AddRef();
  }
  void TearDown() override {
    EXPECT_EQ(filter->Interface()->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
  }
  // Connects `pin` to `upstream` (the filter must be stopped).
  void Connect(TestInputPin *pin, FakePeerPin *upstream) {
    AM_MEDIA_TYPE type{};
    ResetMediaType(&type);
    ASSERT_EQ(pin->ReceiveConnection(upstream, &type), S_OK);
  }
  void Disconnect(TestInputPin *pin) {
    filter->ForceState(State_Stopped);
    EXPECT_EQ(pin->Disconnect(), S_OK);
  }
  CallLog TakeLog() {
    CallLog taken;
    taken.swap(filter->log);
    return taken;
  }
  // Only the state-change hooks, in order.
  CallLog StateCalls() {
    CallLog calls;
    for (const auto &entry : TakeLog()) {
      if (entry.rfind(L"ActivatePin", 0) == 0 || entry.rfind(L"DeactivatePin", 0) == 0 ||
          entry.rfind(L"StartPinRun", 0) == 0) {
        calls.push_back(entry);
      }
    }
    return calls;
  }
  FILTER_STATE State() {
    FILTER_STATE state = State_Running;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    return state;
  }

  int destroyed = 0;
  TestFilter *filter = nullptr;
};

TEST_F(BaseFilterTest, FilterInterfacesAllAnswerWithTheSamePointer) {
  IBaseFilter *base = filter->Interface();
  void *asked = nullptr;
  for (const GUID *iid : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist}) {
    ASSERT_EQ(base->QueryInterface(*iid, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<void *>(base));
    base->Release();
  }
  ASSERT_EQ(base->QueryInterface(IID_IAMovieSetup, &asked), S_OK);
  EXPECT_EQ(asked, static_cast<void *>(static_cast<IAMovieSetup *>(filter)));
  static_cast<IAMovieSetup *>(asked)->Release();
  EXPECT_EQ(base->QueryInterface(IID_IPin, &asked), E_NOINTERFACE);
  EXPECT_EQ(asked, nullptr);

  CLSID classId = GUID_NULL;
  EXPECT_EQ(base->GetClassID(&classId), S_OK);
  EXPECT_EQ(classId, fbtest::CLSID_TestFilter);
  EXPECT_EQ(base->GetClassID(nullptr), E_POINTER);
  LPWSTR vendor = nullptr;
  EXPECT_EQ(base->QueryVendorInfo(&vendor), E_NOTIMPL);
  EXPECT_EQ(base->EnumPins(nullptr), E_POINTER);
}

TEST_F(BaseFilterTest, RunFromStoppedActivatesThenStartsConnectedPinsOnly) {
  FakePeerPin upA, upC;
  TestInputPin *a = filter->AddInputPin(L"A");
  filter->AddInputPin(L"B");  // never connected: never told
  filter->AddMissingPin();    // a pin that could not be created is skipped
  TestInputPin *c = filter->AddInputPin(L"C");
  Connect(a, &upA);
  Connect(c, &upC);
  TakeLog();

  EXPECT_EQ(filter->Run(1000), S_OK);
  EXPECT_EQ(State(), State_Running);
  EXPECT_EQ(StateCalls(), (CallLog{L"ActivatePin:A", L"ActivatePin:C", L"StartPinRun:A",
                                   L"StartPinRun:C"}));
  EXPECT_EQ(a->script.lastStart, 1000);

  // Running again changes only the start time.
  EXPECT_EQ(filter->Run(5000), S_OK);
  EXPECT_EQ(StateCalls(), CallLog{});
  EXPECT_EQ(filter->StartTime(), 5000);

  // Pause from running or paused tells nobody.
  EXPECT_EQ(filter->Pause(), S_OK);
  EXPECT_EQ(filter->Pause(), S_OK);
  EXPECT_EQ(State(), State_Paused);
  EXPECT_EQ(StateCalls(), CallLog{});

  // Paused to running starts the pins without activating them again.
  EXPECT_EQ(filter->Run(6000), S_OK);
  EXPECT_EQ(StateCalls(), (CallLog{L"StartPinRun:A", L"StartPinRun:C"}));

  EXPECT_EQ(filter->Stop(), S_OK);
  EXPECT_EQ(StateCalls(), (CallLog{L"DeactivatePin:A", L"DeactivatePin:C"}));
  EXPECT_EQ(filter->Stop(), S_OK);  // already stopped: nobody is told
  EXPECT_EQ(StateCalls(), CallLog{});
  Disconnect(a);
  Disconnect(c);
}

TEST_F(BaseFilterTest, FailuresStopTransitionsButNotStop) {
  FakePeerPin upA, upB;
  TestInputPin *a = filter->AddInputPin(L"A");
  TestInputPin *b = filter->AddInputPin(L"B");
  Connect(a, &upA);
  Connect(b, &upB);
  TakeLog();

  a->script.activateResult = E_OUTOFMEMORY;
  EXPECT_EQ(filter->Pause(), E_OUTOFMEMORY);
  EXPECT_EQ(State(), State_Stopped);
  EXPECT_EQ(StateCalls(), CallLog{L"ActivatePin:A"});
  EXPECT_EQ(filter->Run(0), E_OUTOFMEMORY);  // through the same Pause
  EXPECT_EQ(State(), State_Stopped);
  a->script.activateResult = S_OK;
  TakeLog();

  b->script.startResult = E_UNEXPECTED;
  EXPECT_EQ(filter->Run(0), E_UNEXPECTED);
  EXPECT_EQ(State(), State_Paused);  // the Pause part happened
  TakeLog();

  // Stop visits every pin and reports the first failure.
  a->script.deactivateResult = E_FAIL;
  b->script.deactivateResult = E_ACCESSDENIED;
  EXPECT_EQ(filter->Stop(), E_FAIL);
  EXPECT_EQ(State(), State_Stopped);
  EXPECT_EQ(StateCalls(), (CallLog{L"DeactivatePin:A", L"DeactivatePin:B"}));
  Disconnect(a);
  Disconnect(b);
}

TEST_F(BaseFilterTest, AFilterWithoutConnectedPinsChangesStateAlone) {
  filter->AddInputPin(L"In");
  EXPECT_EQ(filter->Run(10), S_OK);
  EXPECT_EQ(State(), State_Running);
  EXPECT_EQ(filter->Stop(), S_OK);
  EXPECT_EQ(State(), State_Stopped);
  EXPECT_EQ(StateCalls(), CallLog{});
  EXPECT_EQ(filter->GetState(0, nullptr), E_POINTER);
}

TEST_F(BaseFilterTest, StreamTimeIsClockTimeMinusTheRunStart) {
  REFERENCE_TIME now = 0;
  EXPECT_EQ(filter->CurrentStreamTime(&now), VFW_E_NO_CLOCK);
  fbtest::FakeClock clock;
  EXPECT_EQ(filter->SetSyncSource(&clock), S_OK);
  EXPECT_EQ(filter->Run(1000000), S_OK);
  clock.now = 5000000;
  EXPECT_EQ(filter->CurrentStreamTime(&now), S_OK);
  EXPECT_EQ(now, 4000000);

  clock.timeResult = S_FALSE;  // a success of another kind still counts
  now = 0;
  EXPECT_EQ(filter->CurrentStreamTime(&now), S_OK);
  EXPECT_EQ(now, 4000000);
  clock.timeResult = E_UNEXPECTED;
  EXPECT_EQ(filter->CurrentStreamTime(&now), E_UNEXPECTED);

  // A clock swapped out while it is being asked is still held by the asker.
  fbtest::FakeClock next;
  ULONG heldDuringSwap = 0;
  clock.onGetTime = [&] {
    filter->SetSyncSource(&next);
    heldDuringSwap = clock.RefCount();
  };
  EXPECT_EQ(filter->CurrentStreamTime(&now), E_UNEXPECTED);
  EXPECT_EQ(heldDuringSwap, 1u);
  EXPECT_EQ(clock.RefCount(), 0u);
  EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
}

TEST_F(BaseFilterTest, TheFilterHoldsExactlyOneReferenceOnItsClock) {
  fbtest::FakeClock first, second;
  EXPECT_EQ(filter->SetSyncSource(&first), S_OK);
  EXPECT_EQ(first.RefCount(), 1u);
  EXPECT_EQ(filter->SetSyncSource(&first), S_OK);  // the same clock again
  EXPECT_EQ(first.RefCount(), 1u);
  EXPECT_EQ(filter->SetSyncSource(&second), S_OK);
  EXPECT_EQ(first.RefCount(), 0u);
  EXPECT_EQ(second.RefCount(), 1u);

  IReferenceClock *got = nullptr;
  EXPECT_EQ(filter->GetSyncSource(&got), S_OK);
  EXPECT_EQ(got, &second);
  EXPECT_EQ(second.RefCount(), 2u);
  got->Release();
  EXPECT_EQ(filter->GetSyncSource(nullptr), E_POINTER);

  // The destructor gives the last one back.
  int gone = 0;
  auto *other = new TestFilter(&gone);
  other->Interface()->AddRef();
  other->SetSyncSource(&second);
  EXPECT_EQ(second.RefCount(), 2u);
  other->Interface()->Release();
  EXPECT_EQ(gone, 1);
  EXPECT_EQ(second.RefCount(), 1u);
  EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(second.RefCount(), 0u);
  EXPECT_EQ(filter->GetSyncSource(&got), S_OK);
  EXPECT_EQ(got, nullptr);
}

TEST_F(BaseFilterTest, FilterInfoCutsLongNamesAndCountsTheGraph) {
  FILTER_INFO info;
  info.pGraph = reinterpret_cast<IFilterGraph *>(1);
  info.achName[0] = L'x';
  EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.achName[0], L'\0');
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(filter->QueryFilterInfo(nullptr), E_POINTER);

  fbtest::FakeGraph graph;
  const std::wstring longName(200, L'n');
  EXPECT_EQ(filter->JoinFilterGraph(&graph, longName.c_str()), S_OK);
  EXPECT_EQ(graph.RefCount(), 0u);  // membership holds no reference
  EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), std::wstring(127, L'n'));
  EXPECT_EQ(info.pGraph, &graph);
  EXPECT_EQ(graph.RefCount(), 1u);
  info.pGraph->Release();

  EXPECT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
  EXPECT_EQ(filter->Graph(), nullptr);
  EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.achName[0], L'\0');
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(filter->RaiseGraphEvent(EC_ERRORABORT, 1, 2), E_NOTIMPL);
}

TEST_F(BaseFilterTest, EventsReachTheGraphAndCompletionNamesTheFilter) {
  EXPECT_EQ(filter->RaiseGraphEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);  // not in a graph
  fbtest::FakeGraph graph;
  ASSERT_EQ(filter->JoinFilterGraph(&graph, L"TEXTURERENDERER"), S_OK);
  graph.notifyResult = S_FALSE;
  EXPECT_EQ(filter->RaiseGraphEvent(EC_COMPLETE, S_OK, 1234), S_FALSE);
  EXPECT_EQ(filter->RaiseGraphEvent(EC_ERRORABORT, E_FAIL, 77), S_FALSE);
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].param1, S_OK);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(filter->Interface()));
  EXPECT_EQ(events[1].code, EC_ERRORABORT);
  EXPECT_EQ(events[1].param2, 77);
  EXPECT_EQ(graph.RefCount(), 0u);

  fbtest::FakeGraph sinkless(false);
  ASSERT_EQ(filter->JoinFilterGraph(&sinkless, L"x"), S_OK);
  EXPECT_EQ(filter->RaiseGraphEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
  EXPECT_EQ(sinkless.RefCount(), 0u);
}

TEST_F(BaseFilterTest, FindPinComparesIdsExactly) {
  IPin *in = filter->AddInputPin(L"In");
  IPin *found = reinterpret_cast<IPin *>(1);
  EXPECT_EQ(filter->FindPin(L"in", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found, nullptr);
  ASSERT_EQ(filter->FindPin(L"In", &found), S_OK);
  EXPECT_EQ(found, in);
  found->Release();
  EXPECT_EQ(filter->FindPin(L"In", nullptr), E_POINTER);
}

TEST_F(BaseFilterTest, PinsCountOnTheirFilterAndItIsDestroyedOnce) {
  int gone = 0;
  auto *other = new TestFilter(&gone);
  IPin *pin = other->AddInputPin(L"In");
  EXPECT_EQ(pin->AddRef(), 1u);  // the pin's first reference is the filter's
  EXPECT_EQ(other->Interface()->AddRef(), 2u);
  EXPECT_EQ(other->Interface()->Release(), 1u);
  EXPECT_EQ(gone, 0);
  EXPECT_EQ(pin->Release(), 0u);
  EXPECT_EQ(gone, 1);
}

// --- Registration

const GUID kMajor = MEDIATYPE_Video;
const GUID kSubA = fbtest::TestSubtype(1);
const GUID kSubB = fbtest::TestSubtype(2);
const RegisteredMediaType kInTypes[] = {{&kMajor, &kSubA}, {&kMajor, &kSubB}};
const RegisteredMediaType kOutTypes[] = {{&kMajor, &kSubB}};
const PinRegistrationRecord kPins[] = {
    {L"In", TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 2, kInTypes},
    {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, L"In", 1, kOutTypes},
};
const FilterRegistrationRecord kRecord = {&fbtest::CLSID_TestFilter, L"Test", MERIT_NORMAL, 2,
                                          kPins};

std::wstring TypeCall(const wchar_t *pin, const GUID &sub) {
  return L"RegisterPinType:" + std::wstring(pin) + L":" + std::to_wstring(sub.Data1);
}

class RegistrationTest : public BaseFilterTest {
 protected:
  void SetUp() override {
    BaseFilterTest::SetUp();
    CoInitialize(nullptr);
    filter->registration = &kRecord;
  }
  void TearDown() override {
    CoUninitialize();
    BaseFilterTest::TearDown();
  }
  const std::wstring filterCall = L"RegisterFilter:Test:" + std::to_wstring(MERIT_NORMAL);
  fbtest::FakeMapper mapper;
};

TEST_F(RegistrationTest, WithoutRegistrationDataNothingIsCreated) {
  filter->registration = nullptr;
  fbtest::MapperRegistration served(&mapper);
  EXPECT_EQ(filter->Register(), S_FALSE);
  EXPECT_EQ(filter->Unregister(), S_FALSE);
  EXPECT_EQ(fbtest::MapperRegistration::Created(), 0);
}

TEST_F(RegistrationTest, RegisterWalksFilterPinsAndTypesInRecordOrder) {
  fbtest::MapperRegistration served(&mapper);
  EXPECT_EQ(filter->Register(), S_OK);
  EXPECT_EQ(mapper.calls,
            (std::vector<std::wstring>{L"UnregisterFilter", filterCall,
                                       L"RegisterPin:In:rendered", TypeCall(L"In", kSubA),
                                       TypeCall(L"In", kSubB), L"RegisterPin:Out:output",
                                       TypeCall(L"Out", kSubB)}));
  EXPECT_EQ(mapper.RefCount(), 0u);
}

TEST_F(RegistrationTest, TheWalkStopsAtTheFirstFailureAndRegisterStillSucceeds) {
  fbtest::MapperRegistration served(&mapper);
  mapper.results[TypeCall(L"In", kSubA)] = E_ACCESSDENIED;
  EXPECT_EQ(filter->Register(), S_OK);
  EXPECT_EQ(mapper.calls, (std::vector<std::wstring>{L"UnregisterFilter", filterCall,
                                                     L"RegisterPin:In:rendered",
                                                     TypeCall(L"In", kSubA)}));
  EXPECT_EQ(RunRegistrationWalk(&kRecord, &mapper, TRUE), E_ACCESSDENIED);

  // A failed pin registration stops before its types.
  mapper.results.clear();
  mapper.results[L"RegisterPin:Out:output"] = E_FAIL;
  mapper.calls.clear();
  EXPECT_EQ(RunRegistrationWalk(&kRecord, &mapper, TRUE), E_FAIL);
  EXPECT_EQ(mapper.calls.back(), L"RegisterPin:Out:output");

  // A failed filter registration skips every pin.
  mapper.results.clear();
  mapper.results[filterCall] = E_OUTOFMEMORY;
  mapper.calls.clear();
  EXPECT_EQ(RunRegistrationWalk(&kRecord, &mapper, TRUE), E_OUTOFMEMORY);
  EXPECT_EQ(mapper.calls, (std::vector<std::wstring>{L"UnregisterFilter", filterCall}));
}

TEST_F(RegistrationTest, FileNotFoundCountsAsSuccess) {
  fbtest::MapperRegistration served(&mapper);
  mapper.results[L"UnregisterFilter"] = RegistrationNothingFound;
  EXPECT_EQ(filter->Unregister(), S_OK);
  EXPECT_EQ(mapper.calls, std::vector<std::wstring>{L"UnregisterFilter"});
  // Only as the final result: registering goes on after it and its own
  // result counts.
  EXPECT_EQ(RunRegistrationWalk(&kRecord, &mapper, TRUE), S_OK);
  mapper.results[TypeCall(L"Out", kSubB)] = RegistrationNothingFound;
  EXPECT_EQ(RunRegistrationWalk(&kRecord, &mapper, TRUE), S_OK);

  mapper.results[L"UnregisterFilter"] = E_ACCESSDENIED;
  EXPECT_EQ(filter->Unregister(), E_ACCESSDENIED);
  EXPECT_EQ(RunRegistrationWalk(nullptr, &mapper, FALSE), E_POINTER);
}

TEST_F(RegistrationTest, WithoutAMapperUnregisterReportsWhyAndRegisterDoesNot) {
  StandInRegisterClass(CLSID_FilterMapper, nullptr);
  EXPECT_EQ(filter->Register(), S_OK);
  EXPECT_EQ(filter->Unregister(), REGDB_E_CLASSNOTREG);
}

}  // namespace
