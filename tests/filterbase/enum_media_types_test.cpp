#include "filterbase/enum_media_types.h"

#include <gtest/gtest.h>

#include "tests/filterbase/fakes/counted_object.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

using fbtest::MakeType;
using fbtest::TestFilter;
using fbtest::TestInputPin;
using fbtest::TestSubtype;

class EnumMediaTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    filter = new TestFilter(&destroyed);
    filter->Interface()->AddRef();
    pin = filter->AddInputPin(L"In");
  }
  void TearDown() override {
    EXPECT_EQ(filter->Interface()->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
  }
  IEnumMediaTypes *Enumerate() {
    IEnumMediaTypes *types = nullptr;
    EXPECT_EQ(static_cast<IPin *>(pin)->EnumMediaTypes(&types), S_OK);
    return types;
  }
  void ProposeThree() {
    pin->Propose({MakeType(MEDIATYPE_Video, TestSubtype(0), FORMAT_VideoInfo, {1, 2, 3}),
                  MakeType(MEDIATYPE_Video, TestSubtype(1), FORMAT_VideoInfo),
                  MakeType(MEDIATYPE_Audio, TestSubtype(2), GUID_NULL)});
  }
  // The subtype number of the next type, or -1 when Next gives none.
  int NextSubtype(IEnumMediaTypes *types) {
    AM_MEDIA_TYPE *type = nullptr;
    if (types->Next(1, &type, nullptr) != S_OK) return -1;
    const int n = static_cast<int>(type->subtype.Data1 - TestSubtype(0).Data1);
    DestroyMediaTypeBlock(type);
    return n;
  }

  int destroyed = 0;
  TestFilter *filter = nullptr;
  TestInputPin *pin = nullptr;
};

TEST_F(EnumMediaTypesTest, APinThatProposesNothingStillMovesThePositionOn) {
  IEnumMediaTypes *types = Enumerate();
  AM_MEDIA_TYPE *got[2] = {};
  ULONG fetched = 9;
  EXPECT_EQ(types->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(types->Next(2, got, &fetched), S_FALSE);
  EXPECT_EQ(got[0], nullptr);
  EXPECT_EQ(pin->script.proposedAsked, (std::vector<int>{0, 1}));
  types->Release();
}

TEST_F(EnumMediaTypesTest, NextHandsOutOwnedCopiesInOrder) {
  ProposeThree();
  IEnumMediaTypes *types = Enumerate();
  AM_MEDIA_TYPE *got[3] = {};
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(2, got, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0]->subtype, TestSubtype(0));
  ASSERT_EQ(got[0]->cbFormat, 3u);
  EXPECT_NE(got[0]->pbFormat, pin->script.proposed[0].pbFormat);  // its own block
  EXPECT_EQ(got[0]->pbFormat[2], 3);
  EXPECT_EQ(got[1]->subtype, TestSubtype(1));
  DestroyMediaTypeBlock(got[0]);
  DestroyMediaTypeBlock(got[1]);

  got[0] = got[1] = nullptr;
  EXPECT_EQ(types->Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(got[0]->majortype, MEDIATYPE_Audio);
  DestroyMediaTypeBlock(got[0]);
  EXPECT_EQ(types->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(types->Next(1, nullptr, nullptr), E_POINTER);
  types->Release();
}

TEST_F(EnumMediaTypesTest, TheHandedOutTypeTakesOverThePUnkReference) {
  fbtest::CountedUnknown unknown;
  MediaTypeRecord withUnk = MakeType(MEDIATYPE_Video, TestSubtype(0), GUID_NULL);
  withUnk.pUnk = &unknown;
  unknown.AddRef();  // the record's own reference
  pin->Propose({withUnk});
  EXPECT_EQ(unknown.RefCount(), 2u);  // the record and the pin's copy

  IEnumMediaTypes *types = Enumerate();
  AM_MEDIA_TYPE *got = nullptr;
  ASSERT_EQ(types->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(got->pUnk, &unknown);
  EXPECT_EQ(unknown.RefCount(), 3u);  // exactly one for the handed-out block
  DestroyMediaTypeBlock(got);
  EXPECT_EQ(unknown.RefCount(), 2u);
  types->Release();
  pin->Propose({});
  EXPECT_EQ(unknown.RefCount(), 1u);
}

namespace {
bool RefuseTypeBlocks(SIZE_T bytes) { return bytes == sizeof(AM_MEDIA_TYPE); }
}  // namespace

TEST_F(EnumMediaTypesTest, AFailedBlockAllocationEndsNextQuietlyAndLeaksNothing) {
  fbtest::CountedUnknown unknown;
  MediaTypeRecord withUnk = MakeType(MEDIATYPE_Video, TestSubtype(0), GUID_NULL);
  withUnk.pUnk = &unknown;
  unknown.AddRef();
  pin->Propose({withUnk, withUnk});
  const ULONG held = unknown.RefCount();

  IEnumMediaTypes *types = Enumerate();
  AM_MEDIA_TYPE *got[2] = {reinterpret_cast<AM_MEDIA_TYPE *>(1), nullptr};
  ULONG fetched = 9;
  StandInSetTaskAllocFailureHook(&RefuseTypeBlocks);
  const HRESULT hr = types->Next(2, got, &fetched);
  StandInSetTaskAllocFailureHook(nullptr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(got[0], nullptr);
  EXPECT_EQ(unknown.RefCount(), held);  // the temporary's reference was given back
  // The refused position was used up: the next call gets the second type.
  ASSERT_EQ(types->Next(1, got, nullptr), S_OK);
  DestroyMediaTypeBlock(got[0]);
  EXPECT_EQ(pin->script.proposedAsked, (std::vector<int>{0, 1}));
  types->Release();
  pin->Propose({});
}

TEST_F(EnumMediaTypesTest, AChangedTypeListIsRefusedUntilReset) {
  ProposeThree();
  IEnumMediaTypes *types = Enumerate();
  EXPECT_EQ(NextSubtype(types), 0);
  ProposeThree();  // a new list, a new version
  AM_MEDIA_TYPE *got = nullptr;
  EXPECT_EQ(types->Next(1, &got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types->Skip(0), S_OK);  // a zero skip never looks
  IEnumMediaTypes *clone = reinterpret_cast<IEnumMediaTypes *>(1);
  EXPECT_EQ(types->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(NextSubtype(types), 0);
  types->Release();
}

TEST_F(EnumMediaTypesTest, SkipMovesOnAndSaysWhetherItLandedOnAType) {
  ProposeThree();
  IEnumMediaTypes *types = Enumerate();
  EXPECT_EQ(types->Skip(2), S_OK);
  EXPECT_EQ(NextSubtype(types), 2);
  EXPECT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(4), S_FALSE);  // past the end; the position stays there
  EXPECT_EQ(NextSubtype(types), -1);
  EXPECT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(0xFFFFFFFFu), S_FALSE);  // no overflow on a huge count
  EXPECT_EQ(NextSubtype(types), -1);
  types->Release();
}

TEST_F(EnumMediaTypesTest, ACloneContinuesFromTheSamePosition) {
  ProposeThree();
  IEnumMediaTypes *types = Enumerate();
  EXPECT_EQ(NextSubtype(types), 0);
  IEnumMediaTypes *clone = nullptr;
  ASSERT_EQ(types->Clone(&clone), S_OK);
  EXPECT_EQ(NextSubtype(clone), 1);
  EXPECT_EQ(NextSubtype(types), 1);
  EXPECT_EQ(types->Clone(nullptr), E_POINTER);
  clone->Release();
  types->Release();
}

TEST_F(EnumMediaTypesTest, TheEnumeratorHoldsThePinsFilterUntilItsLastRelease) {
  const ULONG before = filter->RefCount();
  IEnumMediaTypes *types = Enumerate();
  EXPECT_EQ(filter->RefCount(), before + 1);
  IUnknown *unknown = nullptr;
  ASSERT_EQ(types->QueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void **>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown *>(types));
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(types->Release(), 0u);
  EXPECT_EQ(filter->RefCount(), before);
}

}  // namespace
