#!/usr/bin/env python3
"""The seam rule of scripts/lint: what it must find, what it must let pass, and where it applies."""
import os
import subprocess
import sys
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import seam_check  # noqa: E402

# (source, what the finding says; None: nothing to find)
CASES = [
    ("#include <windows.h>\n", "a Windows header <windows.h>"),
    ("#  include <WinReg.h>\n", "a Windows header <WinReg.h>"),
    ("#include <shlobj.h>\n", "a Windows header <shlobj.h>"),
    ("#include <unistd.h>\n", "a POSIX header <unistd.h>"),
    ("#include <dlfcn.h>\n", "a POSIX header <dlfcn.h>"),
    ("#include <sys/stat.h>\n", "a POSIX header <sys/stat.h>"),
    ("#include <filesystem>\n", "<filesystem>"),
    ("auto p = std::filesystem::current_path();\n", "std::filesystem"),
    ("namespace fs = std :: filesystem;\n", "std::filesystem"),
    ("std::time_t now = std::time(nullptr);\n", "the time call time()"),
    ("now = time(NULL);\n", "the time call time()"),
    ("return ::time(0);\n", "the time call time()"),
    ("const std::tm *t = std::localtime(&now);\n", "the time call localtime()"),
    ("gmtime_r(&now, &out);\n", "the time call gmtime_r()"),
    ("clock_gettime(CLOCK_MONOTONIC, &ts);\n", "the time call clock_gettime()"),
    ("auto t0 = std::chrono::steady_clock::now();\n", "the clock std::chrono::steady_clock"),
    ("std::this_thread::sleep_for(std::chrono::milliseconds(5));\n", "the time call sleep_for()"),
    ("Sleep(10);\n", "the time call Sleep()"),
    ("DWORD t = GetTickCount();\n", "the time call GetTickCount()"),
    # What is not the operating system's clock or files.
    ('#include "tal/platform.h"\n', None),
    ("#include <ctime>\n#include <chrono>\n#include <string>\n", None),
    ("std::strftime(buf, sizeof buf, \"%H\", &tm);\n", None),
    ("const uint64_t t = sys().monotonicMs(); os.sleepMs(5);\n", None),
    ("std::wstring time = sys().localTimeText();\n", None),
    ("std::string time(\"now\");\n", None),
    ("int Clock::time() const { return t_; }\n", None),
    ("x = timer.time(); y = p->sleep(1); z = Board::clock(2);\n", None),
    ("std::chrono::milliseconds wait(5);\n", None),
    ("// std::time(nullptr) and <windows.h> in a comment\n", None),
    ("/* Sleep(10);\n std::filesystem::path */ int a;\n", None),
    ('log("time(now) std::filesystem Sleep(1)");\n', None),
    ('auto s = R"(std::time(nullptr))";\n', None),
    ("int waittime(int);\n", None),
]


class SeamRule(unittest.TestCase):
    def test_each_case(self):
        for source, expected in CASES:
            with self.subTest(source=source):
                found = [what for _, what in seam_check.check("x.cpp", source)]
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertTrue(found[0].startswith(expected), found)

    def test_the_line_is_the_one_with_the_call(self):
        source = "// the stamp\n/* two\nlines */\nint a;\nauto t = std::time(nullptr);\n"
        self.assertEqual([n for n, _ in seam_check.check("x.cpp", source)], [5])

    def test_the_rooms_that_reach_the_system_are_left_alone(self):
        tmp = os.environ.get("TMPDIR", "/tmp")
        folder = os.path.join(tmp, "seam_check_test_%d" % os.getpid())
        paths = {
            "FlashEngine/src/a.cpp": True,
            "Source/b.h": True,
            "InstallDLL/src/boundary.cpp": True,
            "InstallDLL/src/exports.cpp": False,
            "Platform/native/c.cpp": False,
            "Simulator/src/d.cpp": False,
            "Tools/pkgcheck/e.cpp": False,
            "tests/engine/f.cpp": False,
        }
        for path in paths:
            os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
            with open(os.path.join(folder, path), "w") as f:
                f.write("#include <windows.h>\n")
        run = subprocess.run(
            [sys.executable, os.path.join(ROOT, "scripts", "seam_check.py")],
            input="\n".join(paths) + "\n",
            cwd=folder,
            capture_output=True,
            text=True,
        )
        subprocess.run(["rm", "-rf", folder], check=True)
        self.assertEqual(run.returncode, 1)
        reported = sorted(line.split(":")[0] for line in run.stdout.splitlines())
        self.assertEqual(reported, sorted(p for p, checked in paths.items() if checked))
        for line in run.stdout.splitlines():
            self.assertRegex(line, r"^[^:]+:1: seam: a Windows header <windows.h> outside")


if __name__ == "__main__":
    unittest.main()
