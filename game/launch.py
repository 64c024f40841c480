"""The demo game: plays the sample cut-scene through cinelink.

kestrel imports this module at start. It opens an 800x600 window, plays the
movie once letterboxed in it and ends with the movie; a key or a click skips it and
closing the window quits. Without a display it runs on SDL's dummy driver and saves a few
frames as BMP. Whatever goes to stderr also goes to 错误信息.txt beside it.
"""
import os
import sys
import time

import cinelink

cinelink.log_errors()

MOVIE = cinelink.game_path("sample.mp4")
WIDTH, HEIGHT = 800, 600


def save_frame(screen, path):
    sdl = cinelink.library().sdl
    sdl.SDL_SaveBMP_RW(screen, sdl.SDL_RWFromFile(os.fsencode(path), b"wb"), 1)


def main():
    headless = not os.environ.get("DISPLAY") or os.environ.get("SDL_VIDEODRIVER") == "dummy"
    if headless:
        os.environ["SDL_VIDEODRIVER"] = "dummy"
    if not os.path.exists("/dev/snd") and "ALSOFT_DRIVERS" not in os.environ:
        os.environ["ALSOFT_DRIVERS"] = "null"

    screen = cinelink.open_screen(WIDTH, HEIGHT)
    frames_dir = os.path.join(cinelink.game_directory(), "frames")
    save_at = [0.5, 1.5, 2.5, 3.5] if headless else []
    try:
        if save_at:
            os.makedirs(frames_dir, exist_ok=True)
    except OSError:
        save_at = []  # a read-only install plays all the same
    saved = []

    started = time.monotonic()
    shown = 0
    with cinelink.Movie(MOVIE, WIDTH, HEIGHT) as movie:
        movie.play()
        while True:
            request = cinelink.skip_requested()
            if request:  # the demo's only movie: skipping it or quitting ends the game
                print("quit" if request == cinelink.Request.QUIT else "skipped")
                break
            if movie.update() == cinelink.State.STOPPED:
                break
            if headless and time.monotonic() - started > 120:
                print("gave up waiting for the end of the movie")
                break
            cinelink.clear(screen)
            shown += movie.blit(screen)
            cinelink.flip(screen)
            elapsed = time.monotonic() - started
            if headless and save_at and elapsed >= save_at[0]:
                save_at.pop(0)
                saved.append(os.path.join(frames_dir, "frame-%d.bmp" % len(saved)))
                save_frame(screen, saved[-1])
            cinelink.delay(16)

    cinelink.library().sdl.SDL_Quit()
    print("played %s: %d frames shown in %.1f s" % (os.path.basename(MOVIE), shown,
                                                     time.monotonic() - started))
    for path in saved:
        print("saved", path)
    sys.stdout.flush()


main()
