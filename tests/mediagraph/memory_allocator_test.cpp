// The default memory allocator and its samples, on one thread.
#include "mediagraph/allocator/memory_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "mediagraph/graph/com_ptr.h"
#include "platform/media/media.h"

using mediagraph::ComPtr;
using mediagraph::kAllocatorNoFreeSample;
using mediagraph::kSampleNoStopTime;
using mediagraph::MemoryAllocator;

namespace {

ComPtr<IMemAllocator> NewAllocator() {
  MemoryAllocator *allocator = nullptr;
  EXPECT_EQ(MemoryAllocator::Create(&allocator), S_OK);
  return ComPtr<IMemAllocator>::Adopt(allocator);
}

ComPtr<IMemAllocator> Committed(LONG buffers, LONG size, LONG align = 1, LONG prefix = 0) {
  ComPtr<IMemAllocator> allocator = NewAllocator();
  ALLOCATOR_PROPERTIES request{buffers, size, align, prefix}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  return allocator;
}

ComPtr<IMediaSample> Take(IMemAllocator *allocator, DWORD flags = 0) {
  IMediaSample *sample = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, flags), S_OK);
  return ComPtr<IMediaSample>::Adopt(sample);
}

BYTE *PointerOf(IMediaSample *sample) {
  BYTE *p = nullptr;
  EXPECT_EQ(sample->GetPointer(&p), S_OK);
  return p;
}

}  // namespace

TEST(MemoryAllocator, RefusesPropertiesItCannotHonour) {
  ComPtr<IMemAllocator> allocator = NewAllocator();
  ALLOCATOR_PROPERTIES actual{};
  ALLOCATOR_PROPERTIES badAlign{2, 100, 3, 0};
  EXPECT_EQ(allocator->SetProperties(&badAlign, &actual), VFW_E_BADALIGN);
  ALLOCATOR_PROPERTIES noBuffers{0, 100, 1, 0};
  EXPECT_EQ(allocator->SetProperties(&noBuffers, &actual), E_INVALIDARG);
  ALLOCATOR_PROPERTIES emptyBuffers{2, 0, 1, 0};
  EXPECT_EQ(allocator->SetProperties(&emptyBuffers, &actual), E_INVALIDARG);
  ALLOCATOR_PROPERTIES negativePrefix{2, 100, 1, -4};
  EXPECT_EQ(allocator->SetProperties(&negativePrefix, &actual), E_INVALIDARG);
  ALLOCATOR_PROPERTIES huge{0x7FFFFFFF, 0x7FFFFFFF, 1, 0};
  EXPECT_EQ(allocator->SetProperties(&huge, &actual), E_OUTOFMEMORY);
  EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
  // Nothing was granted, so there is nothing to commit.
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
}

TEST(MemoryAllocator, AlignsEveryBufferAndRoundsItsSizeUp) {
  ComPtr<IMemAllocator> allocator = NewAllocator();
  ALLOCATOR_PROPERTIES request{3, 10, 16, 4}, actual{};
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 3);
  EXPECT_EQ(actual.cbAlign, 16);
  EXPECT_EQ(actual.cbPrefix, 4);
  EXPECT_EQ(actual.cbBuffer, 12);  // prefix + buffer rounded up to 16
  ALLOCATOR_PROPERTIES reported{};
  EXPECT_EQ(allocator->GetProperties(&reported), S_OK);
  EXPECT_EQ(std::memcmp(&reported, &actual, sizeof actual), 0);

  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> samples[3] = {Take(allocator.get()), Take(allocator.get()),
                                     Take(allocator.get())};
  for (auto &sample : samples) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(PointerOf(sample.get())) % 16, 0u);
    EXPECT_EQ(sample->GetSize(), 12);
    // The whole buffer, prefix included, is writable without touching a neighbour.
    std::memset(PointerOf(sample.get()) - 4, 0xAB, 16);
  }
  EXPECT_NE(PointerOf(samples[0].get()), PointerOf(samples[1].get()));
}

TEST(MemoryAllocator, HandsOutOnlyWhatIsCommittedAndReusesReturnedBuffers) {
  ComPtr<IMemAllocator> allocator = NewAllocator();
  IMediaSample *sample = reinterpret_cast<IMediaSample *>(1);
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(sample, nullptr);
  EXPECT_EQ(allocator->GetBuffer(nullptr, nullptr, nullptr, 0), E_POINTER);

  allocator = Committed(2, 64);
  ComPtr<IMediaSample> first = Take(allocator.get());
  ComPtr<IMediaSample> second = Take(allocator.get());
  BYTE *firstBuffer = PointerOf(first.get());
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT),
            kAllocatorNoFreeSample);

  first.reset();  // the last reference takes it back to the pool
  ComPtr<IMediaSample> again = Take(allocator.get(), AM_GBF_NOWAIT);
  EXPECT_EQ(PointerOf(again.get()), firstBuffer);
}

TEST(MemoryAllocator, RefusesNewPropertiesWhileCommittedOrWhileBuffersAreOut) {
  ComPtr<IMemAllocator> allocator = Committed(2, 64);
  ALLOCATOR_PROPERTIES request{4, 128, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);

  ComPtr<IMediaSample> out = Take(allocator.get());
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
  out.reset();
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(Take(allocator.get())->GetSize(), 128);
}

TEST(MemoryAllocator, SampleOutlivesDecommitAndItsAllocator) {
  ComPtr<IMemAllocator> allocator = Committed(1, 32);
  ComPtr<IMediaSample> out = Take(allocator.get());
  EXPECT_EQ(allocator->Decommit(), S_OK);
  IMediaSample *refused = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&refused, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);

  allocator.reset();  // the sample keeps the pool alive
  std::memset(PointerOf(out.get()), 0x5A, 32);
  EXPECT_EQ(out->GetSize(), 32);
  out.reset();  // frees the pool and the allocator (checked by the sanitizers)
}

TEST(MemoryAllocator, RecommitWhileASampleIsOutKeepsTheSameBuffers) {
  ComPtr<IMemAllocator> allocator = Committed(2, 32);
  ComPtr<IMediaSample> out = Take(allocator.get());
  BYTE *outBuffer = PointerOf(out.get());
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> other = Take(allocator.get(), AM_GBF_NOWAIT);
  EXPECT_NE(PointerOf(other.get()), outBuffer);
  out.reset();
  EXPECT_EQ(PointerOf(Take(allocator.get(), AM_GBF_NOWAIT).get()), outBuffer);

  // With every sample back too: a stop and a new cue keep the memory.
  other.reset();
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> first = Take(allocator.get(), AM_GBF_NOWAIT);
  ComPtr<IMediaSample> second = Take(allocator.get(), AM_GBF_NOWAIT);
  EXPECT_TRUE(PointerOf(first.get()) == outBuffer || PointerOf(second.get()) == outBuffer);
}

TEST(MemoryAllocator, ComesFromTheClassRegistry) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IMemAllocator *allocator = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void **>(&allocator)),
            S_OK);
  ASSERT_NE(allocator, nullptr);
  EXPECT_EQ(allocator->Release(), 0u);
  CoUninitialize();
}

TEST(MediaSample, TimesAreOptionalAndStopDefaultsToJustAfterStart) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  ComPtr<IMediaSample> sample = Take(allocator.get());
  REFERENCE_TIME start = -1, stop = -1;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_TIME_NOT_SET);

  REFERENCE_TIME setStart = 400000;
  EXPECT_EQ(sample->SetTime(&setStart, nullptr), S_OK);
  EXPECT_EQ(sample->GetTime(&start, &stop), kSampleNoStopTime);
  EXPECT_EQ(start, 400000);
  EXPECT_EQ(stop, 400001);

  REFERENCE_TIME setStop = 733333;
  EXPECT_EQ(sample->SetTime(&setStart, &setStop), S_OK);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 733333);

  EXPECT_EQ(sample->SetTime(nullptr, nullptr), S_OK);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_TIME_NOT_SET);

  LONGLONG mediaStart = 0, mediaStop = 0;
  EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaStop), VFW_E_TIME_NOT_SET);
  LONGLONG frame = 7, next = 8;
  EXPECT_EQ(sample->SetMediaTime(&frame, &next), S_OK);
  EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaStop), S_OK);
  EXPECT_EQ(mediaStart, 7);
  EXPECT_EQ(mediaStop, 8);
}

TEST(MediaSample, ComesBackFromThePoolClean) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  {
    REFERENCE_TIME start = 10, stop = 20;
    IMediaSample *raw = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&raw, &start, &stop, 0), S_OK);
    ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
    REFERENCE_TIME gotStart = 0, gotStop = 0;
    EXPECT_EQ(sample->GetTime(&gotStart, &gotStop), S_OK);
    EXPECT_EQ(gotStart, 10);
    EXPECT_EQ(gotStop, 20);
    sample->SetSyncPoint(TRUE);
    sample->SetPreroll(TRUE);
    sample->SetDiscontinuity(TRUE);
    sample->SetActualDataLength(3);
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    EXPECT_EQ(sample->SetMediaType(&type), S_OK);
  }
  ComPtr<IMediaSample> sample = Take(allocator.get());
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_TIME_NOT_SET);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->IsPreroll(), S_FALSE);
  EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(sample->GetActualDataLength(), 16);
  AM_MEDIA_TYPE *type = reinterpret_cast<AM_MEDIA_TYPE *>(1);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(type, nullptr);
}

TEST(MediaSample, SkippedFrameMarksTheNextBufferDiscontinuous) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  EXPECT_EQ(Take(allocator.get(), AM_GBF_PREVFRAMESKIPPED)->IsDiscontinuity(), S_OK);
}

TEST(MediaSample, ActualLengthStaysInsideTheBuffer) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  ComPtr<IMediaSample> sample = Take(allocator.get());
  EXPECT_EQ(sample->SetActualDataLength(17), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->GetActualDataLength(), 16);
  EXPECT_EQ(sample->SetActualDataLength(0), S_OK);
  EXPECT_EQ(sample->GetActualDataLength(), 0);
}

TEST(MediaSample, MediaTypeIsCopiedInAndOut) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  ComPtr<IMediaSample> sample = Take(allocator.get());
  VIDEOINFOHEADER format{};
  format.bmiHeader.biWidth = 641;
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = sizeof format;
  type.pbFormat = reinterpret_cast<BYTE *>(&format);
  ASSERT_EQ(sample->SetMediaType(&type), S_OK);
  format.bmiHeader.biWidth = 1;  // the sample kept its own copy

  AM_MEDIA_TYPE *got = nullptr;
  ASSERT_EQ(sample->GetMediaType(&got), S_OK);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->subtype, MEDIASUBTYPE_RGB24);
  ASSERT_EQ(got->cbFormat, sizeof format);
  EXPECT_NE(got->pbFormat, type.pbFormat);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER *>(got->pbFormat)->bmiHeader.biWidth, 641);
  CoTaskMemFree(got->pbFormat);
  CoTaskMemFree(got);

  EXPECT_EQ(sample->SetMediaType(nullptr), S_OK);
  EXPECT_EQ(sample->GetMediaType(&got), S_FALSE);
  EXPECT_EQ(sample->GetMediaType(nullptr), E_POINTER);
}

TEST(MediaSample, PropertiesMirrorTheSampleAndCanBeSetBack) {
  ComPtr<IMemAllocator> allocator = Committed(1, 16);
  ComPtr<IMediaSample> sample = Take(allocator.get());
  ComPtr<IMediaSample2> sample2 = sample.As<IMediaSample2>(IID_IMediaSample2);
  ASSERT_TRUE(sample2);

  REFERENCE_TIME start = 100, stop = 200;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  sample->SetActualDataLength(9);
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  sample->SetMediaType(&type);

  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(sample2->GetProperties(sizeof props, reinterpret_cast<BYTE *>(&props)), S_OK);
  EXPECT_EQ(props.dwSampleFlags, AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID |
                                     AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED);
  EXPECT_EQ(props.lActual, 9);
  EXPECT_EQ(props.tStart, 100);
  EXPECT_EQ(props.tStop, 200);
  ASSERT_NE(props.pMediaType, nullptr);
  EXPECT_EQ(props.pMediaType->majortype, MEDIATYPE_Video);
  EXPECT_EQ(props.pbBuffer, PointerOf(sample.get()));
  EXPECT_EQ(props.cbBuffer, 16);

  // A short record gets only its first bytes.
  AM_SAMPLE2_PROPERTIES shortProps{};
  shortProps.tStart = -5;
  ASSERT_EQ(sample2->GetProperties(16, reinterpret_cast<BYTE *>(&shortProps)), S_OK);
  EXPECT_EQ(shortProps.lActual, 9);
  EXPECT_EQ(shortProps.tStart, -5);
  EXPECT_EQ(sample2->GetProperties(sizeof props + 1, reinterpret_cast<BYTE *>(&props)),
            E_INVALIDARG);

  props.dwSampleFlags = AM_SAMPLE_PREROLL | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  props.tStart = 300;
  props.tStop = 400;
  props.lActual = 4;
  ASSERT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<BYTE *>(&props)), S_OK);
  EXPECT_EQ(sample->IsPreroll(), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->GetActualDataLength(), 4);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 300);
  AM_MEDIA_TYPE *none = nullptr;
  EXPECT_EQ(sample->GetMediaType(&none), S_FALSE);  // the type flag was cleared

  // An impossible length changes nothing.
  props.lActual = 17;
  props.tStart = 999;
  EXPECT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<BYTE *>(&props)),
            VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 300);
}
