#!/usr/bin/env python3
"""Checks the folder layering of a configured and built tree.

  check_structure.py BUILD_DIR

Arrows: every target's link dependencies (CMake's file API) and every header
a compiled file read (the compiler's dependency files) are mapped to the top
folder they live in. platform/ reaches nothing of ours; framework/ reaches only
platform/; a shared room (any other folder that is no program) reaches only
framework/ and platform/; a program folder reaches no other program folder.
bench/ and tests/ may use anything. A folder's tests/ and fuzz/ count as it.

Symbols: no strong symbol is defined in two of our libraries (static archives
and object libraries), so that no link can pick one of two definitions.
"""
import json
import os
import re
import subprocess
import sys
from collections import defaultdict

PROGRAMS = {"transfer", "wipe", "search", "duplicates", "passgen"}
ANYTHING = {"bench", "tests"}
# Each program supplies the framework's catalog callback; no binary links two.
ONE_PER_PROGRAM = {"language_catalog()"}


def rank(folder):
    if folder == "platform":
        return 0
    if folder == "framework":
        return 1
    if folder in PROGRAMS:
        return 3
    if folder in ANYTHING:
        return 4
    return 2  # a shared room


def allowed(src, dst):
    if src == dst or src in ANYTHING:
        return True
    if src in PROGRAMS:
        return dst not in PROGRAMS and dst not in ANYTHING
    return rank(dst) < rank(src)


def top_folder(path, source_root):
    path = os.path.realpath(path)
    if not path.startswith(source_root + os.sep):
        return None
    rel = os.path.relpath(path, source_root)
    return rel.split(os.sep)[0] if os.sep in rel else None


def codemodel(build):
    reply = os.path.join(build, ".cmake", "api", "v1", "reply")
    if not os.path.isdir(reply):
        sys.exit(f"no CMake file API reply in {reply}: configure with scripts/build.sh")
    index = sorted(f for f in os.listdir(reply) if f.startswith("index-"))[-1]
    with open(os.path.join(reply, index)) as f:
        idx = json.load(f)
    cm_file = next(o["jsonFile"] for o in idx["objects"] if o["kind"] == "codemodel")
    with open(os.path.join(reply, cm_file)) as f:
        cm = json.load(f)
    source_root = os.path.realpath(cm["paths"]["source"])
    targets = {}
    for ref in cm["configurations"][0]["targets"]:
        with open(os.path.join(reply, ref["jsonFile"])) as f:
            targets[ref["id"]] = json.load(f)
    return source_root, targets


def check_arrows(build, source_root, targets):
    problems = set()
    folder_of = {}
    for tid, t in targets.items():
        folder_of[tid] = top_folder(os.path.join(source_root, t["paths"]["source"], "x"), source_root)
    for tid, t in targets.items():
        src = folder_of[tid]
        if src is None:
            continue
        for dep in t.get("dependencies", []):
            dst = folder_of.get(dep["id"])
            if dst and not allowed(src, dst):
                problems.add(f"{src}/ -> {dst}/: target {t['name']} depends on {targets[dep['id']]['name']}")
        for source in t.get("sources", []):
            if source.get("isGenerated"):
                continue
            path = os.path.join(source_root, source["path"])
            sfolder = top_folder(path, source_root) or src
            if not path.endswith((".cpp", ".cc")):
                continue
            dep_file = os.path.join(build, t["paths"]["build"], "CMakeFiles", t["name"] + ".dir",
                                    os.path.relpath(path, os.path.join(source_root, t["paths"]["source"])) + ".o.d")
            if not os.path.exists(dep_file):
                continue
            with open(dep_file) as f:
                words = f.read().replace("\\\n", " ").split()
            for word in words[1:]:
                dst = top_folder(word, source_root) if word.startswith("/") else None
                if dst and not allowed(sfolder, dst):
                    problems.add(f"{sfolder}/ -> {dst}/: {os.path.relpath(path, source_root)} includes "
                                 f"{os.path.relpath(os.path.realpath(word), source_root)}")
    return sorted(problems)


def check_symbols(build, source_root, targets):
    defined = defaultdict(set)
    for t in targets.values():
        if t["type"] not in ("STATIC_LIBRARY", "OBJECT_LIBRARY"):
            continue
        files = [os.path.join(build, a["path"]) for a in t.get("artifacts", [])]
        files = [f for f in files if os.path.exists(f)]
        if not files:
            continue
        out = subprocess.run(["nm", "-C", "--defined-only", *files], capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in "TDBR":  # strong, global
                defined[parts[2]].add(t["name"])
    return sorted(f"{sym}: defined in {', '.join(sorted(libs))}" for sym, libs in defined.items()
                  if len(libs) > 1 and re.sub(r"\[abi:\w+\]", "", sym) not in ONE_PER_PROGRAM)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.realpath(sys.argv[1])
    source_root, targets = codemodel(build)
    arrows = check_arrows(build, source_root, targets)
    symbols = check_symbols(build, source_root, targets)
    for p in arrows:
        print("arrow not allowed:", p)
    for p in symbols:
        print("symbol defined twice:", p)
    if arrows or symbols:
        sys.exit(1)
    print("structure: no arrow against the layering, no symbol defined twice")


if __name__ == "__main__":
    main()
