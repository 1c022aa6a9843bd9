#!/usr/bin/env python3
"""Plants faults in the product one at a time and says which tests catch each.

Usage: tests/plant_faults.py FAULTS [--build-dir build/release] [--jobs 2] [--timeout 600]
       tests/plant_faults.py FAULTS --check

FAULTS is a text file of faults, each:

    === a short name for the fault
    file: converter/map_writer.cpp
    - the exact text to replace (it must occur once in the file)
    + the text that replaces it

Lines starting with '#' are comments; '\\n' in a '-' or '+' line stands for
a line break. For each fault the file is changed, the build folder rebuilt
and every test run (ctest); then the file is restored, whatever happened.
One line per fault says which tests failed (the fault is caught), or that
none did (it survived), or that it does not build. Not run by CI: a tool
for measuring how strong the tests are.

--check plants nothing and builds nothing: it names every fault whose file
is missing or whose text does not occur exactly once, and exits 1 if there
is any; after the code moves, it says which faults must follow it.
"""
import argparse
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def read_faults(path):
    faults, current = [], None
    for raw in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        if raw.startswith("#") or not raw.strip():
            continue
        if raw.startswith("=== "):
            current = {"name": raw[4:].strip()}
            faults.append(current)
        elif current is None:
            sys.exit(f"{path}: text before the first '=== ' line: {raw}")
        elif raw.startswith("file: "):
            current["file"] = raw[6:].strip()
        elif raw.startswith("- "):
            current["old"] = raw[2:].replace("\\n", "\n")
        elif raw.startswith("+ ") or raw == "+":
            current["new"] = raw[2:].replace("\\n", "\n")
        else:
            sys.exit(f"{path}: can't read: {raw}")
    for fault in faults:
        missing = [k for k in ("file", "old", "new") if k not in fault]
        if missing:
            sys.exit(f"fault '{fault['name']}' lacks {', '.join(missing)}")
    return faults


def misplaced(faults):
    """The faults that can't be planted, each with why."""
    found = []
    for fault in faults:
        path = ROOT / fault["file"]
        if not path.is_file():
            found.append((fault, f"no file {fault['file']}"))
            continue
        count = path.read_text(encoding="utf-8").count(fault["old"])
        if count != 1:
            found.append((fault, f"the text occurs {count} times in {fault['file']}"))
    return found


def run(command):
    return subprocess.run(command, cwd=ROOT, capture_output=True, text=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("faults")
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--timeout", default="600", help="seconds a test may take (ctest --timeout)")
    parser.add_argument("--check", action="store_true",
                        help="only check that every fault's text occurs once in its file; plant nothing")
    args = parser.parse_args()

    faults = read_faults(args.faults)
    problems = misplaced(faults)
    for fault, why in problems:
        print(f"fault '{fault['name']}': {why}", file=sys.stderr)
    if args.check:
        print(f"{len(faults) - len(problems)} of {len(faults)} faults can be planted")
    if problems or args.check:
        sys.exit(1 if problems else 0)

    caught = survived = 0
    for fault in faults:
        path = ROOT / fault["file"]
        original = path.read_bytes()
        try:
            path.write_bytes(original.replace(fault["old"].encode(), fault["new"].encode(), 1))
            build = run(["cmake", "--build", args.build_dir, "--parallel", args.jobs])
            if build.returncode != 0:
                print(f"DOES NOT BUILD | {fault['name']} | {fault['file']}", flush=True)
                continue
            # A fault that makes a loop endless would otherwise hold each
            # test it hangs for ctest's default of 25 minutes.
            tests = run(["ctest", "--test-dir", args.build_dir, "-j", args.jobs, "--timeout", args.timeout])
            # "  12 - Suite.Name (Failed)"; a parameterised test's name goes
            # on with "  # GetParam() = ...".
            failed = re.findall(r"^\s*\d+ - (\S+)(?:\s+# .*?)? \((?:Failed|SEGFAULT|Subprocess|Timeout|Exception)",
                                tests.stdout, re.M)
            names = sorted(set(failed))
            if names:
                caught += 1
                print(f"CAUGHT | {fault['name']} | {fault['file']} | {', '.join(names)}", flush=True)
            else:
                survived += 1
                print(f"SURVIVED | {fault['name']} | {fault['file']}", flush=True)
        finally:
            path.write_bytes(original)
    run(["cmake", "--build", args.build_dir, "--parallel", args.jobs])
    total = caught + survived
    if total:
        print(f"{caught} of {total} caught ({100 * caught // total} %)")


if __name__ == "__main__":
    main()
