"""Installs the build into temporary prefixes and runs the installed demo, as a player would.

    install_test.py BUILD_DIR [unittest arguments...]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = None
GAME = os.path.join("lib", "kestrel")
BOX = "出错了！: 出错了！请查看错误信息.txt ！"
# What a run leaves in the game folder.
RUN_OUTPUT = ("frames", "__pycache__", "错误信息.txt")


def player_environment(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "DISPLAY"))}
    env.update(SDL_VIDEODRIVER="dummy", ALSOFT_DRIVERS="null", CINELINK_NO_DIALOG="1", **extra)
    return env


def run(args, **kwargs):
    kwargs.setdefault("env", player_environment())
    return subprocess.run(args, capture_output=True, text=True, timeout=180, **kwargs)


def installed_files(top):
    for directory, subdirs, files in os.walk(top):
        subdirs[:] = [d for d in subdirs if d not in RUN_OUTPUT]
        for name in files + [d for d in subdirs if os.path.islink(os.path.join(directory, d))]:
            if name not in RUN_OUTPUT:
                yield os.path.join(directory, name)


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.tmp = os.path.realpath(tempfile.mkdtemp(prefix="kit-install-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def assertPlayed(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("played sample.mp4", result.stdout, result.stderr)
        self.assertNotIn("Traceback", result.stderr)

    def test_readme_install_runs_the_demo_and_lists_every_file(self):
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            block = next(b for b in f.read().split("```sh\n") if b.startswith("cmake --install"))
        # As written, from a folder whose build/ is this build, with a home of its own.
        os.symlink(BUILD, os.path.join(self.tmp, "build"))
        home = os.path.join(self.tmp, "home")
        self.assertPlayed(run(["bash", "-ec", block[:block.index("```")]], cwd=self.tmp,
                              env=player_environment(HOME=home)))
        prefix = os.path.join(home, "games", "demo")
        with open(os.path.join(BUILD, "install_manifest.txt"), encoding="utf-8") as f:
            manifest = set(f.read().splitlines())
        self.assertEqual(manifest, set(installed_files(prefix)))
        stdlib = os.path.join(prefix, GAME, "lib", "python3.11")
        self.assertTrue(os.path.isfile(os.path.join(stdlib, "os.py")))
        self.assertTrue(os.path.isfile(os.path.join(prefix, "include", "cinelink.h")))

        # A C program built against the installed header and pkg-config file.
        source = os.path.join(self.tmp, "game.c")
        with open(source, "w") as f:
            f.write('#include <cinelink.h>\nint main(void) { return Movie_GetState(-1); }\n')
        flags = run(["pkg-config", "--cflags", "--libs", "cinelink"], env=dict(
            os.environ, PKG_CONFIG_PATH=os.path.join(prefix, "lib", "pkgconfig")))
        self.assertEqual(flags.returncode, 0, flags.stderr)
        program = os.path.join(self.tmp, "game")
        built = run(["cc", "-o", program, source] + flags.stdout.split())
        self.assertEqual(built.returncode, 0, built.stderr)
        self.assertEqual(run([program]).returncode, 3)  # the invalid-handle state

    def test_destdir_keeps_everything_beneath_it(self):
        stage = os.path.join(self.tmp, "stage")
        result = run(["cmake", "--install", BUILD, "--prefix", "/opt/kestrel-test"],
                     env=dict(os.environ, DESTDIR=stage))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists("/opt/kestrel-test"))
        link = os.path.join(stage, "opt", "kestrel-test", GAME, "lib", "python3.11")
        self.assertTrue(os.path.isfile(os.path.join(link, "os.py")))

    def test_copied_library_lets_the_folder_move_and_errors_reach_the_log(self):
        prefix = os.path.join(self.tmp, "prefix")
        result = run(["cmake", "-DKESTREL_COPY_STDLIB=ON", "-DCMAKE_INSTALL_PREFIX=" + prefix,
                      "-P", os.path.join(BUILD, "cmake_install.cmake")])
        self.assertEqual(result.returncode, 0, result.stderr)
        # Packed, the original removed, unpacked elsewhere under a Chinese name.
        archive = shutil.make_archive(os.path.join(self.tmp, "game"), "gztar",
                                      os.path.join(prefix, GAME))
        shutil.rmtree(prefix)
        moved = os.path.join(self.tmp, "游戏")
        shutil.unpack_archive(archive, moved)
        for path in installed_files(moved):
            self.assertFalse(os.path.islink(path) and os.path.isabs(os.readlink(path)), path)
        kestrel = os.path.join(moved, "kestrel")
        plain = player_environment(LANG="C")
        plain.pop("LC_ALL", None)
        self.assertPlayed(run([kestrel], env=plain))

        os.remove(os.path.join(moved, "sample.mp4"))
        result = run([kestrel], env=plain)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(BOX, result.stderr)
        with open(os.path.join(moved, "错误信息.txt"), encoding="utf-8") as f:
            log = f.read()
        self.assertIn("Traceback (most recent call last):", log)
        self.assertIn("FileNotFoundError", log)
        self.assertIn(log, result.stderr)


if __name__ == "__main__":
    BUILD = os.path.realpath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
