"""cinelink.py driven through the real library (CINELINK_LIB)."""
import ctypes, gc, os, pathlib, subprocess, sys, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path[:0] = [os.path.join(HERE, "..", "..", "game"), os.path.join(HERE, "..", "movie")]
import cinelink  # noqa: E402
from test_cinelink import (  # noqa: E402
    Library, ffmpeg, is_blue, is_red, make_two_colour_movie, run_child, wait_for)

LIB = os.path.abspath(os.environ["CINELINK_LIB"])
State = cinelink.State


class KitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="kit-")
        cls.movie = os.path.join(cls.dir.name, "片头.mp4")
        make_two_colour_movie(cls.movie)
        cls.sdl = cinelink.load_library(LIB).sdl
        cls.sdl.SDL_PushEvent.argtypes = [ctypes.POINTER(cinelink.Event)]
        cls.lib = Library()  # a 320x240 screen and a pixel reader
        cls.screen = cls.lib.screen

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def rgb(self, surface, x, y):
        return self.lib.pixel(surface, x, y)[1]

    def test_what_is_no_movie_file_raises_instead_of_ending_the_process(self):
        d = self.dir.name
        os.mkfifo(os.path.join(d, "fifo"))
        open(os.path.join(d, "empty.mp4"), "wb").close()
        for path, size, error in (
                ("missing.mp4", 64, FileNotFoundError), (self.movie + "/a", 64, FileNotFoundError),
                (".", 64, IsADirectoryError), ("fifo", 64, ValueError), ("empty.mp4", 64, ValueError),
                ("", 64, ValueError), (self.movie + "\0", 64, ValueError), (self.movie, 0, ValueError),
                (self.movie, 16384, ValueError), (self.movie, (16383, 32771), ValueError)):
            width, height = size if isinstance(size, tuple) else (size, 48)
            with self.subTest(path=path, size=size), self.assertRaises(error):
                cinelink.Movie(os.path.join(d, path) if path else path, width, height)

    def test_a_load_that_may_fail_raises_the_reports_error(self):
        d = tempfile.mkdtemp(dir=self.dir.name)
        with open(self.movie, "rb") as f:
            whole = f.read()
        for name, content in (("half.mp4", whole[:len(whole) // 2]), ("notes.mp4", b"notes\n" * 99)):
            with open(os.path.join(d, name), "wb") as f:
                f.write(content)
        ffmpeg("-i", self.movie, "-vn", "-c:a", "copy", os.path.join(d, "sound.m4a"))
        for name in ("half.mp4", "notes.mp4", "sound.m4a"):
            path = os.path.join(d, name)
            with self.subTest(name), self.assertRaises(cinelink.LoadError) as raised:
                cinelink.Movie(path, 64, 48, fatal=False)
            report = run_child("wide", path)
            self.assertEqual(raised.exception.code & 0xFF, report.returncode)
            self.assertEqual("Error: %s\n" % raised.exception, report.stderr)
        with cinelink.Movie(self.movie, 64, 48, fatal=False) as movie:
            self.assertIs(movie.state, State.STOPPED)

    def test_a_bytes_path_under_a_plain_c_locale_and_the_log_under_dev_mode(self):
        script = (
            "import os, sys, cinelink as c\n"
            "c.load_library(sys.argv[1])\n"
            "c.log_errors(os.path.join(sys.argv[3], 'log.txt'))\n"
            "c.open_screen(64, 48)\n"
            "print(sys.getfilesystemencoding(), c.Movie(os.fsencode(sys.argv[2]), 8, 8).release())\n")
        env = dict(os.environ, LC_ALL="C", PYTHONUTF8="0", PYTHONCOERCECLOCALE="0")
        result = subprocess.run(
            [sys.executable, "-X", "dev", "-B", "-c", script, LIB, self.movie, self.dir.name],
            capture_output=True, text=True, env=env, cwd=os.path.join(HERE, "..", "..", "game"))
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "ascii True\n", ""))

    def test_movies_at_once_through_their_life(self):
        movies = [cinelink.Movie(p, 64, 48) for p in (
            self.movie, os.fsencode(self.movie), pathlib.Path(self.movie))]
        self.assertEqual(len({m.handle for m in movies}), 3)
        with movies[0] as movie:
            self.assertIs(movie.state, State.STOPPED)
            self.assertTrue(movie.play())
            self.assertIs(movie.state, State.PLAYING)
            movie.pause()
            self.assertIs(movie.state, State.PAUSED)
            self.assertTrue(movie.play())
            self.assertTrue(wait_for(lambda: movie.update() == State.STOPPED))
        self.assertIs(movie.state, State.INVALID)
        self.assertEqual((movie.surface, movie.release()), (None, False))
        self.assertRaises(ValueError, movie.play)
        for m in movies[1:]:
            self.assertIs(m.state, State.STOPPED)
            self.assertTrue(m.release())

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
        for gain, volume in ((1.0, 100), (2.0, 100), (0.5, 94), (0.1, 80), (1e-9, 0), (0, 0)):
            self.assertEqual(cinelink.volume_from_gain(gain), volume, gain)

    def test_where_the_movie_stands_and_jumps_shown_when_stopped_or_paused(self):
        with cinelink.Movie(self.movie, 64, 48) as movie:
            self.assertEqual((movie.size, movie.has_sound), ((160, 120), True))
            self.assertAlmostEqual(movie.duration, 0.64, delta=0.02)  # 16 frames at 25 fps
            for state in (State.STOPPED, State.PAUSED):
                if state is State.PAUSED:
                    movie.play()
                    movie.pause()
                for seconds, colour in ((0.45, is_blue), (0.1, is_red), (-1, is_red)):
                    movie.position = seconds
                    self.assertTrue(wait_for(lambda: movie.update() == state
                                             and colour(self.rgb(movie.surface, 32, 24))),
                                    (state, seconds))
                    self.assertAlmostEqual(movie.position, max(0, seconds), delta=0.001)
        self.assertRaises(ValueError, lambda: movie.duration)

    def test_blit_centred_or_placed_and_skip_on_a_key_a_click_or_close(self):
        with cinelink.Movie(self.movie, 100, 75) as movie:
            self.assertTrue(movie.play())
            self.assertTrue(wait_for(lambda: is_red(self.rgb(movie.surface, 50, 37))))
            for where, inside, outside in (((), (111, 84), (109, 81)),
                                           ((200, 10), (201, 11), (199, 11))):
                cinelink.clear(self.screen, 0x123456)
                self.assertTrue(movie.blit(self.screen, *where))
                self.assertTrue(is_red(self.rgb(self.screen, *inside)), where)
                self.assertEqual(self.rgb(self.screen, *outside), (0x12, 0x34, 0x56), where)
        Request = cinelink.Request
        for events, request in (([], Request.NONE), ([(2, 304), (2, 308)], Request.NONE),
                                ([(2, 32)], Request.SKIP), ([(2, 304), (2, 27)], Request.SKIP),
                                ([(5, 0)], Request.SKIP), ([(12, 0)], Request.QUIT),
                                ([(12, 0), (2, 27)], Request.QUIT)):
            # key down (Shift, Alt, space, Escape), a mouse button, quit
            for kind, sym in events:
                event = cinelink.Event(type=kind)
                event.key.keysym.sym = sym
                self.sdl.SDL_PushEvent(event)
            found = cinelink.skip_requested()
            self.assertIs(found, request, events)
            self.assertEqual(bool(found), request != Request.NONE)  # as the old True or False

    def test_a_movie_dropped_unreleased_is_released_with_a_warning(self):
        movie = cinelink.Movie(self.movie, 64, 48)
        self.assertTrue(movie.play())
        handle = movie.handle
        with self.assertWarnsRegex(ResourceWarning, "movie %d .* never released" % handle):
            del movie
            gc.collect()
        self.assertEqual(self.lib.c.Movie_GetState(handle), State.INVALID)

    def test_no_video_mode_raises(self):
        script = "import cinelink as c, sys; c.load_library(sys.argv[1]); c.Movie(sys.argv[2], 8, 8)"
        result = subprocess.run([sys.executable, "-B", "-c", script, LIB, self.movie], text=True,
                                cwd=os.path.join(HERE, "..", "..", "game"), capture_output=True)
        self.assertIn("RuntimeError: set a 32-bit SDL video mode", result.stderr)

    def test_error_log_gets_what_stderr_gets_the_librarys_own_report_too(self):
        script = (
            "import ctypes, sys, cinelink as c\n"
            "c.load_library(sys.argv[1])\n"
            "print(c.log_errors(sys.argv[2]), file=sys.stderr)  # a folder: stderr alone\n"
            "for _ in range(2):  # again: the file anew, the same console\n"
            "    c.log_errors(sys.argv[3])\n"
            "    print('Traceback: 出错', file=sys.stderr)\n"
            "ctypes.CDLL(None).write(2, b'from C\\n', 7)\n"
            "c.library().movie.Movie_Load_UTF8('intro.mp4', 8, 8)  # no video mode: the end\n")
        path = os.path.join(self.dir.name, cinelink.ERROR_LOG_NAME)
        result = subprocess.run(
            [sys.executable, "-B", "-c", script, LIB, self.dir.name, path], capture_output=True,
            cwd=os.path.join(HERE, "..", "..", "game"), env=dict(os.environ, PYTHONIOENCODING="utf-8"))
        report = "Error: Movie_Load failed with error 21: The device is not ready."
        self.assertEqual(result.returncode, 21, result.stderr)
        console = result.stderr.decode()
        self.assertTrue(console.startswith("None\n" + "Traceback: 出错\n" * 2 + "from C\n" + report),
                        console)
        logged = pathlib.Path(path).read_text(encoding="utf-8")
        self.assertTrue(logged.startswith("Traceback: 出错\nfrom C\n" + report), logged)

if __name__ == "__main__":
    unittest.main()
