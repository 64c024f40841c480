"""Play cut-scenes from Python through libcinelink.so on an SDL 1.2 screen.

    import cinelink
    screen = cinelink.open_screen(800, 600)          # 32-bit video mode first
    with cinelink.Movie(cinelink.game_path("intro.mp4"), 800, 600) as movie:
        movie.play()
        while movie.update() != cinelink.State.STOPPED and not cinelink.skip_requested():
            cinelink.clear(screen)
            movie.blit(screen)                       # centred; or movie.blit(screen, x, y)
            cinelink.flip(screen)
            cinelink.delay(16)

The library is found beside this file (or wherever `load_library` is told) and
libSDL-1.2.so.0 is the one the library itself uses, so surfaces can be blitted
between the two. Movies may be loaded on any thread; drive each one from one
thread at a time.

Missing files, directories and the like raise before the library sees them:
the library ends the whole process on a file it cannot play, unless the movie
is loaded with Movie(..., fatal=False), which raises LoadError instead.
"""

import atexit
import ctypes
import enum
import math
import operator
import os
import stat
import subprocess
import sys
import warnings

__all__ = [
    "ERROR_LOG_NAME", "MAX_WIDTH", "LoadError", "Movie", "Request", "SDLK_ESCAPE",
    "SDL_KEYDOWN", "SDL_MOUSEBUTTONDOWN", "SDL_QUIT", "State", "clear", "delay", "flip",
    "game_directory", "game_path", "library", "load_library", "log_errors", "open_screen",
    "skip_requested", "volume_from_gain",
]

ERROR_LOG_NAME = "\u9519\u8bef\u4fe1\u606f.txt"  # 错误信息.txt, the file kestrel's error box names

SDL_INIT_VIDEO = 0x20
# SDL 1.2's event types (Event.type) and key symbols (Event.key.keysym.sym)
# that skip_requested reads.
SDL_KEYDOWN = 2
SDL_MOUSEBUTTONDOWN = 5
SDL_QUIT = 12
SDLK_ESCAPE = 27
# Num Lock to Compose: keys held with others (Alt-Tab, a screenshot) skip nothing.
_SDLK_MODIFIERS = range(300, 315)


# SDL 1.2 keeps a surface's row length in 16 bits and its size in bytes in an
# int: wider or larger 32-bit surfaces are never made (the library refuses them
# too, by ending the process).
MAX_WIDTH = 0xFFFF // 4


class State(enum.IntEnum):
    """What Movie.state reports (the library's state codes)."""
    PLAYING = 0
    STOPPED = 1
    PAUSED = 2
    INVALID = 3


class Request(enum.IntEnum):
    """What skip_requested() found: false when nothing, else true."""
    NONE = 0
    SKIP = 1  # a key (Escape or any other) or a mouse button: skip this movie
    QUIT = 2  # the window was closed: leave the game


# SDL 1.2 structures, only as far as the kit reads them.
class Rect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int16), ("y", ctypes.c_int16),
                ("w", ctypes.c_uint16), ("h", ctypes.c_uint16)]


class PixelFormat(ctypes.Structure):
    _fields_ = [("palette", ctypes.c_void_p), ("BitsPerPixel", ctypes.c_uint8)]


class Surface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.POINTER(PixelFormat)),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("pitch", ctypes.c_uint16),
                ("pixels", ctypes.c_void_p)]


class KeySym(ctypes.Structure):
    _fields_ = [("scancode", ctypes.c_uint8), ("sym", ctypes.c_int), ("mod", ctypes.c_int),
                ("unicode", ctypes.c_uint16)]


class KeyboardEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_uint8), ("which", ctypes.c_uint8), ("state", ctypes.c_uint8),
                ("keysym", KeySym)]


class Event(ctypes.Union):
    # The padding covers SDL's largest event (a user event: two pointers).
    _fields_ = [("type", ctypes.c_uint8), ("key", KeyboardEvent), ("padding", ctypes.c_uint8 * 64)]


_c = ctypes
_SURFACE = _c.c_void_p  # SDL_Surface*, kept as a plain address
_RECT = _c.POINTER(Rect)

# Every signature the kit calls. Pointers must be declared: ctypes' default int
# would cut them to 32 bits.
_MOVIE_FUNCTIONS = {
    "Movie_Load": (_c.c_int, [_c.c_char_p, _c.c_int, _c.c_int]),
    "Movie_Load_UTF8": (_c.c_int, [_c.c_wchar_p, _c.c_int, _c.c_int]),
    "Movie_GetSurface": (_SURFACE, [_c.c_int]),
    "Movie_SetRepetitive": (None, [_c.c_int, _c.c_int]),
    "Movie_CheckVideoStatus": (None, [_c.c_int]),
    "Movie_Play": (_c.c_bool, [_c.c_int]),
    "Movie_Pause": (_c.c_bool, [_c.c_int]),
    "Movie_Stop": (_c.c_bool, [_c.c_int]),
    "Movie_Reset": (_c.c_bool, [_c.c_int]),
    "Movie_Release": (_c.c_bool, [_c.c_int]),
    "Movie_SetVolume": (_c.c_bool, [_c.c_int, _c.c_int]),
    "Movie_GetState": (_c.c_int, [_c.c_int]),
    # Additions to the original twelve.
    "Movie_TryLoad": (_c.c_int, [_c.c_char_p, _c.c_int, _c.c_int, _c.POINTER(_c.c_int)]),
    "Movie_GetDuration": (_c.c_double, [_c.c_int]),
    "Movie_GetPosition": (_c.c_double, [_c.c_int]),
    "Movie_SetPosition": (_c.c_bool, [_c.c_int, _c.c_double]),
    "Movie_GetVideoSize": (_c.c_bool, [_c.c_int, _c.POINTER(_c.c_int), _c.POINTER(_c.c_int)]),
    "Movie_HasSound": (_c.c_bool, [_c.c_int]),
}
_SDL_FUNCTIONS = {
    "SDL_Init": (_c.c_int, [_c.c_uint32]),
    "SDL_Quit": (None, []),
    "SDL_GetError": (_c.c_char_p, []),
    "SDL_SetVideoMode": (_SURFACE, [_c.c_int, _c.c_int, _c.c_int, _c.c_uint32]),
    "SDL_GetVideoSurface": (_SURFACE, []),
    "SDL_WM_SetCaption": (None, [_c.c_char_p, _c.c_char_p]),
    "SDL_UpperBlit": (_c.c_int, [_SURFACE, _RECT, _SURFACE, _RECT]),
    "SDL_FillRect": (_c.c_int, [_SURFACE, _RECT, _c.c_uint32]),
    "SDL_Flip": (_c.c_int, [_SURFACE]),
    "SDL_PollEvent": (_c.c_int, [_c.POINTER(Event)]),
    "SDL_Delay": (None, [_c.c_uint32]),
    "SDL_RWFromFile": (_c.c_void_p, [_c.c_char_p, _c.c_char_p]),
    "SDL_SaveBMP_RW": (_c.c_int, [_SURFACE, _c.c_void_p, _c.c_int]),
}


def _declare(dll, functions):
    for name, (restype, argtypes) in functions.items():
        function = getattr(dll, name)
        function.restype = restype
        function.argtypes = argtypes
    return dll


class _Libraries:
    def __init__(self, path):
        self.path = path
        self.sdl = _declare(ctypes.CDLL("libSDL-1.2.so.0"), _SDL_FUNCTIONS)
        self.movie = _declare(ctypes.CDLL(path), _MOVIE_FUNCTIONS)


_libraries = None


def game_directory():
    """The folder that holds this module: the game's folder."""
    return os.path.dirname(os.path.abspath(__file__))


def game_path(*parts):
    """A path in the game folder, whatever folder kestrel was started from.

    Movie(game_path("movies", "intro.mp4"), ...): a relative path given to
    Movie as it is resolves against the working directory.
    """
    return os.path.join(game_directory(), *parts)


def load_library(path=None):
    """Loads libcinelink.so (by default the one beside this module) once.

    Call it before anything else to use a library elsewhere; a later call with
    another path raises RuntimeError, as a process holds one movie table.
    """
    global _libraries
    path = os.path.abspath(os.fspath(path)) if path else os.path.join(game_directory(),
                                                                      "libcinelink.so")
    if _libraries is None:
        _libraries = _Libraries(path)
    elif _libraries.path != path:
        raise RuntimeError("libcinelink.so is already loaded from %s" % _libraries.path)
    return _libraries


def library():
    """The loaded libraries: `.movie` (the exports) and `.sdl`, all declared."""
    return _libraries or load_library()


def _sdl_error(what):
    message = library().sdl.SDL_GetError() or b""
    return RuntimeError("%s failed: %s" % (what, message.decode("utf-8", "replace")))


def open_screen(width, height, caption="kestrel"):
    """Starts SDL's video and sets the 32-bit video mode the movies need."""
    sdl = library().sdl
    if sdl.SDL_Init(SDL_INIT_VIDEO) != 0:
        raise _sdl_error("SDL_Init")
    screen = sdl.SDL_SetVideoMode(width, height, 32, 0)
    if not screen:
        raise _sdl_error("SDL_SetVideoMode")
    if caption:
        sdl.SDL_WM_SetCaption(caption.encode("utf-8"), caption.encode("utf-8"))
    return screen


def clear(screen, colour=0):
    library().sdl.SDL_FillRect(screen, None, colour)


def flip(screen):
    library().sdl.SDL_Flip(screen)


def delay(milliseconds):
    library().sdl.SDL_Delay(milliseconds)


def skip_requested():
    """Request.SKIP when the player pressed a key (but a modifier alone, such as
    Alt or Shift) or a mouse button, Request.QUIT when the window was closed
    (leave the game then), else Request.NONE, which is false.

    Reads every pending SDL event; a game that handles other events polls
    them itself with library().sdl.SDL_PollEvent and the Event structure.
    """
    sdl = library().sdl
    event = Event()
    request = Request.NONE
    while sdl.SDL_PollEvent(ctypes.byref(event)):
        if event.type == SDL_QUIT:
            request = Request.QUIT
        elif (event.type == SDL_MOUSEBUTTONDOWN or event.type == SDL_KEYDOWN
              and event.key.keysym.sym not in _SDLK_MODIFIERS):
            request = max(request, Request.SKIP)
    return request


def volume_from_gain(gain):
    """The Movie.volume for a linear amplitude gain (1.0 full, 0.5 half, 0 silent).

    The library's volume runs in 1 dB steps below 100: 94 is about half the
    amplitude, 80 a tenth, 0 is silence.
    """
    if gain <= 0:
        return 0
    if gain >= 1:
        return 100
    return max(0, 100 + round(20 * math.log10(gain)))


def _checked_path(path):
    """The path as text, or the exception the library would have ended the process for."""
    path = os.fspath(path)
    # The name's own bytes: under a plain C locale Python gives names beyond
    # ASCII as escapes of their bytes, which stand for the same name here.
    try:
        name = path if isinstance(path, bytes) else path.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:
        name = b""
    if not name or b"\0" in name:
        raise ValueError("not a movie file path: %r" % path)
    name = os.path.abspath(name)
    # The library opens the UTF-8 form of the wide path: that very name.
    try:
        path = name.decode("utf-8")
    except UnicodeDecodeError:
        raise ValueError("not a movie file path the library can open: %r" % path) from None
    try:
        info = os.stat(name)
        if stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(21, "Is a directory")
        if not stat.S_ISREG(info.st_mode):
            raise ValueError("not a regular file: %s" % path)
        # Only a regular file is opened: a pipe would block here.
        with open(name, "rb"):
            pass
    except OSError as error:
        kind = FileNotFoundError if isinstance(error, NotADirectoryError) else type(error)
        raise kind(error.errno, error.strerror, path) from None
    if info.st_size == 0:
        raise ValueError("empty file: %s" % path)
    return path


def _surface_size(width, height):
    width, height = operator.index(width), operator.index(height)
    if not 0 < width <= MAX_WIDTH:
        raise ValueError("width must be 1..%d, not %d" % (MAX_WIDTH, width))
    most = 0x7FFFFFFF // (width * 4)
    if not 0 < height <= most:
        raise ValueError("height must be 1..%d at width %d, not %d" % (most, width, height))
    return width, height


# The texts of the library's report for the codes a load gives.
_LOAD_ERRORS = {
    2: "The system cannot find the file specified.",
    3: "The system cannot find the path specified.",
    5: "Access is denied.",
    8: "Not enough memory is available to process this command.",
    11: "The file is not in a format that can be loaded.",
    13: "The data is invalid.",
    14: "Not enough memory is available to complete this operation.",
    21: "The device is not ready.",
    87: "The parameter is incorrect.",
    110: "The system cannot open the device or file specified.",
    206: "The filename or extension is too long.",
    1113: "No mapping for the Unicode character exists in the target code page.",
}


class LoadError(OSError):
    """A file the library could not load, from Movie(..., fatal=False).

    `code` is the library's error code, the one Movie_Load would end the
    process with; str() is the line its report would show; `path` the file."""

    def __init__(self, code, path):
        text = _LOAD_ERRORS.get(code, "")
        super().__init__("Movie_Load failed with error %d: %s" % (code, text))
        self.code = code
        self.path = path


class Movie:
    """One movie, played into a surface of width x height (aspect kept, centred).

    Several may be open at once. The library ends the process on a file it
    cannot play, unless `fatal` is false: LoadError is raised then (for a file
    the game did not ship). The checks here only catch what is plainly not a
    movie file. Release a movie (or use it in a with block): one dropped
    unreleased is released when it is collected, with a ResourceWarning.
    """

    _released = True  # until loaded

    def __init__(self, path, width, height, fatal=True):
        self.width, self.height = _surface_size(width, height)
        self.path = _checked_path(path)
        libraries = library()
        screen = libraries.sdl.SDL_GetVideoSurface()
        if not screen or Surface.from_address(screen).format.contents.BitsPerPixel != 32:
            raise RuntimeError("set a 32-bit SDL video mode before loading a movie")
        self._movie = libraries.movie
        self._sdl = libraries.sdl
        # The wide load: the narrow one depends on the process's locale.
        if fatal:
            self.handle = self._movie.Movie_Load_UTF8(self.path, self.width, self.height)
        else:
            error = _c.c_int()
            self.handle = self._movie.Movie_TryLoad(self.path.encode("utf-8"), self.width,
                                                    self.height, _c.byref(error))
            if self.handle < 0:
                raise LoadError(error.value, self.path)
        self._released = False
        self._repetitive = False
        self._volume = 100

    def __repr__(self):
        return "<Movie %d %r %s>" % (self.handle, self.path, self.state.name)

    def __del__(self, _finalizing=sys.is_finalizing, _warn=warnings.warn):
        # Its graph's threads and buffers would stay until the process ends.
        # Not while the interpreter shuts down: the process ends anyway.
        if self._released or _finalizing():
            return
        _warn("movie %d (%s) was never released" % (self.handle, self.path), ResourceWarning,
              source=self)
        self.release()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    def _live(self):
        if self._released:
            raise ValueError("movie %d was released" % self.handle)
        return self.handle

    @property
    def released(self):
        return self._released

    def play(self):
        return self._movie.Movie_Play(self._live())

    def pause(self):
        """False while the pause is still under way; it completes all the same."""
        return self._movie.Movie_Pause(self._live())

    def stop(self):
        """Stops and rewinds; the surface keeps the last frame."""
        return self._movie.Movie_Stop(self._live())

    def reset(self):
        """Plays again from the start."""
        return self._movie.Movie_Reset(self._live())

    def release(self):
        """Frees the movie; safe to call twice. Surfaces fetched before stay readable."""
        if self._released:
            return False
        self._released = True
        return self._movie.Movie_Release(self.handle)

    def update(self):
        """Handles the end of the movie (loop, or stop and rewind); call once a frame.

        Returns the state after that."""
        self._movie.Movie_CheckVideoStatus(self._live())
        return self.state

    @property
    def state(self):
        return State(self._movie.Movie_GetState(self.handle))

    @property
    def repetitive(self):
        return self._repetitive

    @repetitive.setter
    def repetitive(self, value):
        self._movie.Movie_SetRepetitive(self._live(), 1 if value else 0)
        self._repetitive = bool(value)

    @property
    def volume(self):
        """0..100 in 1 dB steps: 100 full, 94 about half, 0 silent. See volume_from_gain."""
        return self._volume

    @volume.setter
    def volume(self, value):
        value = min(100, max(0, operator.index(value)))
        self._movie.Movie_SetVolume(self._live(), value)
        self._volume = value

    @property
    def duration(self):
        """The movie's length in seconds: the later of its picture and its sound."""
        return self._movie.Movie_GetDuration(self._live())

    @property
    def position(self):
        """Seconds into the current pass of the movie of the picture on the surface.

        Setting it jumps there in any state, frame-exact, without waiting: playing,
        the movie goes on from there; paused or stopped, the surface shows the
        picture there as soon as it is decoded. Clamped to 0..duration."""
        return self._movie.Movie_GetPosition(self._live())

    @position.setter
    def position(self, seconds):
        self._movie.Movie_SetPosition(self._live(), float(seconds))

    @property
    def size(self):
        """(width, height) of the picture as shown (square pixels, upright), or None
        before it is known. The surface is the size given to Movie; this is the
        movie's own."""
        width, height = _c.c_int(), _c.c_int()
        if not self._movie.Movie_GetVideoSize(self._live(), _c.byref(width), _c.byref(height)):
            return None
        return width.value, height.value

    @property
    def has_sound(self):
        """Whether the movie plays sound."""
        return self._movie.Movie_HasSound(self._live())

    @property
    def surface(self):
        """The SDL_Surface* (an address) holding the current frame, or None before the first.

        Owned by the library: never free it, and fetch it anew each frame."""
        return None if self._released else self._movie.Movie_GetSurface(self.handle)

    def blit(self, screen, x=None, y=None):
        """Draws the surface onto `screen`, centred, or with its top-left at (x, y).

        Returns False when there is no frame yet."""
        surface = self.surface
        if not surface:
            return False
        if x is None or y is None:
            target = Surface.from_address(screen)
            own = Surface.from_address(surface)
            x = (target.w - own.w) // 2 if x is None else x
            y = (target.h - own.h) // 2 if y is None else y
        return self._sdl.SDL_UpperBlit(surface, None, screen, Rect(x, y, 0, 0)) == 0


# While log_errors is in force: the tee process that fd 2 now writes into
# (None when fd 2 goes straight to the file) and a descriptor of the console.
_capture = None


def _stop_capture():
    global _capture
    if _capture is None:
        return
    tee, console = _capture
    _capture = None
    if sys.stderr is not None:
        try:
            sys.stderr.flush()
        except (OSError, ValueError):
            pass
    if console is None:
        os.close(2)
    else:
        os.dup2(console, 2)
        os.close(console)
    if tee is not None:
        tee.stdin.close()
        tee.wait()


def log_errors(path=None):
    """Sends everything written to the process's stderr to `path` as well.

    That is file descriptor 2: Python's sys.stderr (a traceback included) and
    what the library writes there itself, such as its report before it ends
    the process. By default the file is 错误信息.txt in the game folder, the
    file kestrel's error box tells the player to read; it holds the last run's
    output (empty after a clean run). Call it first thing in launch.py.
    Returns the path (bytes for the default one), or None when the file
    cannot be written (stderr alone then).
    """
    global _capture
    if path is None:
        # Named in UTF-8 bytes: under a plain C locale the text name cannot be encoded.
        path = os.path.join(os.fsencode(game_directory()), ERROR_LOG_NAME.encode("utf-8"))
    try:
        log = open(path, "ab")
    except (OSError, ValueError):
        return None
    with log:  # replaced on each run, once the last capture has written all
        _stop_capture()
        log.truncate(0)
    try:
        console = os.dup(2)
    except OSError:
        console = None  # no console at all
    if sys.stderr is not None:
        sys.stderr.flush()
    # A process of its own copies to the console and the file, so that what
    # is written just before the library ends the process still arrives. It
    # ignores Ctrl-C and a console gone away, as the game goes on.
    try:
        tee = subprocess.Popen(["tee", "-i", "-p", "-a", "--", path], stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL if console is None else console,
                               stderr=subprocess.DEVNULL)
    except OSError:
        tee = None
    if tee is not None:
        os.dup2(tee.stdin.fileno(), 2)
    else:
        with open(path, "ab") as log:  # the file alone, rather than nothing
            os.dup2(log.fileno(), 2)
    atexit.unregister(_stop_capture)
    atexit.register(_stop_capture)  # at exit the tee is waited for, its pipe closed
    _capture = (tee, console)
    return path
