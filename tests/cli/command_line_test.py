#!/usr/bin/env python3
"""The command line's own options: `sheetmerge --version` prints the version that
project(VERSION) in CMakeLists.txt declares, `sheetmerge --help` names every command, and
inspect and cat answer --help.

Usage: command_line_test.py PATH/TO/sheetmerge PATH/TO/CMakeLists.txt
"""
import re
import subprocess
import sys


def main():
    sheetmerge, cmake_lists = sys.argv[1], sys.argv[2]
    failures = []
    with open(cmake_lists, encoding="utf-8") as handle:
        declared = re.search(r"project\(sheetmerge\s+VERSION\s+([0-9.]+)", handle.read())
    if not declared:
        failures.append("CMakeLists.txt declares no project(sheetmerge VERSION ...)")
    else:
        done = subprocess.run([sheetmerge, "--version"], capture_output=True, timeout=30)
        shown = done.stdout.decode("utf-8")
        if done.returncode != 0 or shown != f"sheetmerge {declared.group(1)}\n":
            failures.append(f"--version: exit {done.returncode}, stdout {shown!r}, "
                            f"expected 'sheetmerge {declared.group(1)}'")
    done = subprocess.run([sheetmerge, "--help"], capture_output=True, timeout=30)
    shown = done.stdout.decode("utf-8")
    for word in ["sheetmerge inspect", "sheetmerge cat", "sheetmerge merge", "sheetmerge --version"]:
        if word not in shown:
            failures.append(f"--help lacks {word!r}")
    # inspect and cat answer --help with the usage lines that name their options, as merge does.
    for command in (["inspect", "--help"], ["cat", "-h"], ["cat", "x.xlsx", "--help"]):
        done = subprocess.run([sheetmerge] + command, capture_output=True, timeout=30)
        shown = done.stdout.decode("utf-8")
        if done.returncode != 0 or f"sheetmerge {command[0]} " not in shown or "--password" not in shown:
            failures.append(f"{' '.join(command)}: exit {done.returncode}, stdout {shown!r}")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        return 1
    print("all command-line checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
