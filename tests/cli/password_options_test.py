#!/usr/bin/env python3
"""Runs the built `sheetmerge` with --password and --password-file on the encrypted fixtures of
tests/data/crypto: merge, inspect and cat; right, wrong, several and no passwords; password
files with a byte-order mark, CR line ends and empty lines; a missing file refused with exit 2.
The result is read back with openpyxl, and the sources are checked to be untouched.

Usage: password_options_test.py PATH/TO/sheetmerge
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

SHEETMERGE = sys.argv[1]
CRYPTO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "crypto")
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(*args):
    done = subprocess.run([SHEETMERGE, *args], capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def digest(folder):
    return {name: hashlib.sha256(open(os.path.join(folder, name), "rb").read()).hexdigest()
            for name in sorted(os.listdir(folder))}


def main():
    scratch = tempfile.mkdtemp(prefix="password_options_test.")
    os.environ["XDG_RUNTIME_DIR"] = scratch
    sources = os.path.join(scratch, "sources")
    os.mkdir(sources)
    # The sample a_plain.xlsx is not encrypted; the others open only with their passwords,
    # except the .xls saved with the default password.
    shutil.copy(os.path.join(CRYPTO, "..", "xls", "grid.xlsx"), os.path.join(sources, "a_plain.xlsx"))
    for name in ["agile_grid.xlsx", "standard_grid.xlsx", "cryptoapi_grid.xls",
                 "xor_default_password_grid.xls"]:
        shutil.copy(os.path.join(CRYPTO, name), sources)
    passwords = os.path.join(scratch, "passwords.txt")
    with open(passwords, "wb") as handle:
        handle.write("\ufeffnot this one\r\n\r\n密码Agile-1\r\nstandard-pw".encode("utf-8"))
    before = digest(sources)

    cases = [
        ("no password", [], 2, 3),
        ("wrong passwords", ["--password", "wrong", "--password=also wrong"], 2, 3),
        ("all passwords", ["--password", "api-Pass", "--password-file", passwords], 5, 0),
        ("some passwords", ["--password-file", passwords], 4, 1),
    ]
    for what, options, merged, failed in cases:
        out_dir = os.path.join(scratch, what.replace(" ", "_"))
        os.mkdir(out_dir)
        code, out, err = run("merge", "-q", *options, "-o", out_dir, sources)
        lines = out.splitlines()
        check(code == (1 if failed else 0), f"{what}: exit {code}, stderr {err.strip()!r}")
        summary = f"共选取【5】个文件，成功合并【{merged}】个，【{failed}】个合并失败。"
        check(len(lines) == 2 and lines[1] == summary, f"{what}: stdout {out!r}")
        if lines and os.path.isfile(lines[0]):
            book = openpyxl.load_workbook(lines[0])
            data = next(sheet for sheet in book.worksheets if sheet.title.startswith("成功合并"))
            names = [row[0] for row in data.iter_rows(values_only=True) if row[0] == "苹果"]
            check(len(names) == merged, f"{what}: {len(names)} blocks hold 苹果, expected {merged}")
            if failed:
                failures = [sheet for sheet in book.worksheets if sheet.title.startswith("失败列表")]
                listed = [cell for row in failures[0].iter_rows(values_only=True)
                          for cell in row if isinstance(cell, str) and "_grid" in cell] if failures else []
                check(len(listed) == failed, f"{what}: failure list {listed}")
    check(digest(sources) == before, "the sources changed")

    code, out, err = run("merge", "-q", "--password-file", os.path.join(scratch, "missing.txt"),
                         "-o", scratch, sources)
    check(code == 2 and "无法读取密码文件" in err and "missing.txt" in err and out == "",
          f"missing password file: exit {code}, stderr {err!r}")
    code, out, err = run("merge", "-q", "--password-file", scratch, "-o", scratch, sources)
    check(code == 2 and "无法读取密码文件" in err, f"folder as password file: exit {code}, {err!r}")
    code, out, err = run("merge", "-q", "--password", "-o", scratch, sources)
    check(code == 2, f"--password without a value must not take the next option: exit {code}")

    # inspect and cat take the same options.
    agile = os.path.join(CRYPTO, "agile_grid.xlsx")
    code, out, err = run("inspect", agile)
    check(code == 1 and "文件受密码保护（未提供密码或密码不正确）" in err, f"inspect locked: {code} {err!r}")
    code, out, err = run("inspect", "--password", "x", agile, "--password-file", passwords)
    check(code == 0 and "数据\tworksheet" in out, f"inspect with passwords: {code} {err!r}")
    code, out, err = run("cat", os.path.join(CRYPTO, "cryptoapi_grid.xls"), "--password=api-Pass")
    check(code == 0 and out.startswith("名称,数量,日期"), f"cat with a password: {code} {err!r}")
    code, out, err = run("cat", os.path.join(CRYPTO, "libreoffice_default_password_grid.xls"))
    check(code == 0 and out.startswith("名称,数量,日期"), f"cat of a default-password file: {code} {err!r}")
    code, out, err = run("cat", agile, "--password-file", os.path.join(scratch, "missing.txt"))
    check(code == 2 and "missing.txt" in err, f"cat with a missing password file: {code} {err!r}")
    code, out, err = run("inspect", os.path.join(CRYPTO, "hostile_spin_count.xlsx"), "--password", "x")
    check(code == 1 and "spinCount" in err, f"inspect of a hostile file: {code} {err!r}")

    shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(cases) + 9 - len(FAILURES)} passed, {len(FAILURES)} failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
