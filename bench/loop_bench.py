"""Looping a movie through the twelve exports, as a game does: a game loop that
calls Movie_CheckVideoStatus once per tick and reads the movie's surface.

  wraps  100 wraps of a 1 s, 30 fps movie whose frames each have their own grey
         level (--sound adds a tone): frames lost, how long the last and the
         first frame stay on the surface, the loop period.
  gaps   10 wraps of a 1 s movie with a steady tone, played into OpenAL's wave
         driver: the longest silence in the sound at the wraps.
  sync   a 1 s movie with a white first frame and a beep at the same moment,
         looped for 62 s into the wave driver: offset of the beep against the
         flash on the surface at the start, after 10 wraps and after 60 s. The
         wave driver writes what it mixes at once; a real device plays it the
         output latency OpenAL reports later, and the graph times its sound by
         that figure: the offset is of the beep as it would be heard.

  wraps --spin: how soon after the status check that wraps the first frame is
         on the surface.
  seam   a 2 s 500 Hz tone of whole cycles (--codec pcm, aac, mkv-pcm, mkv-vorbis,
         webm-opus, ogg-vorbis, avi-pcm) looped 4 times
         into the wave driver: sample jumps and silences over 1 ms.

  --shape (wraps, sync): the sound against the picture. same: as long as the
         picture; short: 40 ms shorter; long: 200 ms longer; late: a 1.5 s
         movie whose sound starts at 0.5 s (and lasts to its end); silent.

Usage: python3 bench/loop_bench.py {wraps,gaps,sync,seam} --lib build-rel/movie/libcinelink.so
Times are wall-clock on this machine; run it on an otherwise idle one.
"""
import argparse
import ctypes
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

W, H = 160, 120
FPS = 30
FRAME_MS = 1000.0 / FPS
BEEP_S = 0.05


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", *args], check=True)


# Picture length, sound start and sound length (s) of each shape.
SHAPES = {"same": (1.0, 0.0, 1.0), "short": (1.0, 0.0, 0.96), "long": (1.0, 0.0, 1.2),
          "late": (1.5, 0.5, 1.0), "silent": (1.0, 0.0, 0.0)}


def shape_frames(shape):
    return round(SHAPES[shape][0] * FPS)


def grey_step(shape):
    return 240 // shape_frames(shape)


def make_shape_movie(path, shape, picture, sound):
    """A 30 fps movie of the shape's lengths: `picture` a geq expression of N,
    `sound` an aevalsrc expression of t from the sound's start (48 kHz AAC)."""
    seconds, offset, heard = SHAPES[shape]
    args = ["-f", "lavfi", "-i", f"color=c=black:s={W}x{H}:r={FPS}:d={seconds}"]
    if heard > 0:
        if offset > 0:
            args += ["-itsoffset", str(offset)]
        args += ["-f", "lavfi", "-i", f"aevalsrc='{sound}':s=48000:d={heard}"]
    args += ["-vf", f"format=rgb24,geq=r='{picture}':g='{picture}':b='{picture}'",
             "-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", str(FPS)]
    if heard > 0:
        args += ["-c:a", "aac", "-b:a", "128k"]
    ffmpeg(*args, path)


def make_counter_movie(path, shape):
    """Frame n is grey n times the shape's step; the sound a 440 Hz tone."""
    make_shape_movie(path, shape, f"N*{grey_step(shape)}", "0.5*sin(2*PI*440*t)")


def length_ms(path):
    """The movie's length as its container gives it (the longer stream)."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                          "-of", "csv=p=0", path], check=True, capture_output=True, text=True)
    return float(out.stdout.strip()) * 1000


def make_tone_movie(path):
    """1 s of black with a steady 440 Hz tone, the sound in PCM (exactly 1 s)."""
    ffmpeg("-f", "lavfi", "-i", f"color=c=black:s={W}x{H}:r={FPS}:d=1",
           "-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=48000",
           "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-t", "1", path)


def make_flash_movie(path, shape="same"):
    """The frame at the sound's start white, the rest black; a 1 kHz beep over
    the first 50 ms of the sound. The same shape in PCM: exactly 1 s."""
    if shape != "same":
        first = round(SHAPES[shape][1] * FPS)
        make_shape_movie(path, shape, f"if(eq(N,{first}),255,0)",
                         f"if(lt(t,{BEEP_S}),0.5*sin(2*PI*1000*t),0)")
        return
    ffmpeg("-f", "lavfi", "-i", f"color=c=black:s={W}x{H}:r={FPS}:d=1",
           "-f", "lavfi", "-i",
           f"aevalsrc='if(lt(t,{BEEP_S}),0.5*sin(2*PI*1000*t),0)':s=48000:d=1",
           "-vf", "format=rgb24,geq=r='if(eq(N,0),255,0)':g='if(eq(N,0),255,0)'"
                  ":b='if(eq(N,0),255,0)'",
           "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-t", "1", path)


# --codec: the file's name (its container), its picture and its sound.
SEAM_MOVIES = {
    "pcm": ("seam.mov", "libx264", ["-c:a", "pcm_s16le"]),
    "aac": ("seam.mp4", "libx264", ["-c:a", "aac", "-b:a", "192k"]),
    "mkv-pcm": ("seam.mkv", "libx264", ["-c:a", "pcm_s16le"]),
    "mkv-vorbis": ("seam.mkv", "libx264", ["-c:a", "libvorbis"]),
    "webm-opus": ("seam.webm", "libvpx", ["-c:a", "libopus"]),
    "ogg-vorbis": ("seam.ogv", "libtheora", ["-c:a", "libvorbis"]),
    "avi-pcm": ("seam.avi", "mpeg4", ["-c:a", "pcm_s16le"]),
}


SEAM_MARK_S = 0.04  # the tone's first 20 cycles at half its level mark each pass


def make_seam_movie(path, codec):
    """2 s of black with a 500 Hz tone of 1000 whole cycles (96 samples each)."""
    _, video, audio = SEAM_MOVIES[codec]
    ffmpeg("-f", "lavfi", "-i", f"color=c=black:s={W}x{H}:r={FPS}:d=2",
           "-f", "lavfi", "-i", f"aevalsrc='if(lt(t,{SEAM_MARK_S}),0.25,0.5)*sin(2*PI*500*t)'"
           ":s=48000:d=2",
           "-c:v", video, *(["-pix_fmt", "yuv420p"] if video == "libx264" else []), *audio,
           "-t", "2", path)


def use_wave_driver(directory):
    """OpenAL writes what it plays to a file; set before the library loads."""
    wave = os.path.join(directory, "played.wav")
    conf = os.path.join(directory, "alsoft.conf")
    with open(conf, "w") as f:
        f.write("[general]\nchannels=stereo\nsample-type=int16\nfrequency=48000\n"
                f"dither=false\n[wave]\nfile={wave}\n")
    os.environ["ALSOFT_DRIVERS"] = "wave"
    os.environ["ALSOFT_CONF"] = conf
    return wave


def heard_game(directory, lib, make_movie, name):
    """A game on a movie made in `directory`, its sound written to a file: (game, wave)."""
    wave = use_wave_driver(directory)
    movie = os.path.join(directory, name)
    make_movie(movie)
    return Game(lib, movie), wave


def openal_output_latency():
    """Seconds from mixing to hearing as OpenAL reports it for its device (the
    configured driver): AL_SOFT_source_latency on a source playing silence.
    Call with no other device open."""
    al = ctypes.CDLL("libopenal.so.1")
    al.alcOpenDevice.restype = ctypes.c_void_p
    al.alcOpenDevice.argtypes = [ctypes.c_char_p]
    al.alcCreateContext.restype = ctypes.c_void_p
    al.alcCreateContext.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    for name in ("alcMakeContextCurrent", "alcDestroyContext", "alcCloseDevice"):
        getattr(al, name).argtypes = [ctypes.c_void_p]
    device = al.alcOpenDevice(None)
    context = al.alcCreateContext(device, None)
    al.alcMakeContextCurrent(context)
    source, buffer = ctypes.c_uint(), ctypes.c_uint()
    al.alGenSources(1, ctypes.byref(source))
    al.alGenBuffers(1, ctypes.byref(buffer))
    silence = bytes(48000 * 4)  # 1 s, 16-bit stereo
    al.alBufferData(buffer, 0x1103, silence, len(silence), 48000)  # AL_FORMAT_STEREO16
    al.alSourceQueueBuffers(source, 1, ctypes.byref(buffer))
    al.alSourcePlay(source)
    time.sleep(0.1)
    values = (ctypes.c_int64 * 2)()
    al.alGetSourcei64vSOFT(source, 0x1200, values)  # AL_SAMPLE_OFFSET_LATENCY_SOFT
    al.alSourceStop(source)
    al.alDeleteSources(1, ctypes.byref(source))
    al.alDeleteBuffers(1, ctypes.byref(buffer))
    al.alcMakeContextCurrent(None)
    al.alcDestroyContext(context)
    al.alcCloseDevice(device)
    return values[1] / 1e9


class SDLSurface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("pitch", ctypes.c_uint16),
                ("pixels", ctypes.c_void_p)]


def open_library(lib, width, height):
    """SDL in a 32-bit video mode of the size, and the library with the calls a
    game makes declared, loaded as a game loads them: (sdl, library)."""
    os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
    os.environ.setdefault("ALSOFT_DRIVERS", "null")
    os.environ.setdefault("CINELINK_NO_DIALOG", "1")
    sdl = ctypes.CDLL("libSDL-1.2.so.0")
    sdl.SDL_SetVideoMode.restype = ctypes.c_void_p
    sdl.SDL_GetRGB.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + [
        ctypes.POINTER(ctypes.c_uint8)] * 3
    assert sdl.SDL_Init(0x20) == 0
    assert sdl.SDL_SetVideoMode(width, height, 32, 0)
    c = ctypes.CDLL(lib)
    c.Movie_Load_UTF8.argtypes = [ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
    c.Movie_GetSurface.restype = ctypes.c_void_p
    c.Movie_SetRepetitive.argtypes = [ctypes.c_int, ctypes.c_int]
    for name in ("Movie_Play", "Movie_Pause", "Movie_Stop", "Movie_Reset", "Movie_Release"):
        getattr(c, name).restype = ctypes.c_bool
    return sdl, c


class Game:
    """The library loaded as a game loads it, with one movie playing on repeat."""

    def __init__(self, lib, movie):
        self.sdl, c = open_library(lib, W, H)
        self.c = c
        self.handle = c.Movie_Load_UTF8(movie, W, H)
        c.Movie_SetRepetitive(self.handle, 1)
        self.rgb = [ctypes.c_uint8() for _ in range(3)]
        self.step, self.frames = 8, FPS  # grey step and frames of a counter movie

    def grey(self):
        """The red level at the centre of the surface (the movies are grey)."""
        s = SDLSurface.from_address(self.c.Movie_GetSurface(self.handle))
        value = ctypes.c_uint32.from_address(s.pixels + (H // 2) * s.pitch + (W // 2) * 4).value
        self.sdl.SDL_GetRGB(value, s.format, *[ctypes.byref(x) for x in self.rgb])
        return self.rgb[0].value

    def run(self, seconds, tick, on_tick=None, wrap_latency=None):
        """Plays for `seconds`; one status check per tick. [(time, grey)] at each change.

        With a `wrap_latency` list, a check made while the last frame (grey 232)
        shows waits up to 5 ms for the first frame and notes how long after the
        check began it came (this delays those ticks)."""
        changes = []
        assert self.c.Movie_Play(self.handle)
        start = time.monotonic()
        next_tick = start
        while True:
            now = time.monotonic()
            if now - start > seconds:
                break
            self.c.Movie_CheckVideoStatus(self.handle)
            grey = self.grey()
            step = self.step
            if wrap_latency is not None and round(grey / step) == self.frames - 1:
                while time.monotonic() - now < 0.005 and round(grey / step) != 0:
                    grey = self.grey()
                if round(grey / step) == 0:
                    wrap_latency.append((time.monotonic() - now) * 1000)
            if not changes or changes[-1][1] != grey:
                changes.append((now, grey))
            if on_tick:
                on_tick(now)
            next_tick += tick
            delay = next_tick - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        return changes

    def release(self):
        self.c.Movie_Release(self.handle)


def median_max(values):
    return f"median {statistics.median(values):7.2f}  max {max(values):7.2f}  min {min(values):7.2f}"


def wraps(args):
    with tempfile.TemporaryDirectory() as d:
        movie = os.path.join(d, "counter.mp4")
        shape = args.shape or ("same" if args.sound else "silent")
        make_counter_movie(movie, shape)
        game = Game(args.lib, movie)
        game.step, game.frames = grey_step(shape), shape_frames(shape)
        seconds = SHAPES[shape][0] if shape != "long" else SHAPES[shape][2]
        tick = args.tick_ms / 1000.0
        if args.spin:
            latency = []
            game.run(args.loops * seconds + 1.5, tick, wrap_latency=latency)
            game.release()
            print(f"wraps: first frame on the surface after the status check that wrapped "
                  f"({len(latency)} wraps), ms: {median_max(latency)}")
            return
        changes = game.run(args.loops * seconds + 2.5, tick)  # one loop more: see below
        game.release()
        length = length_ms(movie)
    shown = [(t, round(g / game.step)) for t, g in changes]
    frames = game.frames
    starts = [i for i, (_, n) in enumerate(shown) if n == 0 and (i == 0 or shown[i - 1][1] != 0)]
    loops = []
    for a, b in zip(starts, starts[1:]):
        loops.append(shown[a:b + 1])  # ends with the next loop's frame 0
    # The first loop also holds Movie_Play's start-up (the run starts a little
    # ahead, further with sound): the wraps alone are timed from the first one.
    from_wrap = loops[1:args.loops + 1]
    loops = loops[:args.loops]
    missing = [sorted(set(range(frames)) - {n for _, n in loop[:-1]}) for loop in loops]
    lost = sum(len(m) for m in missing)
    out_of_order = sum(1 for loop in loops for (_, a), (_, b) in zip(loop, loop[1:])
                       if b != a + 1 and b != 0)
    last = [(loop[-1][0] - loop[-2][0]) * 1000 for loop in loops]
    first = [(loop[1][0] - loop[0][0]) * 1000 for loop in loops]
    period = [(loop[-1][0] - loop[0][0]) * 1000 for loop in loops]
    total = (loops[-1][-1][0] - loops[0][0][0]) * 1000
    print(f"wraps (sound: {shape}), tick {args.tick_ms} ms, "
          f"{len(loops)} loops")
    print(f"  frames lost: {lost}, out of order: {out_of_order}; lost (loop: frames): "
          + (", ".join(f"{i}: {m}" for i, m in enumerate(missing) if m) or "none"))
    print(f"  last frame ms:  {median_max(last)}  (frame {FRAME_MS:.1f})")
    bound = FRAME_MS + args.tick_ms + 2
    print(f"  last frames over frame + tick + 2 = {bound:.1f} ms: "
          f"{sum(1 for t in last if t > bound)} of {len(last)} "
          f"{[round(t, 1) for t in last if t > bound]}")
    print(f"  first frame ms: {median_max(first)}; under 28 ms: "
          f"{sum(1 for t in first[1:] if t < 28)} of {len(first) - 1} wraps")
    print(f"  loop period ms: {median_max(period)}  mean {statistics.mean(period):7.2f}")
    print(f"  {len(loops)} loops: {total:.1f} ms; bound {len(loops)} x ({length:.1f} + "
          f"{args.tick_ms}) + 2 = {len(loops) * (length + args.tick_ms) + 2:.1f} ms "
          f"({length:.1f} ms: the movie's length)")
    wrapped = (from_wrap[-1][-1][0] - from_wrap[0][0][0]) * 1000
    print(f"  from the first wrap, {len(from_wrap)} loops: {wrapped:.1f} ms; bound "
          f"{len(from_wrap) * (length + args.tick_ms) + 2:.1f} ms; the first loop (from Play) "
          f"{(loops[0][-1][0] - loops[0][0][0]) * 1000:.1f} ms")


def read_wave_left(path):
    with open(path, "rb") as f:
        data = f.read()
    at, rate, channels = 12, 0, 0
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if tag == b"fmt ":
            channels, rate = struct.unpack_from("<HI", data, at + 10)
        elif tag == b"data":
            body = data[at + 8:]
            if size:
                body = body[:size]
            count = len(body) // 2
            samples = struct.unpack(f"<{count}h", body[:count * 2])
            return rate, samples[::channels]
        at += 8 + size + (size & 1)
    raise RuntimeError("no sound data in " + path)


def gaps(args):
    with tempfile.TemporaryDirectory() as d:
        game, wave = heard_game(d, args.lib, make_tone_movie, "tone.mov")
        game.run(args.loops + 0.5, args.tick_ms / 1000.0)
        game.release()
        rate, left = read_wave_left(wave)
    # OpenAL fades a source in over its first tens of ms; at a low gain, the
    # tone's zero crossings read as silence. From where it reaches half its peak.
    peak = max(abs(x) for x in left)
    start = next(i for i, x in enumerate(left) if abs(x) > peak // 2)
    loud = [i for i, x in enumerate(left) if abs(x) > 160 and i >= start]  # 0.5 % of full scale
    silences = []
    where = []
    for a, b in zip(loud, loud[1:]):
        if b - a > rate // 2000:  # longer than 0.5 ms
            silences.append((b - a) * 1000.0 / rate)
            where.append((a - loud[0]) / rate)
    span = (loud[-1] - loud[0]) / rate
    print(f"gaps: tick {args.tick_ms} ms, {span:.3f} s of sound for {args.loops} wraps")
    print(f"  silences over 0.5 ms inside it: {len(silences)}")
    if silences:
        print(f"  silence ms: {median_max(silences)}")
        print("  longest (ms at s): " + ", ".join(
            f"{s:.1f} at {w:.2f}" for s, w in sorted(zip(silences, where), reverse=True)[:10]))


def sync(args):
    with tempfile.TemporaryDirectory() as d:
        game, wave = heard_game(d, args.lib, lambda p: make_flash_movie(p, args.shape or "same"),
                                "flash.mov" if args.shape in (None, "same") else "flash.mp4")
        # Where the wave file stands against the clock: the device writes each
        # mixed period as it goes, so frames written / rate after its start.
        written = []

        def note_size(now):
            try:
                size = os.path.getsize(wave)
            except OSError:
                return
            if not written or written[-1][1] != size:
                written.append((now, size))
        changes = game.run(args.seconds, args.tick_ms / 1000.0, note_size)
        game.release()
        rate, left = read_wave_left(wave)
        latency = openal_output_latency()  # rewrites the wave file: read it first
    header = 44
    # When each sample of the file would be heard.
    origin = min(t - max(0, size - header) / 4.0 / rate for t, size in written if size > header)
    origin += latency
    # The surface is black before the first picture: one already white at the
    # first look is the first flash.
    flashes = [t for (t, g), (_, before) in zip(changes, [(None, 0)] + changes)
               if g > 128 >= before]
    # A beep is timed by its end less its length: where sound is skipped to
    # catch up with the clock (a run's or a restart's first few ms), its
    # start is cut, its end never.
    beeps = []
    last = None
    for i, x in enumerate(left):
        if abs(x) > 1600:
            if last is not None and i - last > rate // 5:
                beeps.append(origin + last / rate - BEEP_S)
            last = i
    if last is not None:
        beeps.append(origin + last / rate - BEEP_S)
    offsets = []
    for f in flashes:
        near = min(beeps, key=lambda b: abs(b - f)) if beeps else None
        if near is not None and abs(near - f) < 0.4:
            offsets.append((f, (near - f) * 1000))
    print(f"sync: tick {args.tick_ms} ms, {len(flashes)} flashes, {len(beeps)} beeps; "
          "offset = beep heard - flash on the surface (ms; > 0: sound late); "
          f"output latency {latency * 1000:.1f} ms")
    if not offsets:
        return
    t0 = offsets[0][0]
    for label, at in (("start", 0.0), ("after 10 wraps", 10.0), ("after 60 s", 60.0)):
        pick = min(offsets, key=lambda o: abs(o[0] - t0 - at))
        print(f"  {label:15s} {pick[1]:7.2f}")
    print(f"  all {len(offsets)}: {median_max([o for _, o in offsets])}")
    print("  in order: " + " ".join(f"{o:.0f}" for _, o in offsets))


def seam(args):
    with tempfile.TemporaryDirectory() as d:
        game, wave = heard_game(d, args.lib, lambda p: make_seam_movie(p, args.codec),
                                SEAM_MOVIES[args.codec][0])
        game.run(4 * 2.0 + 0.5, args.tick_ms / 1000.0)
        game.release()
        rate, left = read_wave_left(wave)
    loud = [i for i, x in enumerate(left) if abs(x) > 160]
    first, last = loud[0], loud[-1]
    # The steepest step of the tone is 2 pi 500 / 48000 of its amplitude
    # (16384): about 1070; a cut or a repeat steps by up to twice the amplitude.
    jumps = [((i - first) / rate, left[i], left[i + 1]) for i in range(first, last)
             if abs(left[i + 1] - left[i]) > 1600]
    silences = [((b - a) * 1000.0 / rate, (a - first) / rate) for a, b in zip(loud, loud[1:])
                if b - a > rate // 1000]
    # Each pass starts where a cycle's peak drops from the full level to half.
    cycle = rate // 500
    peaks = [max(abs(x) for x in left[i:i + cycle]) for i in range(first, last - cycle, cycle)]
    level = max(peaks)
    marks = [first + k * cycle for k in range(1, len(peaks))
             if peaks[k] < 0.75 * level <= peaks[k - 1]]
    periods = [(b - a) / rate for a, b in zip(marks, marks[1:])]
    print(f"seam ({args.codec}): tick {args.tick_ms} ms, {(last - first) / rate:.4f} s of "
          f"sound for 4 passes of 2 s; period s: " +
          (" ".join(f"{p:.4f}" for p in periods) if periods else "none found"))
    print(f"  sample jumps: {len(jumps)}" + (" (s: from, to) " + ", ".join(
        f"{t:.4f}: {a}, {b}" for t, a, b in jumps[:10]) if jumps else ""))
    print(f"  silences over 1 ms: {len(silences)}" +
          (" (ms at s) " + ", ".join(f"{a:.1f} at {b:.3f}" for a, b in silences[:10])
           if silences else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("what", choices=["wraps", "gaps", "sync", "seam"])
    parser.add_argument("--lib", required=True, help="path of libcinelink.so")
    parser.add_argument("--tick-ms", type=float, default=1.0, help="game loop period")
    parser.add_argument("--sound", action="store_true", help="wraps: the movie has a tone")
    parser.add_argument("--loops", type=int, default=None)
    parser.add_argument("--spin", action="store_true",
                        help="wraps: time from the wrapping check to the first frame instead")
    parser.add_argument("--shape", choices=sorted(SHAPES), default=None,
                        help="wraps, sync: the sound against the picture")
    parser.add_argument("--codec", choices=sorted(SEAM_MOVIES), default="pcm",
                        help="seam: the sound and its container")
    parser.add_argument("--seconds", type=float, default=62.0, help="sync: how long")
    args = parser.parse_args()
    if args.loops is None:
        args.loops = 100 if args.what == "wraps" else 10
    {"wraps": wraps, "gaps": gaps, "sync": sync, "seam": seam}[args.what](args)


if __name__ == "__main__":
    sys.exit(main())
