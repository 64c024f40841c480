"""Plays the staged demo in a real X window under Xvfb, as a player would see it.

    window_test.py STAGE_DIR [unittest arguments...]

Exits with 77 (skipped) where Xvfb is not installed. Leaves the screenshot as
window.png in the working directory.
"""
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zlib

STAGE = None
WIDTH, HEIGHT = 800, 600     # the demo's window
BAR = (HEIGHT - WIDTH * 360 // 640) // 2  # the 640x360 movie letterboxed: 75 rows each


def read_xwd(data):
    """(width, height, rows of (r, g, b)) from a 24/32-bit ZPixmap xwd dump."""
    fields = struct.unpack(">25I", data[:100])
    header, width, height = fields[0], fields[4], fields[5]
    byte_order, bits, line = fields[7], fields[11], fields[12]
    masks, colours = fields[15:18], fields[19]
    if bits != 32:
        raise ValueError("xwd with %d bits per pixel" % bits)
    start = header + colours * 12
    order = "<" if byte_order == 0 else ">"
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        values = struct.unpack_from("%s%dI" % (order, width), data, start + y * line)
        rows.append([tuple((v & m) >> s for m, s in zip(masks, shifts)) for v in values])
    return width, height, rows


def write_png(path, rows):
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(
            ">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


class WindowTest(unittest.TestCase):
    def setUp(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp",
                                      "-screen", "0", "1024x768x24"], pass_fds=(write,),
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        self.addCleanup(self.xvfb.wait)
        self.addCleanup(self.xvfb.terminate)

    def x(self, *args):
        return subprocess.run(args, env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, check=True, timeout=30).stdout

    def test_demo_shows_the_letterboxed_movie_and_escape_skips_it(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("SDL_VIDEODRIVER", "SDL_AUDIODRIVER") and not k.startswith("PYTHON")}
        env.update(DISPLAY=self.display, PYTHONDONTWRITEBYTECODE="1")
        game = subprocess.Popen([os.path.join(STAGE, "kestrel")], cwd=STAGE, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(game.kill)
        window = self.x("xdotool", "search", "--sync", "--name", "^kestrel$").split()[0]
        # The movie lasts 4 s: wait for its picture, then look and skip.
        for _ in range(100):
            width, height, rows = read_xwd(self.x("xwd", "-silent", "-id", window))
            if sum(map(sum, rows[HEIGHT // 2][WIDTH // 4:WIDTH * 3 // 4])) > 0:
                break
            time.sleep(0.05)
        self.x("xdotool", "windowfocus", "--sync", window, "key", "Escape")
        out, err = game.communicate(timeout=60)
        write_png("window.png", rows)

        self.assertEqual((width, height), (WIDTH, HEIGHT))
        self.assertEqual(game.returncode, 0, err)
        self.assertIn("skipped", out.splitlines(), err)
        bars = rows[:BAR] + rows[HEIGHT - BAR:]
        self.assertEqual({pixel for row in bars for pixel in row}, {(0, 0, 0)})
        picture = [pixel for row in rows[BAR:HEIGHT - BAR] for pixel in row]
        lit = sum(1 for pixel in picture if max(pixel) > 40)
        self.assertGreater(lit, len(picture) * 3 // 4, "the picture area is mostly dark")
        for edge in (rows[BAR], rows[HEIGHT - BAR - 1]):  # the picture fills up to the bars
            self.assertGreater(sum(1 for pixel in edge if max(pixel) > 40), WIDTH // 2)


if __name__ == "__main__":
    if shutil.which("Xvfb") is None:
        print("Xvfb is not installed: skipped")
        sys.exit(77)
    STAGE = os.path.realpath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
