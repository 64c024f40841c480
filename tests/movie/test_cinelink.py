"""Drives libcinelink.so through ctypes exactly as a game script does.

Run by ctest with CINELINK_LIB set to the built library. Movies are made with
the ffmpeg command in a temporary directory.
"""
import ctypes
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

LIB = os.environ["CINELINK_LIB"]
os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ.setdefault("ALSOFT_DRIVERS", "null")
os.environ.setdefault("CINELINK_NO_DIALOG", "1")

PLAYING, STOPPED, PAUSED, INVALID = 0, 1, 2, 3
SCREEN_W, SCREEN_H = 320, 240


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", *args], check=True)


def make_two_colour_movie(path, size="160x120", seconds=0.6):
    """Red for the first half, blue for the second, with a tone."""
    ffmpeg("-f", "lavfi", "-i", f"color=c=red:s={size}:r=25:d={seconds / 2}",
           "-f", "lavfi", "-i", f"color=c=blue:s={size}:r=25:d={seconds / 2}",
           "-f", "lavfi", "-i", f"sine=frequency=440:duration={seconds}",
           "-filter_complex", "[0:v][1:v]concat=n=2:v=1:a=0[v]",
           "-map", "[v]", "-map", "2:a", "-c:v", "libx264", "-pix_fmt", "yuv420p",
           "-c:a", "aac", "-shortest", path)


class SDLSurface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("pitch", ctypes.c_uint16),
                ("pixels", ctypes.c_void_p)]


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split())]


class Library:
    def __init__(self):
        self.sdl = ctypes.CDLL("libSDL-1.2.so.0")
        self.sdl.SDL_SetVideoMode.restype = ctypes.c_void_p
        self.sdl.SDL_FillRect.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32]
        self.sdl.SDL_GetRGB.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + [
            ctypes.POINTER(ctypes.c_uint8)] * 3
        assert self.sdl.SDL_Init(0x20) == 0
        self.screen = self.sdl.SDL_SetVideoMode(SCREEN_W, SCREEN_H, 32, 0)
        assert self.screen
        c = ctypes.CDLL(LIB)
        c.Movie_Load.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
        c.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
        c.Movie_GetSurface.restype = ctypes.c_void_p
        c.Movie_SetRepetitive.argtypes = [ctypes.c_int, ctypes.c_int]
        c.Movie_SetVolume.argtypes = [ctypes.c_int, ctypes.c_int]
        c.Movie_TryLoad.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                                    ctypes.POINTER(ctypes.c_int)]
        for name in ("Movie_Play", "Movie_Pause", "Movie_Stop", "Movie_Reset",
                     "Movie_Release", "Movie_SetVolume"):
            getattr(c, name).restype = ctypes.c_bool
        self.c = c

    def pixel(self, surface_address, x, y):
        s = SDLSurface.from_address(surface_address)
        assert 0 <= x < s.w and 0 <= y < s.h
        value = ctypes.c_uint32.from_address(s.pixels + y * s.pitch + x * 4).value
        r, g, b = ctypes.c_uint8(), ctypes.c_uint8(), ctypes.c_uint8()
        self.sdl.SDL_GetRGB(value, s.format, ctypes.byref(r), ctypes.byref(g), ctypes.byref(b))
        return value, (r.value, g.value, b.value)

    def fill(self, surface_address, value):
        self.sdl.SDL_FillRect(surface_address, None, value)


def wait_for(predicate, timeout=20.0, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return False


def is_red(rgb):
    r, g, b = rgb
    return r > 200 and g < 60 and b < 60


def is_blue(rgb):
    r, g, b = rgb
    return b > 200 and r < 60 and g < 60


class CinelinkTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="cinelink-")
        cls.movie = os.path.join(cls.dir, "colours.mp4")
        make_two_colour_movie(cls.movie)
        cls.unicode_movie = os.path.join(cls.dir, "fïlm-é.mp4")
        shutil.copy(cls.movie, cls.unicode_movie)
        cls.lib = Library()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def load(self, w=400, h=100):
        return self.lib.c.Movie_Load_UTF8(self.movie, w, h)

    def play_to_end(self, handle, timeout=20.0):
        c = self.lib.c

        def ended():
            c.Movie_CheckVideoStatus(handle)
            return c.Movie_GetState(handle) == STOPPED
        return wait_for(ended, timeout)

    def test_handles_grow_and_are_never_reused(self):
        c = self.lib.c
        first = self.load()
        second = self.load()
        self.assertEqual(second, first + 1)
        self.assertTrue(c.Movie_Release(first))
        third = self.load()
        self.assertEqual(third, second + 1)
        self.assertEqual(c.Movie_GetState(first), INVALID)
        for h in (second, third):
            self.assertEqual(c.Movie_GetState(h), STOPPED)
            self.assertTrue(c.Movie_Release(h))

    def test_state_codes_and_non_repetitive_end(self):
        c = self.lib.c
        h = self.load()
        self.assertEqual(c.Movie_GetState(h), STOPPED)
        self.assertTrue(c.Movie_Play(h))
        self.assertEqual(c.Movie_GetState(h), PLAYING)
        c.Movie_Pause(h)  # may be false while the transition completes
        self.assertEqual(c.Movie_GetState(h), PAUSED)
        self.assertTrue(c.Movie_Play(h))
        self.assertTrue(self.play_to_end(h), "the movie never ended")
        self.assertEqual(c.Movie_GetState(h), STOPPED)
        # Stopping a stopped movie is fine and leaves it at the start.
        self.assertTrue(c.Movie_Stop(h))
        self.assertTrue(c.Movie_Release(h))

    def test_repetitive_movie_restarts(self):
        c = self.lib.c
        h = self.load()
        c.Movie_SetRepetitive(h, 255)
        surface = c.Movie_GetSurface(h)
        self.assertTrue(surface)
        self.assertTrue(c.Movie_Play(h))
        centre = (200, 50)
        seen = []

        def saw_red_after_blue():
            c.Movie_CheckVideoStatus(h)
            _, rgb = self.lib.pixel(c.Movie_GetSurface(h), *centre)
            colour = "red" if is_red(rgb) else "blue" if is_blue(rgb) else None
            if colour and (not seen or seen[-1] != colour):
                seen.append(colour)
            return seen[-3:] == ["red", "blue", "red"]
        self.assertTrue(wait_for(saw_red_after_blue, 20.0, 0.005), seen)
        self.assertEqual(c.Movie_GetState(h), PLAYING)
        self.assertTrue(c.Movie_Release(h))

    def test_low_byte_of_repetitive_flag(self):
        c = self.lib.c
        h = self.load()
        c.Movie_SetRepetitive(h, 256)  # low byte 0: not repetitive
        self.assertTrue(c.Movie_Play(h))
        self.assertTrue(self.play_to_end(h))
        self.assertTrue(c.Movie_Release(h))

    def test_surface_shows_the_movie_and_bars_are_never_written(self):
        c = self.lib.c
        h = self.load(400, 100)
        surface = c.Movie_GetSurface(h)
        s = SDLSurface.from_address(surface)
        self.assertEqual((s.w, s.h), (400, 100))
        marker = 0x00123456
        self.lib.fill(surface, marker)
        self.assertTrue(c.Movie_Play(h))
        # 160x120 into 400x100: 133x100 centred, bars left and right.
        self.assertTrue(wait_for(lambda: is_red(self.lib.pixel(surface, 200, 50)[1])),
                        self.lib.pixel(surface, 200, 50))
        self.assertTrue(wait_for(lambda: is_blue(self.lib.pixel(surface, 200, 50)[1])))
        for x, y in ((0, 0), (60, 50), (399, 99), (340, 10)):
            self.assertEqual(self.lib.pixel(surface, x, y)[0], marker, (x, y))
        self.assertTrue(c.Movie_Release(h))

    def test_surface_stays_readable_after_release(self):
        c = self.lib.c
        h = self.load(200, 150)
        surface = c.Movie_GetSurface(h)
        self.assertTrue(c.Movie_Play(h))
        self.assertTrue(wait_for(lambda: is_red(self.lib.pixel(surface, 100, 75)[1])))
        self.assertTrue(c.Movie_Release(h))
        self.assertIsNone(c.Movie_GetSurface(h))
        self.lib.pixel(surface, 100, 75)  # still mapped and readable
        self.lib.pixel(surface, 199, 149)

    def test_every_read_of_the_surface_sees_one_whole_frame(self):
        c = self.lib.c
        movie = os.path.join(self.dir, "black-white.mp4")
        ffmpeg("-f", "lavfi", "-i", "nullsrc=s=1280x720:r=30:d=2,geq=lum='255*mod(N\\,2)'"
               ":cb=128:cr=128", "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0",
               "-pix_fmt", "yuv420p", movie)
        h = c.Movie_Load_UTF8(movie, 1920, 1080)  # the picture fills the surface
        s = SDLSurface.from_address(c.Movie_GetSurface(h))
        samples, torn, white = 0, 0, 0
        self.assertTrue(c.Movie_Play(h))
        while True:
            if samples % 1000 == 0:
                c.Movie_CheckVideoStatus(h)
                if c.Movie_GetState(h) != PLAYING:
                    break
            pixels = s.pixels  # loaded once, as a blit does
            top = ctypes.string_at(pixels, s.w * 4)
            bottom = ctypes.string_at(pixels + (s.h - 1) * s.pitch, s.w * 4)
            samples, torn, white = samples + 1, torn + (top != bottom), white + (top[0] > 128)
        self.assertEqual(torn, 0, f"{torn} of {samples} reads saw two frames")
        self.assertTrue(100 < white < samples - 100, (white, samples))
        self.assertTrue(c.Movie_Release(h))

    def test_released_movies_keep_only_their_output_surface(self):
        c = self.lib.c
        libc = ctypes.CDLL("libc.so.6")
        libc.mallinfo2.restype = MallInfo2
        movie = os.path.join(self.dir, "small.mp4")
        make_two_colour_movie(movie, "320x240")

        def cycle():
            h = c.Movie_Load_UTF8(movie, 640, 480)
            surface = c.Movie_GetSurface(h)
            self.assertTrue(c.Movie_Play(h))
            self.assertTrue(wait_for(lambda: is_red(self.lib.pixel(surface, 320, 240)[1])))
            self.assertTrue(c.Movie_Release(h))

        def in_use():  # large blocks are mapped, not in the arena
            info = libc.mallinfo2()
            return (info.uordblks + info.hblkhd, len(os.listdir("/proc/self/task")),
                    len(os.listdir("/proc/self/fd")))
        def settled():  # a released graph is let go on the library's own thread
            seen = in_use()[1:]
            time.sleep(0.1)
            return in_use()[1:] == seen
        cycle()
        wait_for(settled, 5.0)
        before = in_use()
        for _ in range(20):
            cycle()
        # Threads and descriptors; a detached thread may still be on its way out.
        self.assertTrue(wait_for(lambda: in_use()[1:] == before[1:], 2.0), (in_use(), before))
        self.assertLess((in_use()[0] - before[0]) / 20, 640 * 480 * 4 + 65536)

    def test_invalid_handles(self):
        c = self.lib.c
        released = self.load()
        self.assertTrue(c.Movie_Release(released))
        count = released + 1
        for h in (-1, count, released, 2147483647):
            self.assertIsNone(c.Movie_GetSurface(h))
            self.assertEqual(c.Movie_GetState(h), INVALID)
            for name in ("Movie_Play", "Movie_Pause", "Movie_Stop", "Movie_Reset",
                         "Movie_Release"):
                self.assertFalse(getattr(c, name)(h), (name, h))
            self.assertFalse(c.Movie_SetVolume(h, 50))
            c.Movie_SetRepetitive(h, 1)
            c.Movie_CheckVideoStatus(h)

    def test_reset_plays_again_from_the_start(self):
        c = self.lib.c
        h = self.load()
        self.assertTrue(c.Movie_Play(h))
        self.assertTrue(self.play_to_end(h))
        self.assertTrue(c.Movie_Reset(h))
        self.assertEqual(c.Movie_GetState(h), PLAYING)
        self.assertTrue(self.play_to_end(h))
        self.assertTrue(c.Movie_Release(h))

    def test_exit_with_a_movie_loaded_or_playing_is_clean(self):
        # Streaming threads are still running when the process ends.
        for drivers in ("null", ""):  # "": OpenAL's own choice of device
            for play in ([], ["0"], ["0.3"]):
                result = run_child("wide", self.movie, *play, ALSOFT_DRIVERS=drivers)
                self.assertEqual(result.returncode, 0, (drivers, play, result.stderr))
                self.assertNotIn("alc_cleanup", result.stderr, (drivers, play))

    def test_a_load_on_another_thread_works_as_on_the_first(self):
        result = run_child("threads", self.movie, "0.3")
        self.assertEqual((result.returncode, result.stdout), (0, "1\nreturned\n"), result.stderr)

    def test_a_try_that_fails_leaves_the_process_and_the_table_as_they_were(self):
        c = self.lib.c
        folder = tempfile.mkdtemp(dir=self.dir)
        with open(self.movie, "rb") as f:
            whole = f.read()
        files = {"truncated.mp4": whole[:len(whole) // 3], "text.mp4": b"not a movie\n" * 300,
                 "empty.mp4": b""}
        for name, content in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        sound_only = os.path.join(folder, "sound.m4a")
        ffmpeg("-i", self.movie, "-vn", "-c:a", "copy", sound_only)
        cases = [os.path.join(folder, name) for name in files] + [
            sound_only, os.path.join(folder, "missing.mp4"), folder]
        before = self.load()
        error = ctypes.c_int(-1)
        for path in cases:
            with self.subTest(path=os.path.basename(path)):
                self.assertEqual(c.Movie_TryLoad(path.encode(), 64, 48, ctypes.byref(error)), -1)
                # The code Movie_Load's report gives, and ends the process with.
                self.assertEqual(error.value & 0xFF, run_child("wide", path).returncode)
                self.assertNotEqual(error.value, 0)
        for path, size, code in ((b"/tmp/\xff.mp4", (64, 48), 1113), (None, (64, 48), 87),
                                 (self.movie.encode(), (0, 48), 87),
                                 (self.movie.encode(), (16384, 1), 87)):
            self.assertEqual(c.Movie_TryLoad(path, *size, ctypes.byref(error)), -1)
            self.assertEqual(error.value, code, (path, size))
        self.assertEqual(c.Movie_TryLoad(b"/nonexistent.mp4", 64, 48, None), -1)
        good = c.Movie_TryLoad(self.unicode_movie.encode(), 64, 48, ctypes.byref(error))
        self.assertEqual((good, error.value), (before + 1, 0))  # no handle went to a failure
        self.assertTrue(c.Movie_Play(good))
        self.assertTrue(self.play_to_end(good))
        for h in (before, good):
            self.assertTrue(c.Movie_Release(h))

    def test_non_ascii_names(self):
        c = self.lib.c
        wide = c.Movie_Load_UTF8(self.unicode_movie, 64, 48)
        narrow = c.Movie_Load(self.unicode_movie.encode("utf-8"), 64, 48)
        for h in (wide, narrow):
            self.assertEqual(c.Movie_GetState(h), STOPPED)
            self.assertTrue(c.Movie_GetSurface(h))
            self.assertTrue(c.Movie_Release(h))


CHILD = r"""
import ctypes, sys, threading, time
lib = ctypes.CDLL(sys.argv[1])
sdl = ctypes.CDLL("libSDL-1.2.so.0")
sdl.SDL_Init(0x20); sdl.SDL_SetVideoMode(64, 48, 32, 0)
lib.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
lib.Movie_Load.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
if sys.argv[2] == "wide":
    lib.Movie_Load_UTF8(sys.argv[3], 64, 48)
elif sys.argv[2] == "threads":  # here, then on a thread of its own
    lib.Movie_Load_UTF8(sys.argv[3], 64, 48)
    worker = threading.Thread(target=lib.Movie_Load_UTF8, args=(sys.argv[3], 64, 48))
    worker.start()
    worker.join()
    print(lib.Movie_GetState(1))
else:
    lib.Movie_Load(bytes.fromhex(sys.argv[3]), 64, 48)
print("returned")
if len(sys.argv) > 4:  # play for that long, then end with the movie still loaded
    lib.Movie_Play(0)
    time.sleep(float(sys.argv[4]))
"""


def run_child(kind, arg, *play, **env):
    env = dict(os.environ, LC_ALL="C.UTF-8", **env)
    return subprocess.run([sys.executable, "-c", CHILD, LIB, kind, arg, *play],
                          capture_output=True, text=True, env=env, timeout=60)


class FatalReportTest(unittest.TestCase):
    def run_child(self, kind, arg):
        return run_child(kind, arg)

    def test_missing_file_ends_the_process_with_error_2(self):
        result = self.run_child("wide", "/nonexistent/movie.mp4")
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("Movie_Load failed with error 2: The system cannot find the file specified.",
                      result.stderr)
        self.assertNotIn("returned", result.stdout)

    def test_unconvertible_narrow_path_is_reported_not_loaded(self):
        result = self.run_child("narrow", b"/tmp/\xff\xfe.mp4".hex())
        # The process exit status keeps the low 8 bits of the error code.
        self.assertEqual(result.returncode, 1113 & 0xFF, result.stderr)
        self.assertIn("Movie_Load failed with error 1113", result.stderr)

    def test_file_that_is_no_movie(self):
        # Text, and a JPEG header with nothing after it (FFmpeg logs that as fatal).
        for content in (b"this is not a movie" * 100, b"\xff\xd8\xff\xe0\0\x10JFIF\0" + bytes(3000)):
            with tempfile.NamedTemporaryFile(suffix=".mp4") as f:
                f.write(content)
                f.flush()
                result = self.run_child("wide", f.name)
            self.assertNotEqual(result.returncode, 0)
            # The report alone: FFmpeg's own log stays off the game's stderr.
            self.assertTrue(result.stderr.startswith("Error: Movie_Load failed with error"),
                            result.stderr)


NEIGHBOUR = r"""
import ctypes, json, os, sys, time
threads = lambda: len(os.listdir("/proc/self/task"))
av = ctypes.CDLL("libavutil.so.57")
before = threads()
lib = ctypes.CDLL(sys.argv[1])
time.sleep(0.5)
at_load = threads() - before
av.av_log_set_level(24)
sdl = ctypes.CDLL("libSDL-1.2.so.0")
sdl.SDL_Init(0x20); sdl.SDL_SetVideoMode(64, 48, 32, 0)
lib.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
lib.Movie_HasSound.restype = ctypes.c_bool
movie = lib.Movie_Load_UTF8(sys.argv[2], 64, 48)
sound = lib.Movie_HasSound(movie)
lib.Movie_Play(movie)
time.sleep(0.5)
lib.Movie_Release(movie)
print(json.dumps([at_load, sound, av.av_log_get_level()]))
"""


class NeighbourTest(unittest.TestCase):
    """What the library leaves alone in the game's process (its OpenAL: sound_output_test)."""

    def test_no_thread_at_load_and_the_ffmpeg_log_level_stays_the_games(self):
        with tempfile.TemporaryDirectory(prefix="cinelink-") as folder:
            movie = os.path.join(folder, "colours.mp4")
            make_two_colour_movie(movie)
            result = subprocess.run([sys.executable, "-c", NEIGHBOUR, LIB, movie],
                                    capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(json.loads(result.stdout), [0, True, 24])  # threads, sound, level

    def test_the_library_imports_no_process_wide_switch(self):
        out = subprocess.run(["nm", "-D", "--undefined-only", LIB], capture_output=True,
                             text=True, check=True).stdout
        imported = {line.split()[-1].split("@")[0] for line in out.splitlines()}
        self.assertFalse(imported & {"mallopt", "av_log_set_level", "av_log_set_callback",
                                     "alcMakeContextCurrent"})
        dynamic = subprocess.run(["readelf", "-d", LIB], capture_output=True, text=True,
                                 check=True).stdout
        self.assertIn("NODELETE", dynamic)  # never unmapped under its own threads


class ReadmeExampleTest(unittest.TestCase):
    ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

    def test_readme_python_examples_play_as_written(self):
        with open(os.path.join(self.ROOT, "README.md"), encoding="utf-8") as f:
            blocks = f.read().split("```python\n")[1:]
        self.assertTrue(blocks)
        shipped = tempfile.mkdtemp(prefix="cinelink-sample-")
        self.addCleanup(shutil.rmtree, shipped, True)
        sample = os.path.join(shipped, "sample.mp4")
        for number, block in enumerate(blocks):
            with self.subTest(block=number), \
                    tempfile.TemporaryDirectory(prefix="cinelink-readme-") as game:
                # Laid out as an installed game folder: the library, the kit and
                # the sample movie (made once, as the install makes it).
                shutil.copy(LIB, os.path.join(game, "libcinelink.so"))
                shutil.copy(os.path.join(self.ROOT, "game", "cinelink.py"), game)
                subprocess.run([os.path.join(self.ROOT, "scripts", "make-sample-movie.sh"),
                                sample], check=True)
                shutil.copy(sample, game)
                script = os.path.join(game, "example.py")
                with open(script, "w", encoding="utf-8") as f:
                    f.write(block[:block.index("```")])
                # Started from elsewhere: movies are named in the game folder.
                result = subprocess.run([sys.executable, "-B", script], cwd=os.path.dirname(game),
                                        capture_output=True, text=True, timeout=60)
                self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)


class ExportsTest(unittest.TestCase):
    def test_the_twelve_exports_and_the_six_additions_only(self):
        out = subprocess.run(["nm", "-D", "--defined-only", LIB], capture_output=True,
                             text=True, check=True).stdout
        names = sorted(line.split()[-1] for line in out.splitlines()
                       if line.split()[-2] in ("T", "W", "D", "B", "R", "V", "i", "u"))
        self.assertEqual(names, sorted([
            "Movie_Load", "Movie_Load_UTF8", "Movie_GetSurface", "Movie_SetRepetitive",
            "Movie_CheckVideoStatus", "Movie_Play", "Movie_Pause", "Movie_Stop",
            "Movie_Reset", "Movie_Release", "Movie_SetVolume", "Movie_GetState",
            "Movie_GetDuration", "Movie_GetPosition", "Movie_SetPosition",
            "Movie_GetVideoSize", "Movie_HasSound", "Movie_TryLoad"]))


if __name__ == "__main__":
    unittest.main()
