// The connection protocol seen from the output side: a TestOutputPin (built
// on CBasePin like a source's output pin) connecting to a TestInputPin.
#include "filterbase/base_pin.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/filterbase/fakes/fake_allocator.h"
#include "tests/filterbase/fakes/fake_peer_pin.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

using fbtest::MakeType;
using fbtest::TestFilter;
using fbtest::TestInputPin;
using fbtest::TestOutputPin;
using fbtest::TestSubtype;

std::vector<GUID> Subtypes(std::initializer_list<uint32_t> numbers) {
  std::vector<GUID> guids;
  for (uint32_t n : numbers) guids.push_back(TestSubtype(n));
  return guids;
}

// A complete video type with subtype n.
MediaTypeRecord Video(uint32_t n) {
  return MakeType(MEDIATYPE_Video, TestSubtype(n), FORMAT_VideoInfo, {1, 2, 3, 4, 5});
}

// Accepts only the listed subtypes, answering `refusal` otherwise.
std::function<HRESULT(const AM_MEDIA_TYPE *)> AcceptOnly(std::vector<GUID> accepted,
                                                         HRESULT refusal = S_FALSE) {
  return [accepted, refusal](const AM_MEDIA_TYPE *type) {
    return std::find(accepted.begin(), accepted.end(), type->subtype) != accepted.end()
               ? S_OK
               : refusal;
  };
}

int Count(const fbtest::CallLog &log, const std::wstring &entry) {
  return static_cast<int>(std::count(log.begin(), log.end(), entry));
}

class BasePinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    source = new TestFilter(&sourceGone);
    sink = new TestFilter(&sinkGone);
    source->Interface()->AddRef();
    sink->Interface()->AddRef();
    out = source->AddOutputPin(L"Out");
    in = sink->AddInputPin(L"In");
  }
  void TearDown() override {
    DisconnectBoth();
    EXPECT_EQ(source->Interface()->Release(), 0u);
    EXPECT_EQ(sink->Interface()->Release(), 0u);
    EXPECT_EQ(sourceGone, 1);
    EXPECT_EQ(sinkGone, 1);
    for (int i = 0; i < allocators.Created(); ++i) {
      EXPECT_EQ(allocators.At(i)->RefCount(), 0u);
    }
    CoUninitialize();
  }
  void DisconnectBoth() {
    source->ForceState(State_Stopped);
    sink->ForceState(State_Stopped);
    out->script.undoResult = S_OK;
    in->script.undoResult = S_OK;
    out->Disconnect();
    in->Disconnect();
  }
  // Neither pin connected and no reference left over from an attempt.
  void ExpectNothingLeftBehind() {
    EXPECT_FALSE(out->IsConnected());
    EXPECT_FALSE(in->IsConnected());
    EXPECT_EQ(source->RefCount(), 1u);
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(in->Allocator(), nullptr);
    EXPECT_EQ(out->Allocator(), nullptr);
  }

  fbtest::AllocatorRegistration allocators;
  int sourceGone = 0;
  int sinkGone = 0;
  TestFilter *source = nullptr;
  TestFilter *sink = nullptr;
  TestOutputPin *out = nullptr;
  TestInputPin *in = nullptr;
};

TEST_F(BasePinTest, ACompleteTypeIsTheOnlyTypeTried) {
  in->Propose({Video(1)});
  out->Propose({Video(2)});
  const MediaTypeRecord wanted = Video(7);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);
  EXPECT_EQ(in->script.tested, Subtypes({7}));
  EXPECT_EQ(out->script.tested, Subtypes({7}));
  EXPECT_TRUE(in->script.proposedAsked.empty());
  EXPECT_TRUE(out->script.proposedAsked.empty());

  EXPECT_EQ(out->ConnectedPeer(), static_cast<IPin *>(in));
  EXPECT_EQ(in->ConnectedPeer(), static_cast<IPin *>(out));
  EXPECT_TRUE(MatchesPattern(&out->ConnectionType(), &wanted));
  EXPECT_TRUE(MatchesPattern(&in->ConnectionType(), &wanted));
  // Each side holds one reference on the other's filter.
  EXPECT_EQ(source->RefCount(), 2u);
  EXPECT_EQ(sink->RefCount(), 2u);
}

TEST_F(BasePinTest, TheAllocatorHandshakeAgreesOnTheDefaultAllocator) {
  const MediaTypeRecord wanted = Video(1);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);
  ASSERT_EQ(allocators.Created(), 1);
  fbtest::FakeAllocator *allocator = allocators.Last();
  EXPECT_EQ(in->Allocator(), allocator);
  EXPECT_EQ(out->Allocator(), allocator);
  EXPECT_EQ(allocator->RefCount(), 2u);  // one each
  EXPECT_FALSE(in->IsReadOnly());

  DisconnectBoth();
  EXPECT_EQ(allocator->decommits, 1);  // by the input pin's UndoConnection
  EXPECT_EQ(allocator->RefCount(), 0u);
  ExpectNothingLeftBehind();
}

TEST_F(BasePinTest, ARefusedCompleteTypeLeavesNoPeerAndNoReference) {
  in->script.accept = AcceptOnly({}, S_FALSE);
  const MediaTypeRecord wanted = Video(1);
  EXPECT_EQ(out->Connect(in, &wanted), VFW_E_TYPE_NOT_ACCEPTED);
  ExpectNothingLeftBehind();
  EXPECT_GE(Count(source->log, L"UndoConnection:Out"), 1);

  in->script.accept = AcceptOnly({}, E_OUTOFMEMORY);  // a real failure is kept
  EXPECT_EQ(out->Connect(in, &wanted), E_OUTOFMEMORY);
  ExpectNothingLeftBehind();

  out->script.accept = AcceptOnly({}, E_INVALIDARG);  // refused by the connecting pin
  EXPECT_EQ(out->Connect(in, &wanted), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(Count(sink->log, L"TestMediaType:In"), 2);  // never asked the third time
  ExpectNothingLeftBehind();
}

TEST_F(BasePinTest, WithoutATypeTheReceiversTypesComeFirst) {
  in->Propose({Video(1), Video(2)});
  out->Propose({Video(3), Video(4)});
  in->script.accept = AcceptOnly(Subtypes({4}));
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(in->script.tested, Subtypes({1, 2, 3, 4}));
  EXPECT_EQ(in->ConnectionType().subtype, TestSubtype(4));
}

TEST_F(BasePinTest, OwnTypesFirstReversesTheOrder) {
  in->Propose({Video(1), Video(2)});
  out->Propose({Video(3), Video(4)});
  out->SetOwnTypesFirst(true);
  in->script.accept = AcceptOnly(Subtypes({2, 4}));
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(in->script.tested, Subtypes({3, 4}));
  EXPECT_EQ(out->ConnectionType().subtype, TestSubtype(4));
}

TEST_F(BasePinTest, AWildcardTypeIsAPatternOverBothLists) {
  in->Propose({MakeType(MEDIATYPE_Video, TestSubtype(1), FORMAT_VideoInfo),
               MakeType(MEDIATYPE_Audio, TestSubtype(2), FORMAT_VideoInfo)});
  out->Propose({MakeType(MEDIATYPE_Video, TestSubtype(3), FORMAT_WaveFormatEx),
                MakeType(MEDIATYPE_Audio, TestSubtype(4), FORMAT_WaveFormatEx)});
  in->script.accept = AcceptOnly({});
  const MediaTypeRecord videoOfAnyFormat = MakeType(MEDIATYPE_Video, GUID_NULL, GUID_NULL);
  EXPECT_EQ(out->Connect(in, &videoOfAnyFormat), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(in->script.tested, Subtypes({1, 3}));
  ExpectNothingLeftBehind();

  // A pattern naming a format type but no major type: only that format, and
  // the format blocks must agree (both empty here).
  in->script.tested.clear();
  const MediaTypeRecord anyWaveFormat = MakeType(GUID_NULL, GUID_NULL, FORMAT_WaveFormatEx);
  EXPECT_EQ(out->Connect(in, &anyWaveFormat), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(in->script.tested, Subtypes({3, 4}));

  // A type the pattern rules out hides no real failure of a later one.
  in->Propose({});
  out->Propose({Video(6), MakeType(MEDIATYPE_Audio, TestSubtype(4), FORMAT_WaveFormatEx)});
  in->script.accept = AcceptOnly({}, E_OUTOFMEMORY);
  EXPECT_EQ(out->Connect(in, &anyWaveFormat), E_OUTOFMEMORY);

  in->script.accept = AcceptOnly(Subtypes({4}));
  EXPECT_EQ(out->Connect(in, &anyWaveFormat), S_OK);
  EXPECT_EQ(in->ConnectionType().majortype, MEDIATYPE_Audio);
}

TEST_F(BasePinTest, NoTypesAtAllMeansNoAcceptableTypes) {
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  ExpectNothingLeftBehind();
}

TEST_F(BasePinTest, TheFirstRealFailureOfTheLastListTriedSurvives) {
  // Receiver's list: 1 fails for want of memory, 2 for lack of access; the
  // first such failure is that list's result. Own list: 3 is merely refused,
  // which makes that list's "no acceptable types" the final answer.
  in->Propose({Video(1), Video(2)});
  out->Propose({Video(3)});
  in->script.accept = [](const AM_MEDIA_TYPE *type) {
    if (type->subtype == TestSubtype(1)) return E_OUTOFMEMORY;
    if (type->subtype == TestSubtype(2)) return E_ACCESSDENIED;
    return S_FALSE;
  };
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  ExpectNothingLeftBehind();

  // The same failures in the list tried last are reported, the first one.
  in->Propose({Video(3)});
  out->Propose({Video(1), Video(2)});
  EXPECT_EQ(out->Connect(in, nullptr), E_OUTOFMEMORY);
  ExpectNothingLeftBehind();
}

TEST_F(BasePinTest, AFailedConclusionDisconnectsTheReceiverAgain) {
  const MediaTypeRecord wanted = Video(1);
  out->script.concludeResult = E_UNEXPECTED;
  EXPECT_EQ(out->Connect(in, &wanted), E_UNEXPECTED);
  EXPECT_EQ(Count(sink->log, L"ConcludeConnection:In"), 1);  // the receiver had connected
  ExpectNothingLeftBehind();

  out->script.concludeResult = S_OK;
  in->script.concludeResult = E_ACCESSDENIED;  // the receiver refuses to conclude
  EXPECT_EQ(out->Connect(in, &wanted), E_ACCESSDENIED);
  ExpectNothingLeftBehind();
}

TEST_F(BasePinTest, AnySuccessEndsTheTypeWalk) {
  // A conclusion that succeeds with S_FALSE still made the connection; no
  // second type may be tried over it.
  in->Propose({Video(1), Video(2)});
  out->script.concludeResult = S_FALSE;
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(in->script.tested, Subtypes({1}));
  EXPECT_EQ(Count(sink->log, L"ConcludeConnection:In"), 1);
  EXPECT_EQ(sink->RefCount(), 2u);
  EXPECT_EQ(source->RefCount(), 2u);
}

TEST_F(BasePinTest, ConnectRefusesWhenConnectedActiveOrMisdirected) {
  const MediaTypeRecord wanted = Video(1);
  EXPECT_EQ(out->Connect(nullptr, &wanted), E_POINTER);

  TestOutputPin *otherOut = sink->AddOutputPin(L"Out2");
  EXPECT_EQ(out->Connect(otherOut, &wanted), VFW_E_INVALID_DIRECTION);
  EXPECT_FALSE(out->IsConnected());
  EXPECT_FALSE(otherOut->IsConnected());

  source->ForceState(State_Paused);
  EXPECT_EQ(out->Connect(in, &wanted), VFW_E_NOT_STOPPED);
  out->SetReconnectWhenActive(true);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);
  EXPECT_EQ(out->Connect(in, &wanted), VFW_E_ALREADY_CONNECTED);
}

TEST_F(BasePinTest, DisconnectDependsOnTheFilterState) {
  EXPECT_EQ(out->Disconnect(), S_FALSE);
  const MediaTypeRecord wanted = Video(1);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);

  source->ForceState(State_Paused);
  EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(out->IsConnected());
  source->ForceState(State_Stopped);

  out->script.undoResult = E_FAIL;  // a pin that cannot let go keeps its peer
  EXPECT_EQ(out->Disconnect(), E_FAIL);
  EXPECT_TRUE(out->IsConnected());
  out->script.undoResult = S_OK;

  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_FALSE(out->IsConnected());
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(out->Disconnect(), S_FALSE);
  // The agreed type stays after disconnection.
  EXPECT_EQ(out->ConnectionType().subtype, TestSubtype(1));
}

TEST_F(BasePinTest, ConnectionMediaTypeCopiesOrResets) {
  AM_MEDIA_TYPE got{};
  got.lSampleSize = 77;
  got.majortype = MEDIATYPE_Audio;
  EXPECT_EQ(out->ConnectionMediaType(&got), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(got.majortype, GUID_NULL);
  EXPECT_EQ(got.subtype, GUID_NULL);
  EXPECT_EQ(got.formattype, GUID_NULL);
  EXPECT_EQ(got.bFixedSizeSamples, TRUE);
  EXPECT_EQ(got.lSampleSize, 1u);
  EXPECT_EQ(out->ConnectionMediaType(nullptr), E_POINTER);

  const MediaTypeRecord wanted = Video(1);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);
  EXPECT_EQ(in->ConnectionMediaType(&got), S_OK);
  EXPECT_TRUE(MatchesPattern(&got, &wanted));
  EXPECT_NE(got.pbFormat, in->ConnectionType().pbFormat);  // the caller's own block
  FreeMediaTypeContents(&got);
}

TEST_F(BasePinTest, QueriesAboutThePin) {
  const MediaTypeRecord type = Video(1);
  in->script.accept = [](const AM_MEDIA_TYPE *) { return S_FALSE; };
  EXPECT_EQ(in->QueryAccept(&type), S_FALSE);
  in->script.accept = [](const AM_MEDIA_TYPE *) { return E_OUTOFMEMORY; };
  EXPECT_EQ(in->QueryAccept(&type), S_FALSE);  // never a failure
  in->script.accept = nullptr;
  EXPECT_EQ(in->QueryAccept(&type), S_OK);
  EXPECT_EQ(in->QueryAccept(nullptr), E_POINTER);

  PIN_INFO info{};
  ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, source->Interface());
  EXPECT_EQ(std::wstring(info.achName), L"Out");
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(source->RefCount(), 2u);
  info.pFilter->Release();

  PIN_DIRECTION direction = PINDIR_OUTPUT;
  EXPECT_EQ(in->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_INPUT);
  EXPECT_EQ(in->QueryDirection(nullptr), E_POINTER);

  LPWSTR id = nullptr;
  ASSERT_EQ(in->QueryId(&id), S_OK);
  EXPECT_EQ(std::wstring(id), L"In");
  CoTaskMemFree(id);

  IPin *peer = reinterpret_cast<IPin *>(1);
  EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  ASSERT_EQ(out->Connect(in, &type), S_OK);
  ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, static_cast<IPin *>(out));
  EXPECT_EQ(source->RefCount(), 3u);
  peer->Release();

  IPin *pins = nullptr;
  ULONG count = 0;
  EXPECT_EQ(in->QueryInternalConnections(&pins, &count), E_NOTIMPL);
}

TEST_F(BasePinTest, InterfacesOfAPinAndTheirCounts) {
  void *asked = nullptr;
  ASSERT_EQ(static_cast<IPin *>(out)->QueryInterface(IID_IQualityControl, &asked), S_OK);
  EXPECT_EQ(asked, static_cast<void *>(static_cast<IQualityControl *>(out)));
  EXPECT_EQ(source->RefCount(), 2u);  // counted on the filter
  static_cast<IQualityControl *>(asked)->Release();
  EXPECT_EQ(static_cast<IPin *>(out)->QueryInterface(IID_IMemInputPin, &asked), E_NOINTERFACE);
  ASSERT_EQ(static_cast<IPin *>(in)->QueryInterface(IID_IMemInputPin, &asked), S_OK);
  EXPECT_EQ(asked, static_cast<void *>(static_cast<IMemInputPin *>(in)));
  static_cast<IMemInputPin *>(asked)->Release();
  EXPECT_EQ(sink->RefCount(), 1u);

  EXPECT_EQ(out->Notify(nullptr, Quality{}), E_POINTER);
  EXPECT_EQ(out->Notify(source->Interface(), Quality{}), S_OK);
  EXPECT_EQ(out->SetSink(in), S_OK);
  EXPECT_EQ(out->QualitySink(), static_cast<IQualityControl *>(in));
  EXPECT_EQ(out->SetSink(nullptr), S_OK);
  EXPECT_EQ(out->QualitySink(), nullptr);
  EXPECT_EQ(out->EndOfStream(), S_OK);
  EXPECT_EQ(out->BeginFlush(), E_UNEXPECTED);  // nothing to flush on the output side
  EXPECT_EQ(out->NewSegment(10, 20, 0.5), S_OK);
  EXPECT_EQ(out->SegmentStart(), 10);
  EXPECT_EQ(out->SegmentStop(), 20);
  EXPECT_EQ(out->SegmentRate(), 0.5);
  EXPECT_EQ(in->SegmentStop(), 0x7FFFFFFFFFFFFFFF);
  EXPECT_EQ(in->SegmentRate(), 1.0);
}

}  // namespace
