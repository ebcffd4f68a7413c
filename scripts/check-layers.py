#!/usr/bin/env python3
"""The layering rule, checked on the sources and on the built libraries.

base <- platform <- core <- webui <- services <- app, with ai on core: a folder
includes and calls only the folders the table below gives it. The desktops
(platform/gtk, pulse, curl, fake) see platform/, platform/common and base/ only.

  check-layers.py includes SOURCE_DIR [--allow 'FILE -> HEADER']... [--stamp FILE]
      Fails on an #include of a folder the including folder may not use, and on a
      desktop header (GTK, GLib, WebKit, X11, ...) outside the desktops.
  check-layers.py calls BUILD_DIR_OR_LIBRARIES... [--allow 'FILE -> FILE']... [--nm NM] [--stamp FILE]
      Reads the quibex_* static libraries with nm, joins each undefined symbol to
      the object that defines it (strong global definitions only), and fails on a
      call the table does not allow and on any cycle of object files.

An --allow entry tolerates one include or one call (fnmatch patterns on both
sides); an allowed call is also left out of the cycle search. Exit 1 on a
violation, with one line per violation naming file and rule.
"""

import argparse
import collections
import fnmatch
import os
import re
import subprocess
import sys

# What each folder may use besides itself.
DESKTOP_SEES = ["platform", "platform/common", "base"]
RULE = {
    "base": [],
    "platform": ["base"],
    "platform/common": ["platform", "base"],
    "core": ["platform", "base"],
    "webui": ["core", "platform", "base"],
    "services": ["webui", "core", "platform", "base"],
    "ai": ["core", "platform", "base"],
    "app": None,  # the composition root uses everything
    "platform/gtk": DESKTOP_SEES,
    "platform/pulse": DESKTOP_SEES,
    "platform/curl": DESKTOP_SEES,
    "platform/fake": DESKTOP_SEES,
}
RULE_TEXT = "base <- platform <- core <- webui <- services <- app, ai on core"

# The library each folder builds into.
LIBRARY_FOLDER = {"quibex_" + f.replace("/", "_"): f for f in RULE}

# Desktop headers: only the desktops include them, and main() which installs one.
DESKTOP_HEADER = re.compile(
    r"[<\"](gtk/|gdk/|gdk-pixbuf|glib|gio/|gobject/|webkit|JavaScriptCore|jsc/|X11/|libsoup|cairo|pango)")
DESKTOP_HEADER_OK = ("platform/gtk/", "platform/pulse/", "app/main.cc")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def folder_of(path):
    """The rule's folder of a source path relative to the tree, or None."""
    parts = path.split("/")
    if parts[0] == "platform" and len(parts) > 2 and "platform/" + parts[1] in RULE:
        return "platform/" + parts[1]
    return parts[0] if parts[0] in RULE and len(parts) > 1 else None


def allowed(src, dst):
    if src == dst or src is None or dst is None:
        return True
    uses = RULE[src]
    return uses is None or dst in uses


def rule_of(folder):
    uses = RULE[folder]
    if uses is None:
        return f"{folder} may use every folder"
    return f"{folder} may use only {', '.join(uses)}" if uses else f"{folder} may use no other folder"


def parse_allow(entries):
    out = []
    for e in entries:
        if "->" not in e:
            sys.exit(f"check-layers: an --allow entry is 'FROM -> TO': {e!r}")
        a, b = (s.strip() for s in e.split("->", 1))
        out.append((a, b))
    return out


def is_allowed(allow, a, b):
    return any(fnmatch.fnmatchcase(a, x) and fnmatch.fnmatchcase(b, y) for x, y in allow)


def finish(problems, title, stamp):
    if problems:
        print(f"check-layers: {title} ({RULE_TEXT}):", file=sys.stderr)
        for p in problems:
            print("  " + p, file=sys.stderr)
        return 1
    if stamp:
        with open(stamp, "w") as f:
            f.write("ok\n")
    return 0


# ---- includes ----

def source_files(root):
    for top in sorted({f.split("/")[0] for f in RULE}):
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for name in sorted(filenames):
                if name.endswith((".cc", ".h")):
                    yield os.path.relpath(os.path.join(dirpath, name), root)


def included_path(root, src, quote, name):
    """The tree path an include names, or None for a system or unknown header."""
    if quote != '"':
        return None
    beside = os.path.normpath(os.path.join(os.path.dirname(src), name))
    if os.path.exists(os.path.join(root, beside)):
        return beside
    return name if folder_of(name) else None


def check_includes(root, allow):
    problems = []
    for src in source_files(root):
        here = folder_of(src)
        if here is None:
            continue
        with open(os.path.join(root, src), encoding="utf-8", errors="replace") as f:
            for n, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                quote, name = m.groups()
                if DESKTOP_HEADER.search(line) and not src.startswith(DESKTOP_HEADER_OK):
                    if not is_allowed(allow, src, name):
                        problems.append(f"{src}:{n}: includes the desktop header {name}: only platform/gtk "
                                        "and platform/pulse may; move the call behind platform/")
                    continue
                target = included_path(root, src, quote, name)
                there = folder_of(target) if target else None
                if not allowed(here, there) and not is_allowed(allow, src, target):
                    problems.append(f"{src}:{n}: includes {target}: {rule_of(here)}")
    return problems


# ---- calls ----

def libraries(paths):
    """(library name, archive path) for the quibex_* archives named or in the folders named."""
    found = []
    for p in paths:
        names = [os.path.join(p, n) for n in sorted(os.listdir(p))] if os.path.isdir(p) else [p]
        for path in names:
            base = os.path.basename(path)
            m = re.fullmatch(r"lib(quibex_\w+)\.a", base)
            if m and m.group(1) in LIBRARY_FOLDER:
                found.append((m.group(1), path))
            elif not os.path.isdir(p):
                sys.exit(f"check-layers: not a quibex_* library: {path}")
    if not found:
        sys.exit(f"check-layers: no quibex_* library in {' '.join(paths)}")
    return found


def read_symbols(libs, nm):
    """Per object (named folder/member): the symbols it defines strongly and those it needs."""
    defined, needed = collections.defaultdict(set), collections.defaultdict(set)
    for lib, path in libs:
        folder = LIBRARY_FOLDER[lib]
        out = subprocess.run([nm, "-A", "-P", path], capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            head, _, rest = line.rpartition("]: ")
            fields = rest.split()
            if not head or len(fields) < 2:
                continue
            member = head.rsplit("[", 1)[1]
            obj = folder + "/" + (member[:-2] if member.endswith(".o") else member)
            sym, kind = fields[0], fields[1]
            if kind in "TDBR":  # strong global definitions; weak and inline ones (W, V, u) say nothing
                defined[obj].add(sym)
            elif kind == "U":
                needed[obj].add(sym)
    return defined, needed


def call_graph(defined, needed):
    where = collections.defaultdict(set)
    for obj, syms in defined.items():
        for s in syms:
            where[s].add(obj)
    edges = collections.defaultdict(set)
    for obj, syms in needed.items():
        for s in syms:
            for d in where.get(s, ()):
                if d != obj:
                    edges[obj].add(d)
    return edges


def cycles(edges):
    """Strongly connected components of more than one object (Tarjan, iterative)."""
    index, low, on, stack, out = {}, {}, set(), [], []
    nodes = sorted(set(edges) | {d for ds in edges.values() for d in ds})
    for root in nodes:
        if root in index:
            continue
        work = [(root, iter(sorted(edges.get(root, ()))))]
        index[root] = low[root] = len(index)
        stack.append(root)
        on.add(root)
        while work:
            v, it = work[-1]
            w = next(it, None)
            if w is not None:
                if w not in index:
                    index[w] = low[w] = len(index)
                    stack.append(w)
                    on.add(w)
                    work.append((w, iter(sorted(edges.get(w, ())))))
                elif w in on:
                    low[v] = min(low[v], index[w])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[v])
            if low[v] == index[v]:
                comp = []
                while True:
                    w = stack.pop()
                    on.discard(w)
                    comp.append(w)
                    if w == v:
                        break
                if len(comp) > 1:
                    out.append(sorted(comp))
    return out


def check_calls(paths, allow, nm):
    edges = call_graph(*read_symbols(libraries(paths), nm))
    problems = []
    kept = collections.defaultdict(set)
    for a, ds in sorted(edges.items()):
        for b in sorted(ds):
            if is_allowed(allow, a, b):
                continue
            kept[a].add(b)
            fa, fb = folder_of(a), folder_of(b)
            if not allowed(fa, fb):
                problems.append(f"{a} calls {b}: {rule_of(fa)}")
    for comp in cycles(kept):
        inside = set(comp)
        links = [f"\n      {a} -> {b}" for a in comp for b in sorted(kept[a]) if b in inside]
        problems.append(f"a cycle of {len(comp)} files, through the calls:{''.join(links)}")
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("mode", choices=["includes", "calls"])
    ap.add_argument("paths", nargs="+")
    ap.add_argument("--allow", action="append", default=[], metavar="'FROM -> TO'")
    ap.add_argument("--stamp", help="written when the check passes")
    ap.add_argument("--nm", default="nm", help="the nm of the toolchain (calls)")
    args = ap.parse_args()
    allow = parse_allow(args.allow)
    if args.mode == "includes":
        if len(args.paths) != 1:
            ap.error("includes takes the source folder")
        return finish(check_includes(args.paths[0], allow), "includes against the layering rule", args.stamp)
    return finish(check_calls(args.paths, allow, args.nm), "calls against the layering rule", args.stamp)


if __name__ == "__main__":
    sys.exit(main())
