"""The demo game: plays the sample cut-scene through libcinelink.so.

kestrel imports this module at start. It opens a 32-bit SDL 1.2 window through
the same libSDL that libcinelink.so uses, plays the movie once, blits the movie
surface every frame and ends with the movie; Escape or closing the window skips.
Without a display it runs on SDL's dummy driver and saves a few frames as BMP.
"""
import ctypes
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(sys.argv[0] if sys.argv and sys.argv[0] else __file__))
MOVIE = os.path.join(HERE, "sample.mp4")
WIDTH, HEIGHT = 800, 600

SDL_INIT_VIDEO = 0x20
SDL_KEYDOWN = 2
SDL_QUIT = 12
SDLK_ESCAPE = 27
STATE_STOPPED = 1


def load_libraries():
    sdl = ctypes.CDLL("libSDL-1.2.so.0")
    sdl.SDL_SetVideoMode.restype = ctypes.c_void_p
    sdl.SDL_SetVideoMode.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_uint32]
    sdl.SDL_UpperBlit.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    sdl.SDL_FillRect.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32]
    sdl.SDL_Flip.argtypes = [ctypes.c_void_p]
    sdl.SDL_RWFromFile.restype = ctypes.c_void_p
    sdl.SDL_RWFromFile.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    sdl.SDL_SaveBMP_RW.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
    sdl.SDL_GetError.restype = ctypes.c_char_p

    cine = ctypes.CDLL(os.path.join(HERE, "libcinelink.so"))
    cine.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
    cine.Movie_GetSurface.restype = ctypes.c_void_p
    cine.Movie_SetRepetitive.argtypes = [ctypes.c_int, ctypes.c_int]
    cine.Movie_SetVolume.argtypes = [ctypes.c_int, ctypes.c_int]
    for name in ("Movie_Play", "Movie_Pause", "Movie_Stop", "Movie_Reset",
                 "Movie_Release", "Movie_SetVolume"):
        getattr(cine, name).restype = ctypes.c_bool
    return sdl, cine


def skip_requested(sdl, event):
    while sdl.SDL_PollEvent(event):
        kind = event.raw[0]
        if kind == SDL_QUIT:
            return True
        # SDL_KeyboardEvent: type, which, state, then the keysym whose `sym` is at offset 8.
        if kind == SDL_KEYDOWN and int.from_bytes(event.raw[8:12], "little") == SDLK_ESCAPE:
            return True
    return False


def main():
    headless = not os.environ.get("DISPLAY") or os.environ.get("SDL_VIDEODRIVER") == "dummy"
    if headless:
        os.environ["SDL_VIDEODRIVER"] = "dummy"
    if not os.path.exists("/dev/snd") and "ALSOFT_DRIVERS" not in os.environ:
        os.environ["ALSOFT_DRIVERS"] = "null"

    sdl, cine = load_libraries()
    if sdl.SDL_Init(SDL_INIT_VIDEO) != 0:
        raise RuntimeError("SDL_Init failed: %s" % sdl.SDL_GetError().decode())
    screen = sdl.SDL_SetVideoMode(WIDTH, HEIGHT, 32, 0)
    if not screen:
        raise RuntimeError("SDL_SetVideoMode failed: %s" % sdl.SDL_GetError().decode())
    sdl.SDL_WM_SetCaption(b"kestrel", b"kestrel")

    frames_dir = os.path.join(HERE, "frames")
    if headless:
        os.makedirs(frames_dir, exist_ok=True)
    save_at = [0.5, 1.5, 2.5, 3.5]
    saved = []

    movie = cine.Movie_Load_UTF8(MOVIE, WIDTH, HEIGHT)
    cine.Movie_SetRepetitive(movie, 0)
    cine.Movie_SetVolume(movie, 100)
    cine.Movie_Play(movie)

    event = ctypes.create_string_buffer(64)
    started = time.monotonic()
    shown = 0
    while True:
        if skip_requested(sdl, event):
            print("skipped")
            break
        cine.Movie_CheckVideoStatus(movie)
        if cine.Movie_GetState(movie) == STATE_STOPPED:
            break
        if headless and time.monotonic() - started > 120:
            print("gave up waiting for the end of the movie")
            break
        sdl.SDL_FillRect(screen, None, 0)
        surface = cine.Movie_GetSurface(movie)
        if surface:
            sdl.SDL_UpperBlit(surface, None, screen, None)
            shown += 1
        sdl.SDL_Flip(screen)
        elapsed = time.monotonic() - started
        if headless and save_at and elapsed >= save_at[0]:
            save_at.pop(0)
            path = os.path.join(frames_dir, "frame-%d.bmp" % len(saved))
            sdl.SDL_SaveBMP_RW(screen, sdl.SDL_RWFromFile(path.encode(), b"wb"), 1)
            saved.append(path)
        sdl.SDL_Delay(16)

    cine.Movie_Release(movie)
    sdl.SDL_Quit()
    print("played %s: %d frames shown in %.1f s" % (os.path.basename(MOVIE), shown,
                                                     time.monotonic() - started))
    for path in saved:
        print("saved", path)


main()
