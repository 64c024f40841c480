#include "filterbase/pos_pass_thru.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/media/codes.h"
#include "platform/media/guids.h"
#include "platform/win32/errors.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

// Counts its references; never deletes itself (lives on the test's stack).
template <class Interface>
class Counted : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  int references = 0;
};

class MockSeeking : public Counted<IMediaSeeking> {
 public:
  STDMETHODIMP QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  MOCK_METHOD(HRESULT, GetCapabilities, (DWORD *), (override));
  MOCK_METHOD(HRESULT, CheckCapabilities, (DWORD *), (override));
  MOCK_METHOD(HRESULT, IsFormatSupported, (const GUID *), (override));
  MOCK_METHOD(HRESULT, QueryPreferredFormat, (GUID *), (override));
  MOCK_METHOD(HRESULT, GetTimeFormat, (GUID *), (override));
  MOCK_METHOD(HRESULT, IsUsingTimeFormat, (const GUID *), (override));
  MOCK_METHOD(HRESULT, SetTimeFormat, (const GUID *), (override));
  MOCK_METHOD(HRESULT, GetDuration, (LONGLONG *), (override));
  MOCK_METHOD(HRESULT, GetStopPosition, (LONGLONG *), (override));
  MOCK_METHOD(HRESULT, GetCurrentPosition, (LONGLONG *), (override));
  MOCK_METHOD(HRESULT, ConvertTimeFormat, (LONGLONG *, const GUID *, LONGLONG, const GUID *),
              (override));
  MOCK_METHOD(HRESULT, SetPositions, (LONGLONG *, DWORD, LONGLONG *, DWORD), (override));
  MOCK_METHOD(HRESULT, GetPositions, (LONGLONG *, LONGLONG *), (override));
  MOCK_METHOD(HRESULT, GetAvailable, (LONGLONG *, LONGLONG *), (override));
  MOCK_METHOD(HRESULT, SetRate, (double), (override));
  MOCK_METHOD(HRESULT, GetRate, (double *), (override));
  MOCK_METHOD(HRESULT, GetPreroll, (LONGLONG *), (override));
};

class MockPosition : public Counted<IMediaPosition> {
 public:
  STDMETHODIMP QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  MOCK_METHOD(HRESULT, GetTypeInfoCount, (UINT *), (override));
  MOCK_METHOD(HRESULT, GetTypeInfo, (UINT, LCID, ITypeInfo **), (override));
  MOCK_METHOD(HRESULT, GetIDsOfNames, (REFIID, LPOLESTR *, UINT, LCID, DISPID *), (override));
  MOCK_METHOD(HRESULT, Invoke,
              (DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *),
              (override));
  MOCK_METHOD(HRESULT, get_Duration, (REFTIME *), (override));
  MOCK_METHOD(HRESULT, put_CurrentPosition, (REFTIME), (override));
  MOCK_METHOD(HRESULT, get_CurrentPosition, (REFTIME *), (override));
  MOCK_METHOD(HRESULT, get_StopTime, (REFTIME *), (override));
  MOCK_METHOD(HRESULT, put_StopTime, (REFTIME), (override));
  MOCK_METHOD(HRESULT, get_PrerollTime, (REFTIME *), (override));
  MOCK_METHOD(HRESULT, put_PrerollTime, (REFTIME), (override));
  MOCK_METHOD(HRESULT, put_Rate, (double), (override));
  MOCK_METHOD(HRESULT, get_Rate, (double *), (override));
  MOCK_METHOD(HRESULT, CanSeekForward, (LONG *), (override));
  MOCK_METHOD(HRESULT, CanSeekBackward, (LONG *), (override));
};

// A pin that answers only what the pass-through asks of pins: ConnectedTo on
// its own input pin, QueryInterface and Release on the upstream peer.
class FakePin : public Counted<IPin> {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    *out = nullptr;
    IUnknown *found = nullptr;
    if (iid == IID_IPin) found = static_cast<IPin *>(this);
    if (iid == IID_IMediaSeeking) found = seeking;
    if (iid == IID_IMediaPosition) found = position;
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    *out = found;
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin **pin) override {
    if (pin == nullptr) return E_POINTER;
    *pin = peer;
    if (peer == nullptr) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
  }
  STDMETHODIMP Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect() override { return E_NOTIMPL; }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryDirection(PIN_DIRECTION *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryId(LPWSTR *) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_NOTIMPL; }
  STDMETHODIMP BeginFlush() override { return E_NOTIMPL; }
  STDMETHODIMP EndFlush() override { return E_NOTIMPL; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

  IPin *peer = nullptr;
  IUnknown *seeking = nullptr;
  IUnknown *position = nullptr;
};

// A pass-through whose renderer knows the current sample time.
class CTimedPassThru : public CPosPassThru {
 public:
  CTimedPassThru(HRESULT *result, IPin *pin) : CPosPassThru(L"timed", nullptr, result, pin) {}
  HRESULT CurrentMediaTimes(LONGLONG *start, LONGLONG *stop) override {
    ++asked;
    if (!known) return E_FAIL;
    *start = 4200000;
    if (stop) *stop = 4600000;
    return S_OK;
  }
  bool known = false;
  int asked = 0;
};

class PosPassThruTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upstream.seeking = &seeking;
    upstream.position = &position;
    input.peer = &upstream;
    passThru = new CTimedPassThru(&constructed, &input);
    passThru->NonDelegatingUnknown()->AddRef();
    asSeeking = passThru;
    asPosition = passThru;
  }
  void TearDown() override {
    EXPECT_EQ(passThru->NonDelegatingUnknown()->Release(), 0u);
    // Every reference the pass-through took upstream was given back.
    EXPECT_EQ(upstream.references, 0);
    EXPECT_EQ(seeking.references, 0);
    EXPECT_EQ(position.references, 0);
    EXPECT_EQ(input.references, 0);
  }

  StrictMock<MockSeeking> seeking;
  StrictMock<MockPosition> position;
  FakePin upstream;
  FakePin input;
  HRESULT constructed = S_OK;
  CTimedPassThru *passThru = nullptr;
  IMediaSeeking *asSeeking = nullptr;
  IMediaPosition *asPosition = nullptr;
};

constexpr HRESULT kDistinct = MAKE_HRESULT_CONST(0x00041234);  // some success code
constexpr HRESULT kFailure = MAKE_HRESULT_CONST(0x80041234);

TEST_F(PosPassThruTest, ForwardsEverySeekingCallWithItsArgumentsAndResult) {
  EXPECT_EQ(constructed, S_OK);
  DWORD caps = 0;
  LONGLONG a = 0, b = 0;
  GUID format = GUID_NULL;
  double rate = 0;

  EXPECT_CALL(seeking, GetCapabilities(&caps)).WillOnce(DoAll(SetArgPointee<0>(7u), Return(S_OK)));
  EXPECT_EQ(asSeeking->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 7u);
  EXPECT_CALL(seeking, CheckCapabilities(&caps)).WillOnce(Return(S_FALSE));
  EXPECT_EQ(asSeeking->CheckCapabilities(&caps), S_FALSE);
  EXPECT_CALL(seeking, IsFormatSupported(&TIME_FORMAT_FRAME)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asSeeking->IsFormatSupported(&TIME_FORMAT_FRAME), kDistinct);
  EXPECT_CALL(seeking, QueryPreferredFormat(&format)).WillOnce(Return(kFailure));
  EXPECT_EQ(asSeeking->QueryPreferredFormat(&format), kFailure);
  EXPECT_CALL(seeking, GetTimeFormat(&format)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asSeeking->GetTimeFormat(&format), kDistinct);
  EXPECT_CALL(seeking, IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME)).WillOnce(Return(S_FALSE));
  EXPECT_EQ(asSeeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_FALSE);
  EXPECT_CALL(seeking, SetTimeFormat(&TIME_FORMAT_SAMPLE)).WillOnce(Return(kFailure));
  EXPECT_EQ(asSeeking->SetTimeFormat(&TIME_FORMAT_SAMPLE), kFailure);
  EXPECT_CALL(seeking, GetDuration(&a)).WillOnce(DoAll(SetArgPointee<0>(99), Return(S_OK)));
  EXPECT_EQ(asSeeking->GetDuration(&a), S_OK);
  EXPECT_EQ(a, 99);
  EXPECT_CALL(seeking, GetStopPosition(&b)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asSeeking->GetStopPosition(&b), kDistinct);
  EXPECT_CALL(seeking, ConvertTimeFormat(&a, &TIME_FORMAT_NONE, 12345, &TIME_FORMAT_MEDIA_TIME))
      .WillOnce(Return(kFailure));
  EXPECT_EQ(asSeeking->ConvertTimeFormat(&a, &TIME_FORMAT_NONE, 12345, &TIME_FORMAT_MEDIA_TIME),
            kFailure);
  EXPECT_CALL(seeking, SetPositions(&a, AM_SEEKING_AbsolutePositioning, &b,
                                    AM_SEEKING_NoPositioning))
      .WillOnce(Return(kDistinct));
  EXPECT_EQ(asSeeking->SetPositions(&a, AM_SEEKING_AbsolutePositioning, &b,
                                    AM_SEEKING_NoPositioning),
            kDistinct);
  EXPECT_CALL(seeking, GetPositions(&a, nullptr)).WillOnce(Return(S_OK));
  EXPECT_EQ(asSeeking->GetPositions(&a, nullptr), S_OK);
  EXPECT_CALL(seeking, GetAvailable(&a, &b)).WillOnce(Return(kFailure));
  EXPECT_EQ(asSeeking->GetAvailable(&a, &b), kFailure);
  EXPECT_CALL(seeking, SetRate(-1.5)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asSeeking->SetRate(-1.5), kDistinct);
  EXPECT_CALL(seeking, GetRate(&rate)).WillOnce(Return(S_OK));
  EXPECT_EQ(asSeeking->GetRate(&rate), S_OK);
  EXPECT_CALL(seeking, GetPreroll(&a)).WillOnce(Return(kFailure));
  EXPECT_EQ(asSeeking->GetPreroll(&a), kFailure);
  EXPECT_EQ(seeking.references, 0);
}

TEST_F(PosPassThruTest, ForwardsEveryPositionCallWithItsArgumentsAndResult) {
  REFTIME time = 0;
  double rate = 0;
  LONG can = 0;
  EXPECT_CALL(position, get_Duration(&time)).WillOnce(DoAll(SetArgPointee<0>(12.5), Return(S_OK)));
  EXPECT_EQ(asPosition->get_Duration(&time), S_OK);
  EXPECT_EQ(time, 12.5);
  EXPECT_CALL(position, put_CurrentPosition(3.25)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asPosition->put_CurrentPosition(3.25), kDistinct);
  EXPECT_CALL(position, get_CurrentPosition(&time)).WillOnce(Return(kFailure));
  EXPECT_EQ(asPosition->get_CurrentPosition(&time), kFailure);
  EXPECT_CALL(position, get_StopTime(&time)).WillOnce(Return(S_FALSE));
  EXPECT_EQ(asPosition->get_StopTime(&time), S_FALSE);
  EXPECT_CALL(position, put_StopTime(7.0)).WillOnce(Return(kFailure));
  EXPECT_EQ(asPosition->put_StopTime(7.0), kFailure);
  EXPECT_CALL(position, get_PrerollTime(&time)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asPosition->get_PrerollTime(&time), kDistinct);
  EXPECT_CALL(position, put_PrerollTime(0.5)).WillOnce(Return(S_OK));
  EXPECT_EQ(asPosition->put_PrerollTime(0.5), S_OK);
  EXPECT_CALL(position, put_Rate(2.0)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asPosition->put_Rate(2.0), kDistinct);
  EXPECT_CALL(position, get_Rate(&rate)).WillOnce(Return(kFailure));
  EXPECT_EQ(asPosition->get_Rate(&rate), kFailure);
  EXPECT_CALL(position, CanSeekForward(&can)).WillOnce(Return(S_FALSE));
  EXPECT_EQ(asPosition->CanSeekForward(&can), S_FALSE);
  EXPECT_CALL(position, CanSeekBackward(&can)).WillOnce(Return(kDistinct));
  EXPECT_EQ(asPosition->CanSeekBackward(&can), kDistinct);
}

TEST_F(PosPassThruTest, ZeroRateIsRefusedBeforeAnythingIsForwarded) {
  // The strict mocks fail the test if either call reaches upstream.
  EXPECT_EQ(asSeeking->SetRate(0.0), E_INVALIDARG);
  EXPECT_EQ(asSeeking->SetRate(-0.0), E_INVALIDARG);
  EXPECT_EQ(asPosition->put_Rate(0.0), E_INVALIDARG);
  EXPECT_EQ(upstream.references, 0);
}

TEST_F(PosPassThruTest, CurrentPositionComesFromTheRenderedSampleWhenKnown) {
  LONGLONG current = 0;
  EXPECT_CALL(seeking, GetCurrentPosition(&current))
      .WillOnce(DoAll(SetArgPointee<0>(777), Return(S_OK)));
  EXPECT_EQ(asSeeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 777);
  EXPECT_EQ(passThru->asked, 1);

  passThru->known = true;
  EXPECT_EQ(asSeeking->GetCurrentPosition(&current), S_OK);  // not asked upstream
  EXPECT_EQ(current, 4200000);
  EXPECT_EQ(passThru->asked, 2);
  EXPECT_EQ(asSeeking->GetCurrentPosition(nullptr), E_POINTER);
}

TEST_F(PosPassThruTest, UnconnectedOrNonSeekingUpstreamAnswersNotImplemented) {
  input.peer = nullptr;
  LONGLONG duration = -1;
  REFTIME time = -1;
  EXPECT_EQ(asSeeking->GetDuration(&duration), E_NOTIMPL);
  EXPECT_EQ(asPosition->get_Duration(&time), E_NOTIMPL);
  EXPECT_EQ(asSeeking->GetCurrentPosition(&duration), E_NOTIMPL);

  input.peer = &upstream;
  upstream.seeking = nullptr;
  upstream.position = nullptr;
  EXPECT_EQ(asSeeking->SetRate(1.0), E_NOTIMPL);
  EXPECT_EQ(asPosition->CanSeekForward(nullptr), E_NOTIMPL);
  EXPECT_EQ(upstream.references, 0);  // the peer was released again
}

TEST_F(PosPassThruTest, InterfacesAreFoundFromEachOtherThroughTheOwner) {
  IMediaSeeking *fromPosition = nullptr;
  ASSERT_EQ(asPosition->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&fromPosition)),
            S_OK);
  EXPECT_EQ(fromPosition, asSeeking);
  IMediaPosition *fromSeeking = nullptr;
  ASSERT_EQ(asSeeking->QueryInterface(IID_IMediaPosition, reinterpret_cast<void **>(&fromSeeking)),
            S_OK);
  EXPECT_EQ(fromSeeking, asPosition);
  IUnknown *identity = nullptr;
  ASSERT_EQ(asSeeking->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
  EXPECT_EQ(identity, passThru->NonDelegatingUnknown());
  void *other = reinterpret_cast<void *>(1);
  EXPECT_EQ(asPosition->QueryInterface(IID_IPin, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(asPosition->QueryInterface(IID_IMediaSeeking, nullptr), E_POINTER);
  identity->Release();
  fromSeeking->Release();
  EXPECT_EQ(fromPosition->Release(), 1u);
}

TEST(PosPassThru, NullPinIsReportedAndEveryCallIsNotImplemented) {
  HRESULT result = S_OK;
  auto *passThru = new CPosPassThru(L"no pin", nullptr, &result, nullptr);
  EXPECT_EQ(result, E_POINTER);
  passThru->NonDelegatingUnknown()->AddRef();
  LONGLONG value = 0;
  EXPECT_EQ(passThru->GetStopPosition(&value), E_NOTIMPL);
  EXPECT_EQ(passThru->GetCurrentPosition(&value), E_NOTIMPL);  // base CurrentMediaTimes: E_FAIL
  EXPECT_EQ(passThru->NonDelegatingUnknown()->Release(), 0u);
  delete new CPosPassThru(L"no result", nullptr, nullptr, nullptr);  // nowhere to report: no crash
}

// A counting outer object that owns the pass-through, as a renderer does.
class CountingOuter final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    ++queries;
    return inner->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  IUnknown *inner = nullptr;
  int queries = 0;
  int references = 0;
};

TEST(PosPassThru, AggregatedPassThruCountsOnItsOuterObject) {
  CountingOuter outer;
  FakePin input;
  HRESULT result = S_OK;
  auto *passThru = new CPosPassThru(L"aggregated", &outer, &result, &input);
  outer.inner = passThru->NonDelegatingUnknown();
  outer.inner->AddRef();

  IMediaSeeking *seeking = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)), S_OK);
  EXPECT_EQ(outer.references, 1);
  IMediaPosition *position = nullptr;
  ASSERT_EQ(seeking->QueryInterface(IID_IMediaPosition, reinterpret_cast<void **>(&position)), S_OK);
  EXPECT_EQ(outer.queries, 2);
  EXPECT_EQ(outer.references, 2);
  position->Release();
  seeking->Release();
  EXPECT_EQ(outer.references, 0);
  EXPECT_EQ(outer.inner->Release(), 0u);
}

// Off the platform the automation library is missing: the automation calls
// answer with the load failure, after their own argument checks.
TEST(MediaPositionAutomation, AnswersWithTheLoadFailureWhenTheLibraryIsMissing) {
  FakePin input;
  HRESULT result = S_OK;
  auto *passThru = new CPosPassThru(L"automation", nullptr, &result, &input);
  passThru->NonDelegatingUnknown()->AddRef();
  IDispatch *dispatch = passThru;
  const HRESULT loadFailure = static_cast<HRESULT>(0x80070000u | ERROR_MOD_NOT_FOUND);

  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ITypeInfo *info = reinterpret_cast<ITypeInfo *>(1);
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, nullptr), E_POINTER);
  info = reinterpret_cast<ITypeInfo *>(1);
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), loadFailure);
  EXPECT_EQ(info, nullptr);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Duration")};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), loadFailure);
  EXPECT_EQ(dispatch->Invoke(1, IID_IMediaPosition, 0, DISPATCH_PROPERTYGET, nullptr, nullptr,
                             nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr,
                             nullptr),
            loadFailure);
  EXPECT_EQ(CurrentAutomationLibrary(), nullptr);
  EXPECT_EQ(passThru->NonDelegatingUnknown()->Release(), 0u);
}

}  // namespace
