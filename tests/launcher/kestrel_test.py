"""Runs the real kestrel on game directories staged for each test.

    kestrel_test.py KESTREL STAGE_DIR [unittest arguments...]

KESTREL is the built executable; STAGE_DIR the game directory the build staged, whose
lib/ each test directory links to.
"""

import json
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import textwrap
import unittest

KESTREL = None
STAGE_DIR = None

BOX = "出错了！: 出错了！请查看错误信息.txt ！"
TRACEBACK = "Traceback (most recent call last):"

# Reports what the game sees, on stdout as one JSON line; an atexit handler shows that
# the interpreter was finalised.
REPORTING_LAUNCH = '''
import atexit, json, sys

def documented():
    """A docstring that optimisation level 2 drops."""

asserts_run = False
try:
    assert False
except AssertionError:
    asserts_run = True

import ctypes, zlib  # compiled modules: lib-dynload is reachable

print(json.dumps({
    "argv": sys.argv,
    "optimize": sys.flags.optimize,
    "no_site": sys.flags.no_site,
    "site_imported": "site" in sys.modules,
    "docstring": documented.__doc__,
    "asserts_run": asserts_run,
    "prefix": sys.prefix,
    "stdlib": __import__("os").__file__,
}))
print("imported launch")
atexit.register(lambda: print("finalised"))
'''


def clean_environment():
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    env.pop("DISPLAY", None)
    env["CINELINK_NO_DIALOG"] = "1"
    # The staged library is the system's own: leave its __pycache__ alone.
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


class GameDirectory:
    """A temporary game directory: a copy of kestrel and a link to the staged lib/."""

    def __init__(self, path, launch=None, with_kestrel=True):
        self.path = path
        os.makedirs(self.path, exist_ok=True)
        self.kestrel = os.path.join(self.path, "kestrel")
        if with_kestrel:
            shutil.copy2(KESTREL, self.kestrel)
        os.symlink(os.path.join(STAGE_DIR, "lib"), os.path.join(self.path, "lib"))
        if launch is not None:
            with open(os.path.join(self.path, "launch.py"), "w", encoding="utf-8") as f:
                f.write(textwrap.dedent(launch))

    def run(self, args=None, cwd=None, executable=None):
        return subprocess.run(args or [self.kestrel], executable=executable, cwd=cwd,
                              env=clean_environment(), capture_output=True, text=True,
                              encoding="utf-8", timeout=120)


class KestrelTestCase(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="kestrel-"))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def game(self, launch=None, name="game"):
        return GameDirectory(os.path.join(self.root, name), launch)

    def report(self, result):
        """What REPORTING_LAUNCH saw, after checking the run went well."""
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(BOX, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[1:], ["imported launch", "finalised"], result.stdout)
        return json.loads(lines[0])

    def assertInOrder(self, text, *parts):
        position = 0
        for part in parts:
            found = text.find(part, position)
            self.assertNotEqual(found, -1, f"{part!r} missing after offset {position} in:\n{text}")
            position = found + len(part)

    def assertFailureReported(self, result, *traceback_parts, then=()):
        """Traceback, then the box, then whatever `then` lists, and exit code 0."""
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertInOrder(result.stderr, TRACEBACK, *traceback_parts, BOX, *then)
        self.assertEqual(result.stderr.count(BOX), 1, result.stderr)


class ScriptFailureTest(KestrelTestCase):
    def test_missing_launch_module(self):
        result = self.game().run()
        self.assertFailureReported(result, "ModuleNotFoundError: No module named 'launch'")
        self.assertEqual(result.stdout, "")

    def test_launch_raising(self):
        game = self.game('''
            import atexit, sys
            atexit.register(lambda: sys.stderr.write("finalised\\n"))
            def start():
                raise RuntimeError("the game broke")
            start()
        ''')
        # The box comes before finalisation, which runs the atexit handler.
        self.assertFailureReported(game.run(), 'launch.py", line 5, in start',
                                   "RuntimeError: the game broke", then=("finalised\n",))

    def test_launch_with_syntax_error(self):
        game = self.game('''
            def broken(:
                pass
        ''')
        self.assertFailureReported(game.run(), "launch.py", "SyntaxError")

    def test_failure_deeper_in_the_game(self):
        game = self.game("import scene\n")
        with open(os.path.join(game.path, "scene.py"), "w") as f:
            f.write("import missing_module\n")
        self.assertFailureReported(game.run(), "scene.py",
                                   "No module named 'missing_module'")


class GoodLaunchTest(KestrelTestCase):
    def test_interpreter_set_up_as_the_game_expects(self):
        game = self.game(REPORTING_LAUNCH)
        report = self.report(game.run())
        self.assertEqual(report["argv"], [game.kestrel])
        self.assertEqual(report["optimize"], 2)
        self.assertIsNone(report["docstring"])
        self.assertFalse(report["asserts_run"])
        self.assertEqual(report["no_site"], 1)
        self.assertFalse(report["site_imported"])
        self.assertEqual(report["prefix"], game.path)
        self.assertEqual(report["stdlib"],
                         os.path.join(game.path, "lib", "python3.11", "os.py"))

    def test_argv_is_the_full_path_whatever_was_typed(self):
        game = self.game(REPORTING_LAUNCH)
        elsewhere = os.path.join(self.root, "elsewhere")
        os.makedirs(elsewhere)
        bin_dir = os.path.join(self.root, "bin")
        os.makedirs(bin_dir)
        os.symlink(game.kestrel, os.path.join(bin_dir, "play"))
        runs = {
            "arguments": dict(args=[game.kestrel, "--windowed", "level 2", "-c", "x"]),
            "relative": dict(args=["./kestrel", "extra"], cwd=game.path),
            "from elsewhere": dict(args=["../game/kestrel"], cwd=elsewhere),
            "through a link": dict(args=[os.path.join(bin_dir, "play")], cwd=elsewhere),
            "false argv[0]": dict(args=["not-kestrel", "a"], executable=game.kestrel),
        }
        for name, run in runs.items():
            with self.subTest(name):
                self.assertEqual(self.report(game.run(**run))["argv"], [game.kestrel])

    def test_exit_from_the_game_is_no_failure(self):
        game = self.game('''
            import atexit, sys
            atexit.register(lambda: print("finalised"))
            sys.exit(0)
        ''')
        result = game.run()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(BOX, result.stderr)
        self.assertEqual(result.stdout, "finalised\n")


class LongPathTest(KestrelTestCase):
    CAPACITY = 2048

    def test_path_beyond_capacity_works_with_the_truncated_path(self):
        # Deep enough that kestrel's path no longer fits the buffer.
        deep = self.root
        while len(deep) < self.CAPACITY + 100:
            deep = os.path.join(deep, "d" * 200)
        game = self.game(REPORTING_LAUNCH, name=os.path.relpath(deep, self.root))
        truncated = game.kestrel[:self.CAPACITY - 1]
        # The home is cut from what the buffer holds: an ancestor of the real directory.
        home = truncated[:truncated.rindex("/")]
        self.assertTrue(game.path.startswith(home + "/"))
        GameDirectory(home, REPORTING_LAUNCH, with_kestrel=False)
        report = self.report(game.run())
        self.assertEqual(report["argv"], [truncated])
        self.assertEqual(report["prefix"], home)


class StagedDirectoryTest(unittest.TestCase):
    def test_stage_holds_kestrel_and_this_interpreters_library(self):
        staged = os.path.join(STAGE_DIR, "kestrel")
        self.assertFalse(os.path.islink(staged))
        with open(staged, "rb") as a, open(KESTREL, "rb") as b:
            self.assertEqual(a.read(), b.read())
        lib = os.path.join(STAGE_DIR, "lib", "python3.11")
        stdlib = sysconfig.get_path("stdlib")
        if os.path.islink(lib):
            self.assertEqual(os.path.realpath(lib), os.path.realpath(stdlib))
        else:
            # A copied library: this interpreter's modules, byte for byte.
            for name in ("os.py", os.path.join("encodings", "utf_8.py")):
                with open(os.path.join(lib, name), "rb") as a, \
                        open(os.path.join(stdlib, name), "rb") as b:
                    self.assertEqual(a.read(), b.read())
        self.assertTrue(os.path.isdir(os.path.join(lib, "lib-dynload")))


if __name__ == "__main__":
    KESTREL, STAGE_DIR = (os.path.realpath(p) for p in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
