// The movie table, the twelve exports, the five that tell and set where the
// movie is and the load that does not end the process. A game may load on a
// worker thread while its main thread plays other movies, so the table has a
// lock of its own; each movie is driven by one thread at a time, and its
// record by no lock.
#include "movie/cinelink.h"

#include <SDL.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "frames/frame_surface.h"
#include "frames/sdl_surface_flusher.h"
#include "movie/fatal_report.h"
#include "movie/movie_instance.h"
#include "platform/win32/windows.h"

namespace {

// Entries are only appended; a released entry stays empty so handles never
// come to name another movie. Records are never destroyed (their surfaces may
// still be held by the game).
// Guarded by tableLock, held only to look up, append or empty an entry.
std::vector<MovieInstance *> movieTable;
std::mutex tableLock;
// Every record ever made. Records and their surfaces outlive their handles and
// the table, so this list is never destroyed either. Guarded by tableLock.
std::vector<MovieInstance *> &AllRecords() {
  static auto *records = new std::vector<MovieInstance *>;
  return *records;
}
std::atomic<bool> comInitialized{false};

MovieInstance *Lookup(int handle) {
  std::lock_guard<std::mutex> guard(tableLock);
  if (handle < 0) return nullptr;
  if (static_cast<size_t>(handle) >= movieTable.size()) return nullptr;
  return movieTable[static_cast<size_t>(handle)];
}

// The output surface SDL must be able to make, or the movie would play with
// no picture and no error: a size it can hold (the pitch is 16 bits), and a
// 32-bit video mode to take the display format from (none before
// SDL_SetVideoMode or after SDL_Quit). ERROR_SUCCESS when both are there.
DWORD OutputSurfaceProblem(int width, int height) {
  if (width < 1 || height < 1 || !SdlCanHoldSurface(width, height, 32)) {
    return ERROR_INVALID_PARAMETER;
  }
  const SDL_Surface *screen = SDL_GetVideoSurface();
  if (screen == nullptr || screen->format->BytesPerPixel != 4) {
    return ERROR_NOT_READY;
  }
  return ERROR_SUCCESS;
}

// With `fatal`, a failure ends the process with the report. Without, it
// gives -1 with the cause as the thread's last error (never 0), and leaves
// nothing in the table: the record's graph and surface are let go.
int LoadWide(const wchar_t *path, int width, int height, bool fatal) {
  if (const DWORD problem = OutputSurfaceProblem(width, height)) {
    SetLastError(problem);
    if (fatal) ReportFatalError(L"Movie_Load");
    return -1;
  }
  if (!comInitialized.load()) {
    CoInitialize(nullptr);
    comInitialized.store(true);
  }
  auto *record = new MovieInstance(new SDLSurfaceFlusher(width, height));
  {
    std::lock_guard<std::mutex> guard(tableLock);
    AllRecords().push_back(record);
  }
  HRESULT hr = record->CreateGraph();
  if (SUCCEEDED(hr)) hr = record->RenderMovieFile(path);
  if (FAILED(hr)) {
    if (fatal) ReportFatalError(L"Movie_Load");
    const DWORD error = GetLastError();
    // The record stays among all records, which are never destroyed, but
    // holds nothing more: no handle ever named it. The graph's worker takes
    // it apart, and the renderer, going, has the sink give back its surfaces.
    record->ReleaseGraph();
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_BAD_FORMAT);
    return -1;
  }
  std::lock_guard<std::mutex> guard(tableLock);
  movieTable.push_back(record);
  return static_cast<int>(movieTable.size() - 1);
}

}  // namespace

extern "C" {

int Movie_Load(const char *path, int width, int height) {
  // No path at all (a script passing None) is reported, not measured.
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    ReportFatalError(L"Movie_Load");
  }
  const size_t n = std::strlen(path);
  std::unique_ptr<wchar_t[]> wide(new wchar_t[n + 1]);
  // A byte sequence the locale cannot convert would leave the buffer
  // unterminated: refuse the load through the same report instead.
  if (std::mbstowcs(wide.get(), path, n + 1) == static_cast<size_t>(-1)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    ReportFatalError(L"Movie_Load");
  }
  return LoadWide(wide.get(), width, height, true);
}

int Movie_Load_UTF8(const wchar_t *path, int width, int height) {
  // Same as the narrow load: a missing path is reported with a cause, never
  // with whatever last error happened to be set.
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    ReportFatalError(L"Movie_Load");
  }
  return LoadWide(path, width, height, true);
}

int Movie_TryLoad(const char *path, int width, int height, int *error) {
  int handle = -1;
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 0) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    } else {
      std::unique_ptr<wchar_t[]> wide(new wchar_t[static_cast<size_t>(length)]);
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.get(), length);
      handle = LoadWide(wide.get(), width, height, false);
    }
  }
  if (error != nullptr) *error = handle < 0 ? static_cast<int>(GetLastError()) : 0;
  return handle;
}

SDL_Surface *Movie_GetSurface(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return nullptr;
  auto *flusher = dynamic_cast<SDLSurfaceFlusher *>(record->flusher);
  return flusher != nullptr ? flusher->OutputSurface() : nullptr;
}

void Movie_SetRepetitive(int handle, int repetitive) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return;
  // The argument is a one-byte bool: whatever the caller left above it is noise.
  record->SetRepetitive((static_cast<unsigned>(repetitive) & 0xFFu) != 0);
}

void Movie_CheckVideoStatus(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return;
  record->ProcessGraphEvents();
}

bool Movie_Play(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  record->HoldCuedPictures();
  const HRESULT hr = record->control->Run();
  if (hr != S_OK && hr != S_FALSE) ReportFatalError(L"Movie_Play");
  return true;
}

bool Movie_Pause(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  record->HoldCuedPictures();
  return record->control->Pause() == S_OK;
}

bool Movie_Stop(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  record->HoldCuedPictures();
  // Stopped at the start already: the graph keeps its cue, with nothing to redo.
  OAFilterState state = State_Running;
  REFTIME at = -1;
  const bool atStart = record->control->GetState(static_cast<LONG>(INFINITE), &state) == S_OK &&
                       state == State_Stopped &&
                       SUCCEEDED(record->position->get_CurrentPosition(&at)) && at == 0.0;
  const HRESULT hr = record->control->Stop();
  record->flusher->NotifyStopped();
  if (FAILED(hr)) return false;
  return atStart || record->position->put_CurrentPosition(0.0) == S_OK;
}

bool Movie_Reset(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  record->HoldCuedPictures();
  const HRESULT hr = record->control->Stop();
  record->flusher->NotifyStopped();
  if (FAILED(hr)) ReportFatalError(L"Movie_Reset");
  if (FAILED(record->position->put_CurrentPosition(0.0))) ReportFatalError(L"Movie_Reset");
  if (FAILED(record->control->Run())) ReportFatalError(L"Movie_Reset");
  return true;
}

bool Movie_Release(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  record->ReleaseGraph();
  std::lock_guard<std::mutex> guard(tableLock);
  movieTable[static_cast<size_t>(handle)] = nullptr;
  return true;
}

bool Movie_SetVolume(int handle, int volume) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return false;
  // Percent to hundredths of a decibel, computed wide so no int overflows.
  long long level = (static_cast<long long>(volume) - 100) * 100;
  if (level > 0) level = 0;
  if (level < -10000) level = -10000;
  if (record->audio != nullptr) record->audio->put_Volume(static_cast<LONG>(level));
  return true;
}

int Movie_GetState(int handle) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr) return MOVIE_STATE_INVALID;
  OAFilterState state = 0;
  if (record->control->GetState(static_cast<LONG>(INFINITE), &state) != S_OK) ReportFatalError(L"Movie_GetState");
  switch (state) {
    case State_Running:
      return MOVIE_STATE_PLAYING;
    case State_Stopped:
      return MOVIE_STATE_STOPPED;
    case State_Paused:
      return MOVIE_STATE_PAUSED;
    default:
      return MOVIE_STATE_INVALID;
  }
}

double Movie_GetDuration(int handle) {
  MovieInstance *record = Lookup(handle);
  REFTIME length = 0;
  if (record == nullptr || FAILED(record->position->get_Duration(&length))) return -1.0;
  return length;
}

double Movie_GetPosition(int handle) {
  MovieInstance *record = Lookup(handle);
  REFTIME now = 0;
  if (record == nullptr || FAILED(record->position->get_CurrentPosition(&now))) return -1.0;
  return now < 0 ? 0.0 : now;
}

bool Movie_SetPosition(int handle, double seconds) {
  MovieInstance *record = Lookup(handle);
  return record != nullptr && record->Seek(seconds);
}

bool Movie_GetVideoSize(int handle, int *width, int *height) {
  MovieInstance *record = Lookup(handle);
  if (record == nullptr || width == nullptr || height == nullptr) return false;
  return record->VideoSize(width, height);
}

bool Movie_HasSound(int handle) {
  MovieInstance *record = Lookup(handle);
  return record != nullptr && record->PlaysSound();
}

}  // extern "C"
