"""Installs the build (argv[1]) into temporary prefixes and runs the installed demo."""
import os, re, shlex, shutil, subprocess, sys, tempfile, unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = os.path.realpath(sys.argv.pop(1)) if __name__ == "__main__" else None
GAME = os.path.join("lib", "kestrel")
RUN_OUTPUT = ("frames", "__pycache__", "错误信息.txt")  # what a run adds to the folder


def run(args, cwd=None, **env):
    env = dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, **env)
    return subprocess.run(args, env=env, cwd=cwd or env.get("HOME"), capture_output=True,
                          text=True, timeout=600)


def files(top):
    for directory, subdirs, names in os.walk(top):
        subdirs[:] = [d for d in subdirs if d not in RUN_OUTPUT]
        links = [d for d in subdirs if os.path.islink(os.path.join(directory, d))]
        yield from (os.path.join(directory, n) for n in names + links if n not in RUN_OUTPUT)


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.tmp = os.path.realpath(tempfile.mkdtemp(prefix="kit-install-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def assertPlayed(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("played sample.mp4", result.stdout, result.stderr)

    def test_readme_path_from_a_checkout_plays_and_lists_every_file_and_builds_c(self):
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            block = next(b for b in f.read().split("```sh\n") if "cmake --install" in b)
        # As written, from the checkout with HOME = tmp, but into this test's build tree:
        # configured and built already, so configuring and building again change nothing.
        block = re.sub(r"(?<= )build(?=\s)", shlex.quote(BUILD), block[:block.index("```")])
        self.assertPlayed(run(["bash", "-ec", block], cwd=ROOT, HOME=self.tmp))
        prefix = os.path.join(self.tmp, "games", "demo")
        with open(os.path.join(BUILD, "install_manifest.txt"), encoding="utf-8") as f:
            self.assertEqual(set(f.read().splitlines()), set(files(prefix)))
        source = os.path.join(self.tmp, "game.c")
        with open(source, "w") as f:
            f.write("#include <cinelink.h>\nint main(void) {\n"
                    "  return Movie_GetState(-1) == MOVIE_STATE_INVALID ? 3 : 1;\n}\n")
        flags = run(["pkg-config", "--cflags", "--libs", "cinelink"],
                    PKG_CONFIG_PATH=os.path.join(prefix, "lib", "pkgconfig")).stdout.split()
        self.assertEqual(run(["cc", "-o", source + ".out", source] + flags).returncode, 0)
        # The invalid-handle state; a sanitized library does without its runtime first.
        self.assertEqual(run([source + ".out"], ASAN_OPTIONS="verify_asan_link_order=0:"
                             "detect_leaks=0").returncode, 3)

    def test_destdir_keeps_everything_beneath_it(self):
        stage = os.path.join(self.tmp, "stage")
        run(["cmake", "--install", BUILD, "--prefix", "/opt/kit-test"], DESTDIR=stage)
        self.assertFalse(os.path.exists("/opt/kit-test"))
        self.assertTrue(os.path.isfile(os.path.join(stage, "opt", "kit-test", GAME, "lib",
                                                    "python3.11", "os.py")))

    def test_desktop_entry_starts_kestrel_in_a_folder_with_spaces(self):
        prefix = os.path.join(self.tmp, "my games $HOME 100%`")
        run(["cmake", "--install", BUILD, "--prefix", prefix])
        with open(os.path.join(prefix, "share", "applications", "kestrel.desktop"),
                  encoding="utf-8") as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)

        def unescape(value):  # a string value's escapes
            return re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(
                m.group(1), m.group(1)), value)
        # Then Exec's quoting: one argument in double quotes, where " ` $ and \ take
        # a backslash, and % is doubled.
        quoted = re.fullmatch(r'"((?:[^"`$\\]|\\["`$\\])*)"', unescape(entry["Exec"]))
        self.assertTrue(quoted, entry["Exec"])
        program = re.sub(r"\\(.)", r"\1", quoted.group(1)).replace("%%", "%")
        self.assertEqual(program, os.path.join(prefix, GAME, "kestrel"))
        self.assertTrue(os.access(program, os.X_OK))
        self.assertEqual(unescape(entry["Path"]), os.path.join(prefix, GAME))

    def test_copied_library_lets_the_folder_move_and_errors_reach_the_log(self):
        prefix = os.path.join(self.tmp, "prefix")
        run(["cmake", "-DKESTREL_COPY_STDLIB=ON", "-DCMAKE_INSTALL_PREFIX=" + prefix, "-P",
             os.path.join(BUILD, "cmake_install.cmake")])
        archive = shutil.make_archive(prefix, "gztar", os.path.join(prefix, GAME))
        shutil.rmtree(prefix)
        moved = os.path.join(self.tmp, "游戏")  # unpacked elsewhere, under the C locale
        shutil.unpack_archive(archive, moved)
        self.assertEqual([p for p in files(moved) if os.path.islink(p)
                          and os.path.isabs(os.readlink(p))], [])
        kestrel, plain = os.path.join(moved, "kestrel"), dict(LANG="C", LC_ALL="")
        self.assertPlayed(run([kestrel], **plain))
        os.remove(os.path.join(moved, "sample.mp4"))
        result = run([kestrel], **plain)
        self.assertIn("出错了！: 出错了！请查看错误信息.txt ！", result.stderr)
        with open(os.path.join(moved, "错误信息.txt"), encoding="utf-8") as f:
            log = f.read()
        self.assertIn("FileNotFoundError", log)
        self.assertIn(log, result.stderr)


if __name__ == "__main__":
    unittest.main()
