#include "filterbase/enum_pins.h"

#include <gtest/gtest.h>

#include "filterbase/ptr_list.h"
#include "tests/filterbase/fakes/test_filter.h"

namespace {

using fbtest::TestFilter;

class EnumPinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    filter = new TestFilter(&destroyed);
    filter->Interface()->AddRef();
  }
  void TearDown() override {
    EXPECT_EQ(filter->Interface()->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
  }
  IEnumPins *Enumerate() {
    IEnumPins *pins = nullptr;
    EXPECT_EQ(filter->EnumPins(&pins), S_OK);
    return pins;
  }
  // Next with count 1; the pin's reference is given back at once.
  IPin *NextOne(IEnumPins *pins, HRESULT expected = S_OK) {
    IPin *pin = nullptr;
    ULONG fetched = 99;
    EXPECT_EQ(pins->Next(1, &pin, &fetched), expected);
    EXPECT_EQ(fetched, expected == S_OK ? 1u : 0u);
    if (pin != nullptr) pin->Release();
    return expected == S_OK ? pin : nullptr;
  }

  int destroyed = 0;
  TestFilter *filter = nullptr;
};

TEST_F(EnumPinsTest, OnePinIsHandedOutOnceThenTheEnumeratorIsExhausted) {
  IPin *in = filter->AddInputPin(L"In");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(NextOne(pins), in);
  NextOne(pins, S_FALSE);
  pins->Release();
}

TEST_F(EnumPinsTest, AskingForMoreThanThereAreYieldsWhatThereIsAndSFalse) {
  IPin *in = filter->AddInputPin(L"In");
  IEnumPins *pins = Enumerate();
  IPin *got[5] = {};
  ULONG fetched = 0;
  EXPECT_EQ(pins->Next(5, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], in);
  EXPECT_EQ(got[1], nullptr);
  got[0]->Release();
  pins->Release();
}

TEST_F(EnumPinsTest, ArgumentChecks) {
  filter->AddInputPin(L"In");
  filter->AddInputPin(L"In2");
  IEnumPins *pins = Enumerate();
  IPin *got[2] = {};
  EXPECT_EQ(pins->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(got[0], nullptr);
  EXPECT_EQ(pins->Next(1, got, nullptr), S_OK);  // one without a fetched pointer is fine
  got[0]->Release();
  EXPECT_EQ(pins->Clone(nullptr), E_POINTER);
  void *other = reinterpret_cast<void *>(1);
  EXPECT_EQ(pins->QueryInterface(IID_IPin, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  IUnknown *unknown = nullptr;
  ASSERT_EQ(pins->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown *>(pins));
  unknown->Release();
  pins->Release();
}

TEST_F(EnumPinsTest, ResetHandsOutTheSamePinsAgain) {
  IPin *a = filter->AddInputPin(L"A");
  IPin *b = filter->AddOutputPin(L"B");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(NextOne(pins), a);
  EXPECT_EQ(NextOne(pins), b);
  NextOne(pins, S_FALSE);
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(NextOne(pins), a);
  EXPECT_EQ(NextOne(pins), b);
  pins->Release();
}

TEST_F(EnumPinsTest, AChangedPinListStartsOverButSkipsPinsAlreadySeen) {
  IPin *a = filter->AddInputPin(L"A");
  IPin *b = filter->AddInputPin(L"B");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(NextOne(pins), a);
  IPin *c = filter->AddOutputPin(L"C");  // the version moves on
  EXPECT_EQ(NextOne(pins), b);
  EXPECT_EQ(NextOne(pins), c);
  NextOne(pins, S_FALSE);
  pins->Release();
}

TEST_F(EnumPinsTest, SkipPastTheEndLeavesThePositionAlone) {
  IPin *a = filter->AddInputPin(L"A");
  IPin *b = filter->AddInputPin(L"B");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(pins->Skip(3), S_FALSE);
  EXPECT_EQ(NextOne(pins), a);
  EXPECT_EQ(pins->Skip(2), S_FALSE);
  EXPECT_EQ(pins->Skip(0), S_OK);
  EXPECT_EQ(NextOne(pins), b);
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(1), S_OK);
  EXPECT_EQ(NextOne(pins), b);
  filter->ChangePinList();
  EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  pins->Release();
}

TEST_F(EnumPinsTest, CloneCopiesPositionAndSeenPinsAndRefusesWhenOutOfSync) {
  IPin *a = filter->AddInputPin(L"A");
  IPin *b = filter->AddInputPin(L"B");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(NextOne(pins), a);

  IEnumPins *clone = nullptr;
  ASSERT_EQ(pins->Clone(&clone), S_OK);
  EXPECT_EQ(NextOne(clone), b);
  // After a list change the clone starts over, but it too remembers that it
  // handed out A (before cloning) and B.
  filter->ChangePinList();
  NextOne(clone, S_FALSE);
  clone->Release();

  IEnumPins *refused = reinterpret_cast<IEnumPins *>(1);
  EXPECT_EQ(pins->Clone(&refused), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(refused, nullptr);
  pins->Release();
}

TEST_F(EnumPinsTest, AMissingPinFailsAndTakesBackWhatTheCallHandedOut) {
  filter->AddInputPin(L"A");
  filter->AddMissingPin();
  const ULONG before = filter->RefCount();
  IEnumPins *pins = Enumerate();
  IPin *got[2] = {};
  ULONG fetched = 7;
  EXPECT_EQ(pins->Next(2, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(got[0], nullptr);
  pins->Release();
  EXPECT_EQ(filter->RefCount(), before);
}

TEST_F(EnumPinsTest, EnumeratorsHoldTheFilterUntilTheirLastRelease) {
  filter->AddInputPin(L"In");
  const ULONG before = filter->RefCount();
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(filter->RefCount(), before + 1);
  EXPECT_EQ(pins->AddRef(), 2u);
  EXPECT_EQ(pins->Release(), 1u);
  EXPECT_EQ(filter->RefCount(), before + 1);
  EXPECT_EQ(pins->Release(), 0u);
  EXPECT_EQ(filter->RefCount(), before);
}

TEST_F(EnumPinsTest, TheFilterOutlivesItsOwnerThroughAnEnumerator) {
  filter->AddInputPin(L"In");
  IEnumPins *pins = Enumerate();
  EXPECT_EQ(filter->Interface()->Release(), 1u);  // only the enumerator's left
  EXPECT_EQ(destroyed, 0);
  IPin *pin = nullptr;
  EXPECT_EQ(pins->Next(1, &pin, nullptr), S_OK);
  pin->Release();
  filter->Interface()->AddRef();  // given back to TearDown
  pins->Release();
}

TEST(PtrListTest, KeepsOrderFindsByIdentityAndEmpties) {
  int a = 0, b = 0, c = 0;
  PtrList list;
  EXPECT_TRUE(list.AddTail(&a));
  EXPECT_TRUE(list.AddTail(&b));
  PtrList other;
  EXPECT_TRUE(other.AppendAll(list));
  EXPECT_TRUE(other.AppendAll(other));  // appending itself doubles it and ends
  EXPECT_TRUE(other.AddTail(&c));
  ASSERT_EQ(other.Count(), 5);
  const void *expected[] = {&a, &b, &a, &b, &c};
  int i = 0;
  for (PtrList::Node *node = other.Head(); node != nullptr; node = node->next, ++i) {
    EXPECT_EQ(node->object, expected[i]);
  }
  EXPECT_EQ(other.Find(&b), other.Head()->next);
  EXPECT_EQ(list.Find(&c), nullptr);
  other.RemoveAll();
  EXPECT_EQ(other.Count(), 0);
  EXPECT_EQ(other.Head(), nullptr);
  EXPECT_TRUE(other.AddTail(&c));
  EXPECT_EQ(other.Head()->object, &c);
}

}  // namespace
