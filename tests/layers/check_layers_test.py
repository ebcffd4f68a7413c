#!/usr/bin/env python3
"""scripts/check-layers.py on small fixtures: it must report a call or include
against the rule and a cycle of files, and let allowed ones through."""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(ROOT, "scripts", "check-layers.py")
TOOLS = {}


class Fixture:
    """A tree of sources, compiled into one libquibex_<folder>.a per folder."""

    def __init__(self, test, files):
        self.dir = tempfile.TemporaryDirectory(prefix="quibex-layers-")
        test.addCleanup(self.dir.cleanup)
        self.root = self.dir.name
        for path, text in files.items():
            full = os.path.join(self.root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        self.files = files

    def libraries(self):
        by_folder = {}
        for path in self.files:
            if path.endswith(".cc"):
                folder = os.path.dirname(path)
                obj = os.path.join(self.root, path[:-3] + ".cc.o")
                subprocess.run([TOOLS["cxx"], "-c", "-O0", "-I", self.root, os.path.join(self.root, path),
                                "-o", obj], check=True)
                by_folder.setdefault(folder, []).append(obj)
        libs = []
        for folder, objs in by_folder.items():
            lib = os.path.join(self.root, "libquibex_" + folder.replace("/", "_") + ".a")
            subprocess.run([TOOLS["ar"], "qc", lib] + objs, check=True)
            libs.append(lib)
        return libs

    def run(self, mode, *extra):
        where = [self.root] if mode == "includes" else self.libraries() + ["--nm", TOOLS["nm"]]
        return subprocess.run([sys.executable, CHECK, mode] + where + list(extra), capture_output=True, text=True)


CORE_CALLS_WEBUI = {
    "core/reader.cc": "int menu_bar_open();\nint read_line() { return menu_bar_open(); }\n",
    "webui/menu_bar.cc": "int menu_bar_open() { return 1; }\n",
}


class Calls(unittest.TestCase):
    def test_a_call_to_the_left_passes(self):
        r = Fixture(self, {"core/reader.cc": "int read_line() { return 1; }\n",
                     "webui/menu_bar.cc": "int read_line();\nint menu_bar_open() { return read_line(); }\n"}).run("calls")
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_a_call_to_the_right_is_reported(self):
        r = Fixture(self, CORE_CALLS_WEBUI).run("calls")
        self.assertEqual(r.returncode, 1)
        self.assertIn("core/reader.cc calls webui/menu_bar.cc: core may use only platform, base", r.stderr)

    def test_an_allowed_call_passes(self):
        r = Fixture(self, CORE_CALLS_WEBUI).run("calls", "--allow", "core/reader.cc -> webui/*")
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_two_files_calling_each_other_are_a_cycle(self):
        r = Fixture(self, {"webui/keys.cc": "int b();\nint a() { return b(); }\n",
                     "webui/menu_bar.cc": "int a();\nint b() { return a(); }\n"}).run("calls")
        self.assertEqual(r.returncode, 1)
        self.assertIn("a cycle of 2 files, through the calls:\n      webui/keys.cc -> webui/menu_bar.cc\n"
                      "      webui/menu_bar.cc -> webui/keys.cc\n", r.stderr)

    def test_a_weak_definition_is_no_call(self):
        # core's object carries a weak copy of a template that platform's object
        # needs from elsewhere (as with the standard library's own instantiations).
        r = Fixture(self, {
            "core/window_ops.cc": "template <class T> T twice(T x) { return 2 * x; }\ntemplate int twice<int>(int);\n",
            "platform/window.cc": "template <class T> T twice(T);\nextern template int twice<int>(int);\n"
                                  "int w() { return twice(1); }\n"}).run("calls")
        self.assertEqual(r.returncode, 0, r.stderr)


class Includes(unittest.TestCase):
    def test_an_include_to_the_right_is_reported_with_its_line(self):
        r = Fixture(self, {"core/reader.cc": "#include <string>\n#include \"webui/menu_bar.h\"\n",
                     "webui/menu_bar.h": "#pragma once\n"}).run("includes")
        self.assertEqual(r.returncode, 1)
        self.assertIn("core/reader.cc:2: includes webui/menu_bar.h: core may use only platform, base", r.stderr)

    def test_a_desktop_may_not_include_core_but_its_own_folder(self):
        r = Fixture(self, {"platform/gtk/gtk_menu.cc": "#include \"gtk_menu.h\"\n#include \"core/wire.h\"\n",
                     "platform/gtk/gtk_menu.h": "#pragma once\n", "core/wire.h": "#pragma once\n"}).run("includes")
        self.assertEqual(r.returncode, 1)
        self.assertIn("platform/gtk/gtk_menu.cc:2: includes core/wire.h", r.stderr)
        self.assertNotIn("gtk_menu.h", r.stderr)

    def test_desktop_headers_only_in_the_desktops(self):
        files = {"platform/gtk/gtk_window.cc": "#include <gtk/gtk.h>\n", "webui/keys.cc": "#include <gdk/gdk.h>\n"}
        r = Fixture(self, files).run("includes")
        self.assertEqual(r.returncode, 1)
        self.assertIn("webui/keys.cc:1: includes the desktop header gdk/gdk.h", r.stderr)
        self.assertNotIn("gtk_window.cc", r.stderr)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    for tool in ("cxx", "ar", "nm"):
        ap.add_argument("--" + tool, required=True)
    args, rest = ap.parse_known_args()
    TOOLS.update(vars(args))
    unittest.main(argv=[sys.argv[0]] + rest)
