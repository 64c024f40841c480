/* The exports of libcinelink.so, for C callers: the original twelve, then five
 * additions that tell and set where the movie is, and a load that does not end
 * the process. Scripts call them through
 * ctypes with the same signatures. Handles are indices that are never reused.
 * Movies may be loaded on any thread; drive each movie from one thread at a time. */
#ifndef CINELINK_H
#define CINELINK_H

#include <stdbool.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define CINELINK_API __declspec(dllexport) __cdecl
#else
#define CINELINK_API __attribute__((visibility("default")))
#endif

typedef struct SDL_Surface SDL_Surface;

/* What Movie_GetState returns. */
enum {
  MOVIE_STATE_PLAYING = 0,
  MOVIE_STATE_STOPPED = 1,
  MOVIE_STATE_PAUSED = 2,
  MOVIE_STATE_INVALID = 3 /* an invalid handle */
};

/* Load a movie; the frames are scaled, aspect kept, into a width x height
 * surface. Set a 32-bit video mode first. A movie that cannot be loaded, a size
 * SDL 1.2 cannot make a 32-bit surface of (width 1 to 16383, width x 4 x height
 * below 2^31) or no 32-bit video mode ends the process with a report. Each load
 * keeps its output surface (width x height x 4 bytes) until the process ends,
 * released or not: load a looping movie once and reuse it. */
CINELINK_API int Movie_Load(const char *path, int width, int height);
CINELINK_API int Movie_Load_UTF8(const wchar_t *path, int width, int height);
/* Null for an invalid handle or before the video format is known. */
CINELINK_API SDL_Surface *Movie_GetSurface(int handle);
/* Only the low byte of `repetitive` counts (non-zero: loop). */
CINELINK_API void Movie_SetRepetitive(int handle, int repetitive);
/* Handles the end of the movie: loops or stops and rewinds. Call once a frame. */
CINELINK_API void Movie_CheckVideoStatus(int handle);
CINELINK_API bool Movie_Play(int handle);
CINELINK_API bool Movie_Pause(int handle);
CINELINK_API bool Movie_Stop(int handle);
CINELINK_API bool Movie_Reset(int handle);
CINELINK_API bool Movie_Release(int handle);
/* Percent, 100 full, 0 silent; each step below 100 is 1 dB. */
CINELINK_API bool Movie_SetVolume(int handle, int volume);
/* One of MOVIE_STATE_*. */
CINELINK_API int Movie_GetState(int handle);

/* Additions to the original twelve. None is needed to play a movie. */
/* Length in seconds (the later of picture and sound); -1.0 for an invalid handle. */
CINELINK_API double Movie_GetDuration(int handle);
/* Time of the picture on the surface, in seconds from the start of the current
 * pass of a loop; -1.0 for an invalid handle. */
CINELINK_API double Movie_GetPosition(int handle);
/* Jumps to `seconds` (clamped to the movie) in any state and returns at once.
 * Playing, the movie goes on from there; paused or stopped, the surface shows
 * the picture at that time once it is decoded. False for an invalid handle. */
CINELINK_API bool Movie_SetPosition(int handle, double seconds);
/* The picture's size as shown (square pixels, upright); false for an invalid
 * handle or null pointers. */
CINELINK_API bool Movie_GetVideoSize(int handle, int *width, int *height);
/* Whether the movie plays sound; false for an invalid handle. */
CINELINK_API bool Movie_HasSound(int handle);
/* Movie_Load for a file the game did not ship (a download, a mod): `path` in
 * UTF-8. Where Movie_Load would end the process, returns -1 with the error
 * code of its report in `*error` (if not null; 0 on success), and the
 * process goes on. */
CINELINK_API int Movie_TryLoad(const char *path, int width, int height, int *error);

#ifdef __cplusplus
}
#endif

#endif
