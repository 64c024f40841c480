#include "filterbase/media_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/media/guids.h"

namespace {

// Counts references taken and dropped on it; never deleted by Release.
class CountingUnknown final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void **out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  int references = 1;  // the test's own
};

bool failAllocations = false;
bool FailWhileAsked(SIZE_T) { return failAllocations; }

// Makes every task-memory allocation fail while it lives.
class AllocationFailure {
 public:
  AllocationFailure() {
    failAllocations = true;
    StandInSetTaskAllocFailureHook(&FailWhileAsked);
  }
  ~AllocationFailure() {
    failAllocations = false;
    StandInSetTaskAllocFailureHook(nullptr);
  }
};

BYTE *TaskCopy(const std::vector<BYTE> &bytes) {
  BYTE *block = static_cast<BYTE *>(CoTaskMemAlloc(bytes.size()));
  std::memcpy(block, bytes.data(), bytes.size());
  return block;
}

// A video record owning a copy of `format`.
void MakeVideoType(AM_MEDIA_TYPE *type, const std::vector<BYTE> &format) {
  ResetMediaType(type);
  type->majortype = MEDIATYPE_Video;
  type->subtype = MEDIASUBTYPE_RGB24;
  type->formattype = FORMAT_VideoInfo;
  type->cbFormat = static_cast<ULONG>(format.size());
  type->pbFormat = format.empty() ? nullptr : TaskCopy(format);
}

std::vector<BYTE> Pattern(size_t length) {
  std::vector<BYTE> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<BYTE>(i * 7 + 3);
  return bytes;
}

TEST(MediaTypeRecord, ResetRecordIsAFixedSizeWildcardOwningNothing) {
  MediaTypeRecord record;
  EXPECT_EQ(record.majortype, GUID_NULL);
  EXPECT_EQ(record.subtype, GUID_NULL);
  EXPECT_EQ(record.formattype, GUID_NULL);
  EXPECT_EQ(record.bFixedSizeSamples, TRUE);
  EXPECT_EQ(record.bTemporalCompression, FALSE);
  EXPECT_EQ(record.lSampleSize, 1u);
  EXPECT_EQ(record.pUnk, nullptr);
  EXPECT_EQ(record.cbFormat, 0u);
  EXPECT_EQ(record.pbFormat, nullptr);
  EXPECT_TRUE(HasWildcard(&record));

  // Reset forgets whatever was there, without freeing it.
  record.majortype = MEDIATYPE_Audio;
  record.lSampleSize = 4096;
  ResetMediaType(&record);
  EXPECT_EQ(record.majortype, GUID_NULL);
  EXPECT_EQ(record.lSampleSize, 1u);
}

TEST(MediaTypeRecord, WildcardLooksAtMajorTypeAndFormatTypeOnly) {
  MediaTypeRecord record;
  record.majortype = MEDIATYPE_Video;
  record.formattype = FORMAT_VideoInfo;
  EXPECT_FALSE(HasWildcard(&record));  // subtype GUID_NULL does not count
  record.majortype = GUID_NULL;
  EXPECT_TRUE(HasWildcard(&record));
  record.majortype = MEDIATYPE_Video;
  record.formattype = GUID_NULL;
  EXPECT_TRUE(HasWildcard(&record));
  EXPECT_TRUE(HasWildcard(nullptr));
}

TEST(MediaTypeRecord, CopyOwnsItsOwnBlockAndReference) {
  CountingUnknown object;
  MediaTypeRecord source;
  MakeVideoType(&source, Pattern(88));
  source.pUnk = &object;
  object.AddRef();  // the source's reference
  source.bTemporalCompression = TRUE;
  source.lSampleSize = 1234;

  {
    MediaTypeRecord copy(source);
    EXPECT_EQ(object.references, 3);
    ASSERT_NE(copy.pbFormat, nullptr);
    EXPECT_NE(copy.pbFormat, source.pbFormat);
    EXPECT_EQ(copy.cbFormat, 88u);
    EXPECT_EQ(std::memcmp(copy.pbFormat, source.pbFormat, 88), 0);
    EXPECT_EQ(copy.bTemporalCompression, TRUE);
    EXPECT_EQ(copy.lSampleSize, 1234u);
    EXPECT_TRUE(MatchesPattern(&copy, &source));
  }
  EXPECT_EQ(object.references, 2);

  FreeMediaTypeContents(&source);
  EXPECT_EQ(object.references, 1);
  EXPECT_EQ(source.pUnk, nullptr);
  EXPECT_EQ(source.cbFormat, 0u);
  EXPECT_EQ(source.pbFormat, nullptr);
  FreeMediaTypeContents(&source);  // nothing left to free
  EXPECT_EQ(object.references, 1);
}

TEST(MediaTypeRecord, BlockPointerWithZeroLengthIsCopiedButNeverFreed) {
  // Not task memory: freeing it would abort the test.
  static BYTE notOwned[16] = {1, 2, 3};
  {
    MediaTypeRecord source;
    source.pbFormat = notOwned;
    MediaTypeRecord copy(source);
    EXPECT_EQ(copy.pbFormat, notOwned);
    MediaTypeRecord assigned;
    EXPECT_EQ(AssignMediaType(&assigned, &source), S_OK);
    EXPECT_EQ(assigned.pbFormat, notOwned);
  }
  EXPECT_EQ(notOwned[0], 1);
}

TEST(MediaTypeRecord, AssignReplacesOldContentsAndToItselfChangesNothing) {
  CountingUnknown oldObject, newObject;
  MediaTypeRecord target;
  MakeVideoType(&target, Pattern(12));
  target.pUnk = &oldObject;
  oldObject.AddRef();

  MediaTypeRecord source;
  MakeVideoType(&source, Pattern(5));
  source.subtype = MEDIASUBTYPE_RGB32;
  source.pUnk = &newObject;
  newObject.AddRef();

  BYTE *const block = target.pbFormat;
  EXPECT_EQ(AssignMediaType(&target, &target), S_OK);
  EXPECT_EQ(target.pbFormat, block);
  EXPECT_EQ(oldObject.references, 2);

  EXPECT_EQ(AssignMediaType(&target, &source), S_OK);
  EXPECT_EQ(oldObject.references, 1);
  EXPECT_EQ(newObject.references, 3);
  EXPECT_EQ(target.subtype, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(target.cbFormat, 5u);
  EXPECT_NE(target.pbFormat, source.pbFormat);

  target = static_cast<const AM_MEDIA_TYPE &>(target);  // self-assignment operator
  EXPECT_EQ(newObject.references, 3);
  EXPECT_EQ(target.cbFormat, 5u);

  FreeMediaTypeContents(&target);
  FreeMediaTypeContents(&source);
  EXPECT_EQ(newObject.references, 1);
}

TEST(MediaTypeRecord, FailedBlockCopyLeavesNoBlockAndBalancedReferences) {
  CountingUnknown object;
  MediaTypeRecord source;
  MakeVideoType(&source, Pattern(40));
  source.pUnk = &object;
  object.AddRef();

  AM_MEDIA_TYPE target;
  ResetMediaType(&target);
  {
    AllocationFailure failure;
    EXPECT_EQ(CopyMediaTypeContents(&target, &source), E_OUTOFMEMORY);
  }
  EXPECT_EQ(target.cbFormat, 0u);
  EXPECT_EQ(target.pbFormat, nullptr);
  EXPECT_EQ(target.majortype, MEDIATYPE_Video);
  // Whatever the target carries it must hold: freeing it may not take the
  // source's reference away.
  FreeMediaTypeContents(&target);
  EXPECT_EQ(object.references, 2);

  MediaTypeRecord assigned;
  MakeVideoType(&assigned, Pattern(3));
  {
    AllocationFailure failure;
    EXPECT_EQ(AssignMediaType(&assigned, &source), E_OUTOFMEMORY);
  }
  EXPECT_EQ(assigned.cbFormat, 0u);
  EXPECT_EQ(assigned.pbFormat, nullptr);
  FreeMediaTypeContents(&assigned);
  EXPECT_EQ(object.references, 2);

  {
    AllocationFailure failure;
    MediaTypeRecord copied(source);  // constructors cannot report it
    EXPECT_EQ(copied.cbFormat, 0u);
    EXPECT_EQ(copied.pbFormat, nullptr);
  }
  EXPECT_EQ(object.references, 2);
  FreeMediaTypeContents(&source);
  EXPECT_EQ(object.references, 1);
}

TEST(MediaTypeRecord, SourceClaimingAMissingBlockIsRefused) {
  AM_MEDIA_TYPE source;
  ResetMediaType(&source);
  source.cbFormat = 10;  // but no block
  MediaTypeRecord target;
  EXPECT_TRUE(FAILED(CopyMediaTypeContents(&target, &source)));
  EXPECT_EQ(target.cbFormat, 0u);
  EXPECT_EQ(target.pbFormat, nullptr);
  EXPECT_EQ(AssignMediaType(&target, &source), E_OUTOFMEMORY);
  EXPECT_EQ(CopyMediaTypeContents(nullptr, &source), E_POINTER);
  EXPECT_EQ(AssignMediaType(&target, nullptr), E_POINTER);
}

TEST(MediaTypeRecord, DestroyBlockFreesContentsAndTheBlock) {
  DestroyMediaTypeBlock(nullptr);

  CountingUnknown object;
  auto *block = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  ASSERT_NE(block, nullptr);
  MakeVideoType(block, Pattern(17));
  block->pUnk = &object;
  object.AddRef();
  DestroyMediaTypeBlock(block);
  EXPECT_EQ(object.references, 1);
}

TEST(MatchesPattern, NullGuidsOfThePatternMatchAnything) {
  MediaTypeRecord concrete;
  MakeVideoType(&concrete, Pattern(9));
  MediaTypeRecord pattern;  // all three GUIDs null, with a different block
  MakeVideoType(&pattern, Pattern(4));
  pattern.majortype = pattern.subtype = pattern.formattype = GUID_NULL;
  EXPECT_TRUE(MatchesPattern(&concrete, &pattern));
  EXPECT_TRUE(MatchesPattern(&concrete, nullptr));
  EXPECT_FALSE(MatchesPattern(nullptr, &pattern));

  pattern.majortype = MEDIATYPE_Video;
  EXPECT_TRUE(MatchesPattern(&concrete, &pattern));
  pattern.majortype = MEDIATYPE_Audio;
  EXPECT_FALSE(MatchesPattern(&concrete, &pattern));
  pattern.majortype = GUID_NULL;
  pattern.subtype = MEDIASUBTYPE_RGB32;
  EXPECT_FALSE(MatchesPattern(&concrete, &pattern));
  pattern.subtype = MEDIASUBTYPE_RGB24;
  EXPECT_TRUE(MatchesPattern(&concrete, &pattern));  // format type still null: blocks ignored
}

TEST(MatchesPattern, FormatTypeMakesLengthsAndBlocksCount) {
  CountingUnknown object;  // outlives the records that hold it
  MediaTypeRecord concrete;
  MakeVideoType(&concrete, Pattern(9));
  MediaTypeRecord pattern;
  pattern.formattype = FORMAT_VideoInfo;  // no block
  EXPECT_FALSE(MatchesPattern(&concrete, &pattern));

  MediaTypeRecord bare;
  bare.majortype = MEDIATYPE_Video;
  bare.formattype = FORMAT_VideoInfo;
  EXPECT_TRUE(MatchesPattern(&bare, &pattern));
  bare.formattype = FORMAT_WaveFormatEx;
  EXPECT_FALSE(MatchesPattern(&bare, &pattern));

  // Fields that never take part in a comparison.
  MediaTypeRecord same;
  MakeVideoType(&same, Pattern(9));
  same.pUnk = &object;
  object.AddRef();
  same.bFixedSizeSamples = FALSE;
  same.bTemporalCompression = TRUE;
  same.lSampleSize = 99;
  EXPECT_TRUE(MatchesPattern(&concrete, &same));
  EXPECT_TRUE(MatchesPattern(&same, &concrete));
}

TEST(MatchesPattern, BlocksDifferingOnlyInTheirLastByteDoNotMatch) {
  for (size_t length : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 13u, 88u, 89u, 91u}) {
    SCOPED_TRACE(length);
    std::vector<BYTE> bytes = Pattern(length);
    MediaTypeRecord concrete, pattern;
    MakeVideoType(&concrete, bytes);
    MakeVideoType(&pattern, bytes);
    EXPECT_TRUE(MatchesPattern(&concrete, &pattern));
    pattern.pbFormat[length - 1] ^= 0x80;
    EXPECT_FALSE(MatchesPattern(&concrete, &pattern));
    pattern.pbFormat[length - 1] ^= 0x81;
    EXPECT_FALSE(MatchesPattern(&concrete, &pattern));
  }
  MediaTypeRecord shorter, longer;
  MakeVideoType(&shorter, Pattern(8));
  MakeVideoType(&longer, Pattern(9));
  EXPECT_FALSE(MatchesPattern(&shorter, &longer));
  EXPECT_FALSE(MatchesPattern(&longer, &shorter));
}

}  // namespace
