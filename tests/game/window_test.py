"""The staged demo (argv[1]) in a real X window under Xvfb; exits 77 (skip) without Xvfb."""
import os, shutil, struct, subprocess, sys, time, unittest

STAGE = os.path.realpath(sys.argv.pop(1)) if __name__ == "__main__" else None
WIDTH, HEIGHT = 800, 600
BAR = (HEIGHT - WIDTH * 360 // 640) // 2  # the 640x360 sample letterboxed: 75 rows


def pixels(xwd, only=None):
    """Rows (or row `only`) of (r, g, b) from an xwd dump of a 32-bit ZPixmap."""
    f = struct.unpack(">25I", xwd[:100])
    start, order, line, masks = f[0] + f[19] * 12, "<>"[f[7]], f[12], f[15:18]
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    return [[tuple((v & m) >> s for m, s in zip(masks, shifts))
             for v in struct.unpack_from("%s%dI" % (order, f[4]), xwd, start + y * line)]
            for y in (range(f[5]) if only is None else [only])]


class WindowTest(unittest.TestCase):
    def test_demo_shows_the_letterboxed_movie_and_escape_skips_it(self):
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"],
                                pass_fds=(write,), stderr=subprocess.DEVNULL)
        self.addCleanup(xvfb.wait)
        self.addCleanup(xvfb.terminate)
        os.close(write)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("SDL_", "PYTHON"))}
        with os.fdopen(read) as display:
            env.update(DISPLAY=":" + display.readline().strip(), PYTHONDONTWRITEBYTECODE="1")
        game = subprocess.Popen([os.path.join(STAGE, "kestrel")], env=env, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(game.kill)

        def x(*args):
            return subprocess.run(args, env=env, capture_output=True, check=True).stdout
        window = x("xdotool", "search", "--sync", "--name", "^kestrel$").split()[0]
        for _ in range(200):  # until the picture is up (the movie lasts 4 s)
            shot = x("xwd", "-silent", "-id", window)
            if any(map(any, pixels(shot, HEIGHT // 2)[0])):
                break
            time.sleep(0.05)
        x("xdotool", "windowfocus", "--sync", window, "key", "Escape")
        out, err = game.communicate(timeout=60)
        rows = pixels(shot)
        self.assertIn("skipped", out.splitlines(), err)
        self.assertEqual((len(rows[0]), len(rows)), (WIDTH, HEIGHT))
        self.assertEqual({p for row in rows[:BAR] + rows[HEIGHT - BAR:] for p in row}, {(0, 0, 0)})
        for row in rows[BAR], rows[HEIGHT // 2], rows[HEIGHT - BAR - 1]:  # picture edge to edge
            self.assertGreater(sum(max(p) > 40 for p in row), WIDTH // 2)


if __name__ == "__main__":
    if shutil.which("Xvfb") is None:
        sys.exit(77)
    unittest.main()
