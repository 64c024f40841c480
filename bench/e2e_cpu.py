"""End-to-end CPU cost of playing a movie through libcinelink.so, as a game does.

Plays a 20 s 1920x1080 30 fps H.264+AAC movie through the exports (ctypes, a
60 Hz game loop, a 1920x1080 32-bit SDL surface) and prints the CPU seconds
(user + system) of that process beside ffplay's and plain decoding's
(`ffmpeg -f null`) on the same file, each measured in the same run, medians
over the rounds. SDL and OpenAL run on their dummy/null drivers.

The library's job ends at the surface, as ffplay's ends at its window: the
game does not blit the surface to its screen unless asked (--blit), which
costs a copy of the whole screen every tick.

Dropped frames are counted from the picture: every frame carries its number
in a strip of black and white blocks along its top edge; the game loop reads
the strip each tick, and a frame never seen was dropped (or shown for less
than a tick).

    python3 bench/e2e_cpu.py [--build-dir build-rel] [--rounds 3] [--blit]

The movie is made once with the ffmpeg command and kept in the build tree.
"""
import argparse
import ctypes
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT, FPS, SECONDS = 1920, 1080, 30, 20
FRAMES = FPS * SECONDS
# The frame number's strip: 15 bits in 120-pixel blocks, least significant
# first, and a last block that is always white, so a blank surface reads as
# no frame at all.
BLOCK, BITS, STRIP = 120, 15, 60
STOPPED = 1


def make_movie(path):
    stamp = (f"color=c=black:s={WIDTH}x{STRIP}:r={FPS}:d={SECONDS},format=gray,"
             f"geq=lum='if(gte(X\\,{BLOCK * BITS})\\,255\\,"
             f"if(bitand(N\\,pow(2\\,floor(X/{BLOCK})))\\,255\\,0))'[stamp]")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    partial = path + ".part.mp4"
    subprocess.run(
        ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
         "-f", "lavfi", "-i", f"testsrc2=s={WIDTH}x{HEIGHT}:r={FPS}:d={SECONDS}",
         "-f", "lavfi", "-i", f"sine=f=440:d={SECONDS}:sample_rate=48000",
         "-filter_complex", f"{stamp};[0:v][stamp]overlay=0:0:shortest=1,format=yuv420p[v]",
         "-map", "[v]", "-map", "1:a", "-c:v", "libx264", "-c:a", "aac", "-ac", "2",
         partial], check=True)
    os.replace(partial, path)


class Surface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("pitch", ctypes.c_uint16),
                ("pixels", ctypes.c_void_p)]


def play(library, movie, blit):
    """The game: returns the numbers of the frames it never saw."""
    sdl = ctypes.CDLL("libSDL-1.2.so.0")
    sdl.SDL_SetVideoMode.restype = ctypes.c_void_p
    sdl.SDL_UpperBlit.argtypes = [ctypes.c_void_p] * 4
    sdl.SDL_Flip.argtypes = [ctypes.c_void_p]
    sdl.SDL_GetRGB.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + [
        ctypes.POINTER(ctypes.c_uint8)] * 3
    cine = ctypes.CDLL(library)
    cine.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
    cine.Movie_GetSurface.restype = ctypes.c_void_p
    if sdl.SDL_Init(0x20) != 0:
        raise SystemExit("SDL_Init failed")
    screen = sdl.SDL_SetVideoMode(WIDTH, HEIGHT, 32, 0)
    handle = cine.Movie_Load_UTF8(movie, WIDTH, HEIGHT)
    r, g, b = ctypes.c_uint8(), ctypes.c_uint8(), ctypes.c_uint8()

    def frame_number(address):
        surface = Surface.from_address(address)
        row = surface.pixels + (STRIP // 2) * surface.pitch
        number = 0
        for bit in range(BITS + 1):
            value = ctypes.c_uint32.from_address(row + (bit * BLOCK + BLOCK // 2) * 4).value
            sdl.SDL_GetRGB(value, surface.format, ctypes.byref(r), ctypes.byref(g),
                           ctypes.byref(b))
            if g.value > 128:
                number |= 1 << bit
        return number - (1 << BITS) if number >> BITS else None

    seen = set()

    def look():
        surface = cine.Movie_GetSurface(handle)
        if surface:
            number = frame_number(surface)
            if number is not None:
                seen.add(number)
        return surface

    cine.Movie_Play(handle)
    tick = 1.0 / 60
    due = time.monotonic()
    while True:
        cine.Movie_CheckVideoStatus(handle)
        if cine.Movie_GetState(handle) == STOPPED:
            break
        surface = look()
        if surface and blit:
            sdl.SDL_UpperBlit(surface, None, screen, None)
        sdl.SDL_Flip(screen)
        due += tick
        time.sleep(max(0.0, due - time.monotonic()))
    look()  # the end leaves the last frame on the surface
    cine.Movie_Release(handle)
    return sorted(set(range(FRAMES)) - seen)


def measure(command, env):
    """CPU seconds (user + system) of the command, its stdout and wall seconds."""
    start = time.monotonic()
    with tempfile.TemporaryFile() as err:
        child = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=err)
        out = child.stdout.read()
        # wait4, not wait: the child's own resource usage comes with it.
        _, status, usage = os.wait4(child.pid, 0)
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            err.seek(0)
            raise SystemExit(f"{command[0]} failed ({code}): {err.read().decode()[-2000:]}")
    return usage.ru_utime + usage.ru_stime, out, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build-rel")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--blit", action="store_true",
                        help="also blit the movie's surface to the screen each tick")
    parser.add_argument("--play", nargs=2, metavar=("LIBRARY", "MOVIE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.play:
        print(json.dumps({"missing": play(*args.play, blit=args.blit)}))
        return

    library = os.path.abspath(os.path.join(args.build_dir, "movie", "libcinelink.so"))
    movie = os.path.abspath(os.path.join(args.build_dir, "bench", "e2e", "movie-1080p30.mp4"))
    if not os.path.exists(library):
        raise SystemExit(f"no {library}: build the cinelink target first")
    if not os.path.exists(movie):
        print(f"making {movie} ...", flush=True)
        make_movie(movie)
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy",
               ALSOFT_DRIVERS="null", CINELINK_NO_DIALOG="1")
    game = [sys.executable, os.path.abspath(__file__), "--play", library, movie]
    if args.blit:
        game.append("--blit")
    commands = {
        "cinelink": game,
        "ffplay": ["ffplay", "-hide_banner", "-loglevel", "error", "-autoexit",
                   "-x", str(WIDTH), "-y", str(HEIGHT), movie],
        "ffmpeg -f null": ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                           "-i", movie, "-f", "null", "-"],
    }
    cpu = {name: [] for name in commands}
    dropped = []
    for round_number in range(args.rounds):
        for name, command in commands.items():
            seconds, out, wall = measure(command, env)
            cpu[name].append(seconds)
            line = f"round {round_number + 1}: {name:15} {seconds:6.2f} s CPU {wall:6.2f} s wall"
            if name == "cinelink":
                missing = json.loads(out)["missing"]
                dropped.append(len(missing))
                line += f"  {len(missing)} of {FRAMES} frames not seen {missing[:8]}"
            print(line, flush=True)
    median = {name: statistics.median(values) for name, values in cpu.items()}
    print(f"\nmedian CPU seconds over {args.rounds} rounds "
          f"({'game blits each tick' if args.blit else 'no blit by the game'}):")
    for name, value in median.items():
        print(f"  {name:15} {value:6.2f}")
    print(f"  cinelink / ffplay          {median['cinelink'] / median['ffplay']:.2f}x")
    print(f"  cinelink / ffmpeg -f null  {median['cinelink'] / median['ffmpeg -f null']:.2f}x")
    print(f"  frames not seen: median {statistics.median(dropped)} of {FRAMES} "
          f"(per round {dropped})")


if __name__ == "__main__":
    main()
