#include "mediagraph/source/movie_source.h"

#include <memory>
#include <new>
#include <string>

#include "mediagraph/audio/audio_device.h"
#include "mediagraph/audio/sound_output.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/sound_resampler.h"
#include "mediagraph/decode/stream_decoder.h"
#include "mediagraph/source/movie_source_filter.h"
#include "platform/win32/errors.h"
#include "platform/win32/strings.h"

namespace mediagraph {
namespace {

HRESULT Win32Failure(DWORD error) {
  SetLastError(error);
  return HRESULT_FROM_WIN32(error);
}

HRESULT ResultOfOpen(OpenStatus status) {
  switch (status) {
    case OpenStatus::kOk: return S_OK;
    case OpenStatus::kNotFound: return Win32Failure(ERROR_FILE_NOT_FOUND);
    case OpenStatus::kAccessDenied: return Win32Failure(ERROR_ACCESS_DENIED);
    case OpenStatus::kNameTooLong: return Win32Failure(ERROR_FILENAME_EXCED_RANGE);
    case OpenStatus::kNotRegularFile: return Win32Failure(ERROR_OPEN_FAILED);
    case OpenStatus::kUnreadable: return Win32Failure(ERROR_INVALID_DATA);
    case OpenStatus::kNoMemory: SetLastError(ERROR_NOT_ENOUGH_MEMORY); return E_OUTOFMEMORY;
    case OpenStatus::kNoVideo: SetLastError(ERROR_BAD_FORMAT); return VFW_E_CANNOT_RENDER;
    // The game names one movie: a list of others is not a format we load.
    case OpenStatus::kNamesOtherFiles:
    case OpenStatus::kUnknownFormat: break;
  }
  SetLastError(ERROR_BAD_FORMAT);
  return VFW_E_UNKNOWN_FILE_TYPE;
}

bool ToUtf8(LPCWSTR path, std::string *out) {
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, nullptr, 0,
                                         nullptr, nullptr);
  if (length <= 0) return false;
  out->resize(static_cast<size_t>(length));
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, &(*out)[0], length, nullptr,
                          nullptr) != length) {
    return false;
  }
  out->resize(static_cast<size_t>(length) - 1);  // the terminator
  return true;
}

}  // namespace
}  // namespace mediagraph

HRESULT CreateMovieSource(LPCWSTR path, MovieSource **out) {
  using namespace mediagraph;
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (path == nullptr) return E_INVALIDARG;
  std::string utf8;
  if (!ToUtf8(path, &utf8)) return Win32Failure(ERROR_NO_UNICODE_TRANSLATION);
  if (utf8.empty()) return Win32Failure(ERROR_FILE_NOT_FOUND);
  std::unique_ptr<MovieFile> file;
  const HRESULT opened = ResultOfOpen(MovieFile::Open(utf8, &file));
  if (FAILED(opened)) return opened;

  // One thread: opening it tells whether the stream decodes at all, and it
  // shows first pictures ahead. The video thread opens the decoder with
  // FFmpeg's threads, which is several times its size (at the first load of
  // a process, 10 ms and more of fresh memory).
  std::unique_ptr<StreamDecoder> video = StreamDecoder::Create(file->VideoStream(), 1);
  if (!video) {
    SetLastError(ERROR_BAD_FORMAT);
    return VFW_E_CANNOT_RENDER;
  }
  std::unique_ptr<StreamDecoder> audio;
  std::unique_ptr<SoundResampler> resampler;
  std::unique_ptr<SoundOutput> output;
  if (const AVStream *stream = file->AudioStream()) {
    audio = StreamDecoder::Create(stream, 1);
    resampler = SoundResampler::Create(stream->codecpar);
    if (audio && resampler) {
      // No device (or no source left on it): the picture plays without sound.
      output = SoundOutput::Create(AudioDevice::Acquire(), resampler->Rate(),
                                   resampler->Channels());
    } else {
      audio.reset();
      resampler.reset();
    }
  }

  auto *filter = new (std::nothrow) CMovieSourceFilter(
      std::move(file), std::move(video), std::move(audio), std::move(resampler),
      std::move(output));
  if (filter == nullptr) return E_OUTOFMEMORY;
  MovieSource *source = filter->Handle();
  source->AddRef();
  *out = source;
  return S_OK;
}
