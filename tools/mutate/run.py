#!/usr/bin/env python3
"""Mutation check: how many planted faults does the test suite catch?

Copies the working tree (src, bench, tests, CMakeLists.txt) into a scratch
tree under the build directory, builds it once (Release), then for each fault
of faults.txt: writes the faulty text into the scratch copy, rebuilds the
engine library, the engine and the test runner incrementally, runs the test
runner (sharded, stopping at the first failure, with a time limit: a mutant
that hangs counts as caught), and puts the original file back, also when
interrupted. The working tree itself is never modified, so work can go on
while a run is in progress.

Usage: tools/mutate/run.py [--build-dir build-mutate] [--only NAME-OR-PATH-SUBSTRING]
                           [--timeout SECONDS] [--shards N]
"""

import argparse
import filecmp
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
COPIED = ["src", "bench", "tests", "CMakeLists.txt"]


def parse_faults(path):
    faults = []
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("@ "):
                name, _, file = line[2:].partition("|")
                current = {"name": name.strip(), "file": file.strip(), "find": None, "replace": None, "line": number}
                faults.append(current)
            elif line.startswith("- ") and current is not None:
                current["find"] = line[2:].replace("\\n", "\n")
            elif line.startswith("+ ") and current is not None:
                current["replace"] = line[2:].replace("\\n", "\n")
            else:
                sys.exit(f"{path}:{number}: cannot read this line")
    for fault in faults:
        if fault["find"] is None or fault["replace"] is None:
            sys.exit(f"{path}:{fault['line']}: fault '{fault['name']}' needs a '-' and a '+' line")
    return faults


def sync_tree(tree):
    """Copies changed files into the scratch tree; unchanged ones keep their
    time stamps so that the build stays incremental."""
    wanted = set()
    for top in COPIED:
        source = os.path.join(ROOT, top)
        if os.path.isfile(source):
            pairs = [(source, os.path.join(tree, top))]
        else:
            pairs = []
            for directory, _, files in os.walk(source):
                for name in files:
                    s = os.path.join(directory, name)
                    pairs.append((s, os.path.join(tree, os.path.relpath(s, ROOT))))
        for s, d in pairs:
            wanted.add(os.path.normpath(d))
            if not os.path.exists(d) or not filecmp.cmp(s, d, shallow=False):
                os.makedirs(os.path.dirname(d), exist_ok=True)
                shutil.copyfile(s, d)
    for top in COPIED:
        target = os.path.join(tree, top)
        if os.path.isdir(target):
            for directory, _, files in os.walk(target):
                for name in files:
                    d = os.path.normpath(os.path.join(directory, name))
                    if d not in wanted:
                        os.remove(d)


def build(tree, build_dir, log):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", tree, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"], stdout=log,
                       stderr=log, check=True)
    result = subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "korvane", "korvane_tests"],
                            stdout=log, stderr=log)
    return result.returncode == 0


def run_suite(build_dir, shards, timeout):
    """Returns 'passed', 'failed' or 'timeout'."""
    runner = os.path.join(build_dir, "korvane_tests")
    procs = []
    for index in range(shards):
        env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(index))
        procs.append(subprocess.Popen([runner, "--gtest_fail_fast", "--gtest_brief=1"], cwd=build_dir, env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))
    deadline = time.monotonic() + timeout
    outcome = "passed"
    try:
        while procs:
            for p in list(procs):
                code = p.poll()
                if code is None:
                    continue
                procs.remove(p)
                if code != 0:
                    return "failed"
            if time.monotonic() > deadline:
                return "timeout"
            time.sleep(0.2)
    finally:
        for p in procs:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            p.wait()
    return outcome


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build-mutate")
    parser.add_argument("--faults", default=os.path.join(ROOT, "tools", "mutate", "faults.txt"))
    parser.add_argument("--only", default="")
    parser.add_argument("--timeout", type=float, default=300.0)
    parser.add_argument("--shards", type=int, default=2)
    args = parser.parse_args()

    base = os.path.join(ROOT, args.build_dir)
    tree = os.path.join(base, "tree")
    build_dir = os.path.join(base, "tree-build")
    os.makedirs(tree, exist_ok=True)
    faults = [f for f in parse_faults(args.faults) if args.only in f["name"] or args.only in f["file"]]
    sync_tree(tree)

    # Every fault must name text that occurs exactly once.
    for fault in faults:
        with open(os.path.join(tree, fault["file"]), encoding="utf-8") as f:
            count = f.read().count(fault["find"])
        if count != 1:
            sys.exit(f"fault '{fault['name']}': its text occurs {count} times in {fault['file']}")

    log_path = os.path.join(base, "mutate.log")
    with open(log_path, "w") as log:
        if not build(tree, build_dir, log):
            sys.exit(f"the unchanged tree does not build, see {log_path}")
        if run_suite(build_dir, args.shards, args.timeout) != "passed":
            sys.exit("the unchanged tree fails its tests")

        caught, survived, broken = [], [], []
        for number, fault in enumerate(faults, 1):
            path = os.path.join(tree, fault["file"])
            with open(path, encoding="utf-8") as f:
                original = f.read()
            stamp = os.stat(path)
            # The object file of the original source, kept aside so that the
            # restore below costs no second compilation.
            target = "korvane_tests" if fault["file"].startswith("tests/") else "korvane_core"
            obj = os.path.join(build_dir, "CMakeFiles", target + ".dir", fault["file"] + ".o")
            saved_obj = obj + ".original" if os.path.exists(obj) else None
            if saved_obj:
                shutil.copy2(obj, saved_obj)
            started = time.monotonic()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(fault["find"], fault["replace"], 1))
                if not build(tree, build_dir, log):
                    verdict = "does not build"
                    broken.append(fault)
                else:
                    outcome = run_suite(build_dir, args.shards, args.timeout)
                    verdict = {"failed": "caught", "timeout": "caught (hangs)", "passed": "SURVIVED"}[outcome]
                    (survived if outcome == "passed" else caught).append(fault)
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
                if saved_obj:
                    # The source gets its old time stamp back and the saved
                    # object a fresh one: the next build only archives and links.
                    os.utime(path, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
                    shutil.move(saved_obj, obj)
                    os.utime(obj)
                else:
                    os.utime(path)
            print(f"{number:3}/{len(faults)} {verdict:15} {fault['name']} ({fault['file']}, "
                  f"{time.monotonic() - started:.0f} s)", flush=True)

        print(f"\ncaught {len(caught)} of {len(faults)}, survived {len(survived)}"
              + (f", {len(broken)} do not build" if broken else ""))
        for fault in survived:
            print(f"  survived: {fault['name']} ({fault['file']})")
        for fault in broken:
            print(f"  does not build: {fault['name']} ({fault['file']})")
        # Leave the scratch build matching the unchanged tree.
        build(tree, build_dir, log)


def interrupted(signum, frame):
    raise KeyboardInterrupt


if __name__ == "__main__":
    # Ctrl-C and kill both end the run through the restoring "finally" above,
    # also when the run was started in the background (which ignores SIGINT).
    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted; the mutated file was restored")
