#include "mediagraph/source/video_output_pin.h"

#include <cstring>

#include "mediagraph/decode/frame_converter.h"
#include "mediagraph/source/movie_source_filter.h"
#include "platform/com/unknown.h"

namespace mediagraph {

namespace {

// Samples in the pool: one the renderer holds, one being filled, one spare.
constexpr LONG kBufferCount = 3;

bool IsMediaTime(const GUID *format) {
  return format != nullptr && IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME);
}

}  // namespace

CVideoOutputPin::CVideoOutputPin(CMovieSourceFilter *sourceFilter, CriticalLock *lock, int width,
                                 int height, REFERENCE_TIME frameDuration)
    : CBasePin(L"movie video output", sourceFilter, lock, nullptr, L"Video", PINDIR_OUTPUT),
      source(sourceFilter),
      imageSize(static_cast<LONG>(FrameConverter::RowStride(width)) * height),
      allocator(nullptr),
      input(nullptr) {
  VIDEOINFOHEADER format{};
  format.rcSource = RECT{0, 0, width, height};
  format.rcTarget = format.rcSource;
  format.AvgTimePerFrame = frameDuration;
  format.dwBitRate = static_cast<DWORD>(
      frameDuration > 0 ? static_cast<int64_t>(imageSize) * 8 * 10000000 / frameDuration : 0);
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = height;  // positive: bottom-up rows
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 24;
  format.bmiHeader.biCompression = BI_RGB;
  format.bmiHeader.biSizeImage = static_cast<DWORD>(imageSize);

  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = static_cast<ULONG>(imageSize);
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = sizeof format;
  type.pbFormat = reinterpret_cast<BYTE *>(&format);
  // The record copies the block into task memory of its own.
  proposedType = type;
}

CVideoOutputPin::~CVideoOutputPin() {
  if (allocator != nullptr) allocator->Release();
  if (input != nullptr) input->Release();
}

STDMETHODIMP CVideoOutputPin::Notify(IBaseFilter *sender, Quality) {
  return sender == nullptr ? E_POINTER : E_NOTIMPL;
}

STDMETHODIMP CVideoOutputPin::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMediaSeeking) return HandOutInterface(static_cast<IMediaSeeking *>(this), out);
  return CBasePin::InnerQueryInterface(iid, out);
}

HRESULT CVideoOutputPin::TestMediaType(const AM_MEDIA_TYPE *type) {
  if (type == nullptr) return E_POINTER;
  if (type->majortype != MEDIATYPE_Video || type->subtype != MEDIASUBTYPE_RGB24 ||
      type->formattype != FORMAT_VideoInfo || type->pbFormat == nullptr ||
      type->cbFormat < sizeof(VIDEOINFOHEADER)) {
    return S_FALSE;
  }
  VIDEOINFOHEADER offered;
  std::memcpy(&offered, type->pbFormat, sizeof offered);
  const auto *own = reinterpret_cast<const VIDEOINFOHEADER *>(proposedType.pbFormat);
  const BITMAPINFOHEADER &a = offered.bmiHeader;
  const BITMAPINFOHEADER &b = own->bmiHeader;
  // The pictures are written bottom-up at exactly this size.
  if (a.biWidth != b.biWidth || a.biHeight != b.biHeight || a.biBitCount != 24 ||
      a.biCompression != BI_RGB) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CVideoOutputPin::ProposedMediaType(int position, MediaTypeRecord *type) {
  if (type == nullptr) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return S_FALSE;
  return AssignMediaType(type, &proposedType);
}

HRESULT CVideoOutputPin::ConcludeConnection(IPin *peer) {
  IMemInputPin *receiver = nullptr;
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&receiver));
  if (FAILED(hr)) return hr;

  ALLOCATOR_PROPERTIES wanted{kBufferCount, imageSize, 1, 0};
  ALLOCATOR_PROPERTIES theirs{};
  if (SUCCEEDED(receiver->GetAllocatorRequirements(&theirs))) {
    if (theirs.cBuffers > wanted.cBuffers) wanted.cBuffers = theirs.cBuffers;
    if (theirs.cbAlign > wanted.cbAlign) wanted.cbAlign = theirs.cbAlign;
    wanted.cbPrefix = theirs.cbPrefix;
  }

  // The receiver's allocator first, then one of our own; each must take
  // whole pictures and be accepted by the receiver.
  IMemAllocator *chosen = nullptr;
  for (int attempt = 0; attempt < 2 && chosen == nullptr; ++attempt) {
    IMemAllocator *candidate = nullptr;
    hr = attempt == 0 ? receiver->GetAllocator(&candidate)
                      : CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IMemAllocator,
                                         reinterpret_cast<void **>(&candidate));
    if (FAILED(hr) || candidate == nullptr) continue;
    ALLOCATOR_PROPERTIES actual{};
    hr = candidate->SetProperties(&wanted, &actual);
    if (SUCCEEDED(hr) && actual.cbBuffer >= imageSize && actual.cBuffers >= 1) {
      hr = receiver->NotifyAllocator(candidate, FALSE);
      if (SUCCEEDED(hr)) {
        chosen = candidate;
        break;
      }
    } else if (SUCCEEDED(hr)) {
      hr = VFW_E_SIZENOTSET;
    }
    candidate->Release();
  }
  if (chosen == nullptr) {
    receiver->Release();
    return FAILED(hr) ? hr : VFW_E_NO_ALLOCATOR;
  }
  allocator = chosen;
  input = receiver;
  return S_OK;
}

HRESULT CVideoOutputPin::UndoConnection() {
  if (allocator != nullptr) {
    allocator->Decommit();
    allocator->Release();
    allocator = nullptr;
  }
  if (input != nullptr) {
    input->Release();
    input = nullptr;
  }
  return S_OK;
}

HRESULT CVideoOutputPin::ActivatePin() {
  ScopedLock hold(pinLock);
  return allocator != nullptr ? allocator->Commit() : S_OK;
}

HRESULT CVideoOutputPin::DeactivatePin() {
  ScopedLock hold(pinLock);
  return allocator != nullptr ? allocator->Decommit() : S_OK;
}

bool CVideoOutputPin::Transport(IMemAllocator **allocatorOut, IMemInputPin **inputOut) {
  ScopedLock hold(pinLock);
  if (allocator == nullptr || input == nullptr || !IsConnected()) return false;
  allocator->AddRef();
  input->AddRef();
  *allocatorOut = allocator;
  *inputOut = input;
  return true;
}

// --- IMediaSeeking

STDMETHODIMP CVideoOutputPin::GetCapabilities(DWORD *capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  *capabilities = kCapabilities;
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::CheckCapabilities(DWORD *capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  const DWORD asked = *capabilities;
  *capabilities = asked & kCapabilities;
  if (*capabilities == asked) return S_OK;
  return *capabilities != 0 ? S_FALSE : E_FAIL;
}

STDMETHODIMP CVideoOutputPin::IsFormatSupported(const GUID *format) {
  if (format == nullptr) return E_POINTER;
  return IsMediaTime(format) ? S_OK : S_FALSE;
}

STDMETHODIMP CVideoOutputPin::QueryPreferredFormat(GUID *format) {
  if (format == nullptr) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::GetTimeFormat(GUID *format) { return QueryPreferredFormat(format); }

STDMETHODIMP CVideoOutputPin::IsUsingTimeFormat(const GUID *format) {
  if (format == nullptr) return E_POINTER;
  return IsMediaTime(format) ? S_OK : S_FALSE;
}

STDMETHODIMP CVideoOutputPin::SetTimeFormat(const GUID *format) {
  if (format == nullptr) return E_POINTER;
  return IsMediaTime(format) || IsEqualGUID(*format, TIME_FORMAT_NONE) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CVideoOutputPin::GetDuration(LONGLONG *duration) {
  if (duration == nullptr) return E_POINTER;
  *duration = source->Duration();
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::GetStopPosition(LONGLONG *stop) {
  if (stop == nullptr) return E_POINTER;
  REFERENCE_TIME current = 0;
  source->Positions(&current, stop);
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::GetCurrentPosition(LONGLONG *current) {
  if (current == nullptr) return E_POINTER;
  *current = source->CurrentPosition();
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                                LONGLONG sourceTime, const GUID *sourceFormat) {
  if (target == nullptr) return E_POINTER;
  // A null format means the current one, which is always media time.
  const bool targetOk = targetFormat == nullptr || IsMediaTime(targetFormat) ||
                        IsEqualGUID(*targetFormat, TIME_FORMAT_NONE);
  const bool sourceOk = sourceFormat == nullptr || IsMediaTime(sourceFormat) ||
                        IsEqualGUID(*sourceFormat, TIME_FORMAT_NONE);
  if (!targetOk || !sourceOk) return E_INVALIDARG;
  *target = sourceTime;
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                           DWORD stopFlags) {
  const DWORD currentHow = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentHow != AM_SEEKING_NoPositioning && current == nullptr) ||
      (stopHow != AM_SEEKING_NoPositioning && stop == nullptr)) {
    return E_POINTER;
  }
  if (currentHow == AM_SEEKING_NoPositioning && stopHow == AM_SEEKING_NoPositioning) {
    return S_OK;
  }
  ScopedLock hold(pinLock);
  REFERENCE_TIME oldCurrent = 0;
  REFERENCE_TIME oldStop = 0;
  source->Positions(&oldCurrent, &oldStop);

  REFERENCE_TIME newCurrent = oldCurrent;
  switch (currentHow) {
    case AM_SEEKING_AbsolutePositioning: newCurrent = *current; break;
    case AM_SEEKING_RelativePositioning: newCurrent = source->CurrentPosition() + *current; break;
    case AM_SEEKING_IncrementalPositioning: newCurrent = oldCurrent + *current; break;
    default: break;
  }
  REFERENCE_TIME newStop = oldStop;
  switch (stopHow) {
    case AM_SEEKING_AbsolutePositioning: newStop = *stop; break;
    case AM_SEEKING_RelativePositioning:
    case AM_SEEKING_IncrementalPositioning: newStop = oldStop + *stop; break;
    default: break;
  }
  if (newCurrent < 0) newCurrent = 0;
  if (newStop < newCurrent) newStop = newCurrent;

  HRESULT hr = S_OK;
  if (currentHow != AM_SEEKING_NoPositioning) {
    hr = source->SetPositions(newCurrent, newStop);
  } else {
    // The stop alone changes for the running segment and the next ones.
    hr = source->SetPositions(oldCurrent, newStop);
  }
  if (SUCCEEDED(hr)) {
    if ((currentFlags & AM_SEEKING_ReturnTime) && current != nullptr) *current = newCurrent;
    if ((stopFlags & AM_SEEKING_ReturnTime) && stop != nullptr) *stop = newStop;
  }
  return hr;
}

STDMETHODIMP CVideoOutputPin::GetPositions(LONGLONG *current, LONGLONG *stop) {
  if (current == nullptr && stop == nullptr) return E_POINTER;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stopPosition = 0;
  source->Positions(&start, &stopPosition);
  if (current != nullptr) *current = source->CurrentPosition();
  if (stop != nullptr) *stop = stopPosition;
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
  if (earliest == nullptr && latest == nullptr) return E_POINTER;
  if (earliest != nullptr) *earliest = 0;
  if (latest != nullptr) *latest = source->Duration();
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_INVALIDARG; }

STDMETHODIMP CVideoOutputPin::GetRate(double *rate) {
  if (rate == nullptr) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}

STDMETHODIMP CVideoOutputPin::GetPreroll(LONGLONG *preroll) {
  if (preroll == nullptr) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

}  // namespace mediagraph
