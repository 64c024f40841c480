"""How movies answer a game's changes of state, through the exports, as a game
calls them (a 60 Hz loop on its own thread).

  idle     four loaded, stopped movies with sound: wake-ups of the process's
           threads (context switches) and CPU over 5 s, beside the game's own.
  stops    60 Movie_Stop on a stopped 4K movie: CPU of the process for them.
  pairs    200 Movie_Pause/Movie_Play pairs at once on a playing movie with
           sound, then 1 s of play: the longest the picture or the position
           stood still, and how far the position went.
  jumps    a looping 2 s movie with sound jumped back while playing, and
           looped: the largest gap between Movie_GetPosition and the time of
           the picture on the surface, over every tick.
  reset    Movie_Reset of a 4K movie: how long each of frames 0 to 6 stays up.

Usage: python3 bench/control_bench.py {idle,stops,pairs,jumps,reset} --lib build-rel/movie/libcinelink.so
Times are wall-clock on this machine; run it on an otherwise idle one.
"""
import argparse
import ctypes
import os
import resource
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from loop_bench import SDLSurface, ffmpeg, open_library  # noqa: E402

W, H = 320, 240
TICK = 1 / 60


def make_counter(path, seconds, size="320x240", fps=25, sound=True):
    """Frame n is grey 5n (up to 51 frames); a 440 Hz tone."""
    args = ["-f", "lavfi", "-i", f"color=c=black:s={size}:r={fps}:d={seconds}"]
    if sound:
        args += ["-f", "lavfi", "-i", f"sine=frequency=440:duration={seconds}:sample_rate=48000"]
    args += ["-vf", "format=rgb24,geq=r='min(N*5,255)':g='min(N*5,255)':b='min(N*5,255)'",
             "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", str(fps)]
    if sound:
        args += ["-c:a", "aac"]
    ffmpeg(*args, "-t", str(seconds), path)


class Exports:
    """The library as a game loads it."""

    def __init__(self, lib):
        self.sdl, c = open_library(lib, W, H)
        c.Movie_GetPosition.restype = ctypes.c_double
        c.Movie_SetPosition.argtypes = [ctypes.c_int, ctypes.c_double]
        c.Movie_SetPosition.restype = ctypes.c_bool
        self.c = c
        self.rgb = [ctypes.c_uint8() for _ in range(3)]

    def load(self, path):
        return self.c.Movie_Load_UTF8(path, W, H)

    def grey(self, movie):
        """The grey level at the centre of the surface, or None before a frame."""
        address = self.c.Movie_GetSurface(movie)
        if not address:
            return None
        s = SDLSurface.from_address(address)
        value = ctypes.c_uint32.from_address(s.pixels + (H // 2) * s.pitch + (W // 2) * 4).value
        self.sdl.SDL_GetRGB(value, s.format, *[ctypes.byref(x) for x in self.rgb])
        return self.rgb[0].value

    def frame(self, movie):
        grey = self.grey(movie)
        return None if grey is None else round(grey / 5)

    def ticks(self, movie, seconds):
        """A 60 Hz game loop for `seconds`: after each tick's status check,
        (seconds since the start, frame on the surface, position)."""
        began = time.monotonic()
        while time.monotonic() - began < seconds:
            now = time.monotonic() - began
            self.c.Movie_CheckVideoStatus(movie)
            yield now, self.frame(movie), self.c.Movie_GetPosition(movie)
            time.sleep(TICK)


def threads_switches():
    """Context switches of every thread of this process but the calling one."""
    me = str(ctypes.CDLL(None).syscall(186))  # gettid
    total = 0
    for tid in os.listdir("/proc/self/task"):
        if tid == me:
            continue
        try:
            with open(f"/proc/self/task/{tid}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total, len(os.listdir("/proc/self/task"))


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def idle(args, game, d):
    path = os.path.join(d, "tone.mp4")
    make_counter(path, 2)
    movies = [game.load(path) for _ in range(4)]
    time.sleep(1.0)  # the cues settle
    switches, threads = threads_switches()
    cpu = cpu_seconds()
    time.sleep(5.0)
    after, _ = threads_switches()
    used = cpu_seconds() - cpu
    print(f"idle: 4 stopped movies with sound, {threads} threads: "
          f"{(after - switches) / 5.0:.1f} wake-ups/s, {used * 1000:.1f} ms CPU in 5 s")
    for movie in movies:
        game.c.Movie_Release(movie)


def stops(args, game, d):
    path = os.path.join(d, "uhd.mp4")
    make_counter(path, 2, size="3840x2160", fps=30, sound=False)
    movie = game.load(path)
    time.sleep(1.0)
    cpu = cpu_seconds()
    began = time.monotonic()
    for _ in range(60):
        assert game.c.Movie_Stop(movie)
        time.sleep(TICK)
    time.sleep(0.5)
    print(f"stops: 60 stops of a stopped 4K movie: "
          f"{(cpu_seconds() - cpu) * 1000:.1f} ms CPU over {time.monotonic() - began:.2f} s")
    game.c.Movie_Release(movie)


def pairs(args, game, d):
    path = os.path.join(d, "tone.mp4")
    make_counter(path, 4)
    movie = game.load(path)
    assert game.c.Movie_Play(movie)
    time.sleep(0.5)
    before = game.c.Movie_GetPosition(movie)
    for _ in range(200):
        game.c.Movie_Pause(movie)
        game.c.Movie_Play(movie)
    last_frame, last_frame_at = game.frame(movie), 0.0
    last_pos, last_pos_at = game.c.Movie_GetPosition(movie), 0.0
    frame_still = pos_still = 0.0
    for now, frame, pos in game.ticks(movie, 1.0):
        if frame != last_frame:
            last_frame, last_frame_at = frame, now
        if pos != last_pos:
            last_pos, last_pos_at = pos, now
        frame_still = max(frame_still, now - last_frame_at)
        pos_still = max(pos_still, now - last_pos_at)
    print(f"pairs: 200 pause/play pairs at {before:.3f} s; then 1 s: picture still at most "
          f"{frame_still * 1000:.0f} ms, position still at most {pos_still * 1000:.0f} ms, "
          f"position {game.c.Movie_GetPosition(movie):.3f} s")
    game.c.Movie_Release(movie)


def jumps(args, game, d):
    path = os.path.join(d, "tone.mp4")
    make_counter(path, 2)
    movie = game.load(path)
    game.c.Movie_SetRepetitive(movie, 1)
    assert game.c.Movie_Play(movie)
    jumps_at = [1.2, 2.7, 4.1]  # wall times of the jumps back to 0.2 s
    worst = 0.0
    worst_at = None
    for now, frame, pos in game.ticks(movie, 6.5):
        if jumps_at and now >= jumps_at[0]:
            jumps_at.pop(0)
            game.c.Movie_SetPosition(movie, 0.2)
            frame, pos = game.frame(movie), game.c.Movie_GetPosition(movie)  # at once
        if frame is not None and now > 0.3:
            off = abs(pos - frame * 0.04)
            if off > worst:
                worst, worst_at = off, now
    print(f"jumps: position against the picture on show, 3 jumps back while playing and "
          f"3 loops: at most {worst * 1000:.0f} ms off (at {worst_at or 0:.2f} s)")
    game.c.Movie_Release(movie)


def reset(args, game, d):
    path = os.path.join(d, "uhd.mp4")
    make_counter(path, 2, size="3840x2160", fps=30, sound=True)
    movie = game.load(path)
    assert game.c.Movie_Play(movie)
    time.sleep(1.0)
    for _ in range(3):
        assert game.c.Movie_Reset(movie)
        began = time.monotonic()
        shown = []
        last = None
        while time.monotonic() - began < 0.5:
            frame = game.frame(movie)
            if frame != last:
                shown.append((frame, time.monotonic()))
                last = frame
            time.sleep(0.001)
        first = next(i for i, (f, _) in enumerate(shown) if f == 0)
        stays = [(b - a) * 1000 for (_, a), (_, b) in zip(shown[first:], shown[first + 1:])][:7]
        print("reset: frames 0.. stay " + ", ".join(f"{s:.0f}" for s in stays) + " ms")
        time.sleep(0.5)
    game.c.Movie_Release(movie)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("what", choices=["idle", "stops", "pairs", "jumps", "reset"])
    parser.add_argument("--lib", required=True, help="path of libcinelink.so")
    args = parser.parse_args()
    game = Exports(args.lib)
    with tempfile.TemporaryDirectory() as d:
        {"idle": idle, "stops": stops, "pairs": pairs, "jumps": jumps,
         "reset": reset}[args.what](args, game, d)


if __name__ == "__main__":
    sys.exit(main())
