"""cinelink.py, the game's Python kit, driven through the real library.

Run by ctest with CINELINK_LIB set to the built library.
"""
import ctypes
import io
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path[:0] = [os.path.join(HERE, "..", "..", "game"), os.path.join(HERE, "..", "movie")]
import cinelink  # noqa: E402
from test_cinelink import is_blue, is_red, make_two_colour_movie, wait_for  # noqa: E402

LIB = os.path.abspath(os.environ["CINELINK_LIB"])
State = cinelink.State


def push_event(sdl, kind, sym=0):
    event = cinelink.Event()
    event.type = kind
    event.key.keysym.sym = sym
    sdl.SDL_PushEvent(ctypes.byref(event))


class KitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="kit-")
        cls.movie = os.path.join(cls.dir.name, "片头.mp4")
        make_two_colour_movie(cls.movie)
        cls.sdl = cinelink.load_library(LIB).sdl
        cls.sdl.SDL_PushEvent.argtypes = [ctypes.POINTER(cinelink.Event)]
        cls.sdl.SDL_GetRGB.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + [
            ctypes.POINTER(ctypes.c_uint8)] * 3
        cls.screen = cinelink.open_screen(320, 240)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def rgb(self, surface, x, y):
        s = cinelink.Surface.from_address(surface)
        value = ctypes.c_uint32.from_address(s.pixels + y * s.pitch + x * 4).value
        r, g, b = ctypes.c_uint8(), ctypes.c_uint8(), ctypes.c_uint8()
        self.sdl.SDL_GetRGB(value, ctypes.cast(s.format, ctypes.c_void_p), r, g, b)
        return r.value, g.value, b.value

    def test_what_is_no_movie_file_raises_instead_of_ending_the_process(self):
        d = self.dir.name
        fifo, empty = os.path.join(d, "fifo"), os.path.join(d, "empty.mp4")
        os.mkfifo(fifo)
        open(empty, "wb").close()
        cases = [
            (os.path.join(d, "missing.mp4"), FileNotFoundError),
            (os.path.join(self.movie, "child.mp4"), FileNotFoundError),
            (d, IsADirectoryError),
            (fifo, ValueError),
            (empty, ValueError),
            ("", ValueError),
            (self.movie + "\0.mp4", ValueError),
        ]
        if os.geteuid() != 0:  # root reads anything
            locked = os.path.join(d, "locked.mp4")
            with open(locked, "wb") as f:
                f.write(b"x")
            os.chmod(locked, 0)
            cases.append((locked, PermissionError))
        for path, error in cases:
            with self.subTest(path=path), self.assertRaises(error):
                cinelink.Movie(path, 64, 48)
        for size in ((0, 48), (64, -1), (70000, 48)):
            with self.subTest(size=size), self.assertRaises(ValueError):
                cinelink.Movie(self.movie, *size)

    def test_several_movies_from_str_bytes_and_pathlike(self):
        import pathlib
        paths = (self.movie, os.fsencode(self.movie), pathlib.Path(self.movie))
        movies = [cinelink.Movie(p, 64, 48) for p in paths]
        self.assertEqual(len({m.handle for m in movies}), 3)
        for m in movies:
            self.assertIs(m.state, State.STOPPED)
            self.assertTrue(m.release())
            self.assertIs(m.state, State.INVALID)

    def test_states_end_and_context_manager(self):
        with cinelink.Movie(self.movie, 64, 48) as movie:
            self.assertTrue(movie.play())
            self.assertIs(movie.state, State.PLAYING)
            movie.pause()
            self.assertIs(movie.state, State.PAUSED)
            self.assertTrue(movie.play())
            self.assertTrue(wait_for(lambda: movie.update() == State.STOPPED))
        self.assertTrue(movie.released)
        self.assertIsNone(movie.surface)
        self.assertFalse(movie.release())
        for call in (movie.play, movie.pause, movie.stop, movie.reset, movie.update):
            with self.subTest(call=call.__name__), self.assertRaises(ValueError):
                call()

    def test_volume_and_repetitive(self):
        with cinelink.Movie(self.movie, 64, 48) as movie:
            for value, kept in ((150, 100), (-5, 0), (94, 94)):
                movie.volume = value
                self.assertEqual(movie.volume, kept)
            movie.repetitive = True
            self.assertTrue(movie.play())
            self.assertTrue(wait_for(lambda: is_blue(self.rgb(movie.surface, 32, 24))))
            self.assertTrue(wait_for(lambda: movie.update() == State.PLAYING
                                     and is_red(self.rgb(movie.surface, 32, 24))))
        for gain, volume in ((1.0, 100), (2.0, 100), (0.5, 94), (0.1, 80), (1e-9, 0),
                             (0.0, 0), (-1.0, 0)):
            self.assertEqual(cinelink.volume_from_gain(gain), volume, gain)

    def test_blit_centred_and_at_a_position(self):
        marker = (0x12, 0x34, 0x56)
        with cinelink.Movie(self.movie, 100, 75) as movie:
            self.assertTrue(movie.play())
            self.assertTrue(wait_for(lambda: is_red(self.rgb(movie.surface, 50, 37))))
            for where, inside, outside in (((), (111, 84), (109, 81)),
                                           ((200, 10), (201, 11), (199, 11))):
                cinelink.clear(self.screen, 0x123456)
                self.assertTrue(movie.blit(self.screen, *where))
                self.assertTrue(is_red(self.rgb(self.screen, *inside)), where)
                self.assertEqual(self.rgb(self.screen, *outside), marker, where)

    def test_skip_on_escape_or_close_only(self):
        for events, skip in (([], False), ([(cinelink.SDL_KEYDOWN, 32)], False),
                             ([(cinelink.SDL_KEYDOWN, 32), (cinelink.SDL_KEYDOWN, 27)], True),
                             ([(cinelink.SDL_QUIT, 0)], True)):
            for event in events:
                push_event(self.sdl, *event)
            self.assertEqual(cinelink.skip_requested(), skip, events)

    def test_no_video_mode_raises(self):
        script = "import cinelink, sys; cinelink.load_library(sys.argv[1]); " \
                 "cinelink.Movie(sys.argv[2], 64, 48)"
        result = subprocess.run([sys.executable, "-B", "-c", script, LIB, self.movie],
                                cwd=os.path.join(HERE, "..", "..", "game"),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("RuntimeError: set a 32-bit SDL video mode", result.stderr)

    def test_error_log_gets_what_stderr_gets(self):
        console, saved = io.StringIO(), sys.stderr
        path = os.path.join(self.dir.name, cinelink.ERROR_LOG_NAME)
        try:
            sys.stderr = console
            self.assertIsNone(cinelink.log_errors(self.dir.name))  # a folder: not writable
            self.assertIs(sys.stderr, console)
            for _ in range(2):  # a second call replaces the file, not the console
                self.assertEqual(cinelink.log_errors(path), path)
                print("Traceback: 出错", file=sys.stderr)
        finally:
            sys.stderr.close()
            sys.stderr = saved
        self.assertEqual(console.getvalue(), "Traceback: 出错\n" * 2)
        with open(path, encoding="utf-8") as f:
            self.assertEqual(f.read(), "Traceback: 出错\n")


if __name__ == "__main__":
    unittest.main()
