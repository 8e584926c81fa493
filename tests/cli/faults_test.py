#!/usr/bin/env python3
"""Faults of `sheetmerge merge` end to end: a result folder that cannot be written, a disk that
fills up during the final save, a result name already taken, locked sources, and broken and
hostile files among good ones. Checks the exit status, the messages, the summary, that no
half-written result stays behind and that no source changed (bytes and modification time).
Every result written passes the structural check of tests/support/xlsx_check.py. Tests that
need root (mounting a small tmpfs) say SKIP without it.

Usage: faults_test.py PATH/TO/sheetmerge TEST_DATA_FOLDER CORPUS_FOLDER
"""
import datetime
import fcntl
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

import openpyxl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

SHEETMERGE, TEST_DATA, CORPUS = sys.argv[1:4]
FAILURES = []
SUMMARY = re.compile(r"^共选取【(\d+)】个文件，成功合并【(\d+)】个，【(\d+)】个合并失败。$")


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)


def check_structure(path, what):
    faults = xlsx_check.check_package(path)
    check(not faults, f"{what}: structural faults in {os.path.basename(path)}: {faults}")


def skip(what, why):
    print(f"SKIP: {what}: {why}")


def run(*args):
    done = subprocess.run([SHEETMERGE, "merge", "-q", *args], capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def snapshot(paths):
    state = {}
    for path in paths:
        with open(path, "rb") as handle:
            state[path] = (hashlib.sha256(handle.read()).hexdigest(), os.stat(path).st_mtime_ns)
    return state


def workbook(path, tag, rows=3):
    book = openpyxl.Workbook()
    sheet = book.active
    for n in range(1, rows + 1):
        sheet.append([f"{tag}-{n}", n])
    book.save(path)
    return path


def summary_of(out):
    """(chosen, merged, failed) from the last stdout line, or None."""
    lines = out.splitlines()
    found = SUMMARY.match(lines[-1]) if lines else None
    return tuple(int(group) for group in found.groups()) if found else None


def make_xls_repeated_long_string(path):
    """An .xls of 65,536 cells that all show one shared string of 32,767 characters: about
    2.1 GB of cell text from a 0.9 MB file, past the memory bound of one source. Made here
    with the record helpers of tests/data/xls/make_fixtures.py (too large to keep as a fixture)."""
    import importlib.util
    import struct
    spec = importlib.util.spec_from_file_location("xls_fixtures", os.path.join(TEST_DATA, "xls", "make_fixtures.py"))
    xls = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(xls)
    text = bytes(ord("a") + i % 26 for i in range(32767))
    # The string runs on in CONTINUE records, each opening with its flags byte (0: 8-bit).
    first = struct.pack("<II", 65536, 1) + struct.pack("<HB", len(text), 0) + text[:8213]
    records = [xls.record(0x00FC, first)]
    for start in range(8213, len(text), 8223):
        records.append(xls.record(0x003C, bytes([0]) + text[start:start + 8223]))
    with open(path, "wb") as handle:
        handle.write(xls.compound_file({"Workbook": xls.biff8_book(records, [0] * 65536)}))
    return path


def is_root():
    return os.geteuid() == 0


def mount_tmpfs(folder, size, read_only=False):
    """Mounts a tmpfs of `size` on folder; False when this process may not mount."""
    if not is_root():
        return False
    options = f"size={size},mode=0777" + (",ro" if read_only else "")
    return subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder],
                          capture_output=True).returncode == 0


def unmount(folder):
    subprocess.run(["umount", folder], capture_output=True)


def test_unwritable_result_folder(scratch, sources):
    what = "unwritable result folder"
    target = os.path.join(scratch, "readonly")
    os.mkdir(target)
    mounted = mount_tmpfs(target, "1m", read_only=True)
    if not mounted:
        if is_root():
            return skip(what, "root ignores permissions and tmpfs cannot be mounted here")
        os.chmod(target, 0o555)
    try:
        before = snapshot(sources)
        code, out, err = run("-o", target, *sources)
        check(code == 3, f"{what}: exit {code}, expected 3 (stderr {err.strip()!r})")
        check(out == "", f"{what}: stdout {out!r}")
        check(target in err, f"{what}: the message does not name the folder: {err.strip()!r}")
        check(os.listdir(target) == [], f"{what}: left {os.listdir(target)}")
        check(snapshot(sources) == before, f"{what}: sources changed")
    finally:
        if mounted:
            unmount(target)
        else:
            os.chmod(target, 0o755)


def test_disk_full_during_save(scratch, sources):
    what = "disk full during the final save"
    target = os.path.join(scratch, "small")
    os.mkdir(target)
    # Text that does not compress: the merged result needs several MiB; the disk has 1 MiB.
    rng = random.Random(7)
    big = []
    for index in range(3):
        path = os.path.join(scratch, f"big{index}.csv")
        with open(path, "w", encoding="utf-8") as handle:
            for _ in range(20000):
                handle.write(",".join("%016x" % rng.getrandbits(64) for _ in range(5)) + "\n")
        big.append(path)
    if not mount_tmpfs(target, "1m"):
        return skip(what, "needs root to mount a 1 MiB tmpfs")
    try:
        all_sources = sources + big
        before = snapshot(all_sources)
        code, out, err = run("-o", target, *all_sources)
        check(code == 3, f"{what}: exit {code}, expected 3 (stderr {err.strip()[-300:]!r})")
        check(summary_of(out) is None, f"{what}: a summary was printed as if saved: {out!r}")
        check("无法保存到" in err, f"{what}: the message does not say the result was not saved: {err.strip()!r}")
        # The run made its (empty) result file at the start, as every run does; when the final
        # save fails, neither that empty book nor a temporary or truncated file may be left.
        left = os.listdir(target)
        check(left == [], f"{what}: files left: {left}")
        check(snapshot(all_sources) == before, f"{what}: sources changed")
    finally:
        unmount(target)


def test_result_name_taken(scratch, sources):
    what = "result name already taken"
    target = os.path.join(scratch, "taken")
    os.mkdir(target)
    # Somebody else's files bear every time-stamped name of the next minute.
    now = datetime.datetime.now()
    theirs = []
    for offset in range(-2, 60):
        stamp = (now + datetime.timedelta(seconds=offset)).strftime("%y%m%d %H%M%S")
        path = os.path.join(target, f"合并 {stamp}.xlsx")
        with open(path, "w") as handle:
            handle.write("not ours")
        theirs.append(path)
    before = snapshot(sources + theirs)
    code, out, err = run("-o", target, *sources)
    check(code == 0, f"{what}: exit {code} (stderr {err.strip()!r})")
    lines = out.splitlines()
    check(len(lines) == 2 and re.search(r"合并 \d{6} \d{6} \(2\)\.xlsx$", lines[0] if lines else ""),
          f"{what}: result {out!r}")
    check(snapshot(sources + theirs) == before, f"{what}: a source or somebody's file changed")
    if lines and os.path.isfile(lines[0]):
        check_structure(lines[0], what)
    check(len(os.listdir(target)) == len(theirs) + 1, f"{what}: files {sorted(os.listdir(target))}")


def test_locked_sources(scratch, sources):
    what = "locked sources"
    target = os.path.join(scratch, "locked")
    os.mkdir(target)
    before = snapshot(sources)
    # This process holds an exclusive whole-file lock and a write record lock, as an office
    # program holding a file open does; the merge must still read them, read-only.
    first = open(sources[1], "r+b")
    fcntl.flock(first, fcntl.LOCK_EX | fcntl.LOCK_NB)
    second = open(sources[2], "r+b")
    fcntl.lockf(second, fcntl.LOCK_EX | fcntl.LOCK_NB)
    try:
        code, out, err = run("-o", target, *sources)
        check(code == 0, f"{what}: exit {code} (stderr {err.strip()!r})")
        check(summary_of(out) == (len(sources), len(sources), 0), f"{what}: summary {out!r}")
        lines = out.splitlines()
        if lines and os.path.isfile(lines[0]):
            check_structure(lines[0], what)
    finally:
        first.close()
        second.close()
    check(snapshot(sources) == before, f"{what}: sources changed")


def test_broken_and_hostile_among_good(scratch, sources):
    what = "broken and hostile files among good ones"
    folder = os.path.join(scratch, "mixed")
    os.mkdir(folder)
    good = [shutil.copy(path, folder) for path in sources]
    bad = []
    for sub in ("hostile", "regressions"):
        base = os.path.join(TEST_DATA, sub)
        for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
            if name.endswith((".py", ".md")) or name == "claims_whole_grid.xlsx":
                continue
            bad.append(shutil.copy(os.path.join(base, name), os.path.join(folder, f"{sub}_{name}")))
    for name in ["calamine__pass_protected.xlsx", "sheetjs__password_2002_40_xor.xls",
                 "calamine__date.xlsb-renamed.xlsx", "openpyxl__null_file.xlsx", "poi__poc-xmlbomb.xlsx",
                 "calamine__temperature-table.truncated.xlsx",
                 "poi__clusterfuzz-POIHSSFFuzzer-6537773940867072.xls"]:
        if os.path.exists(os.path.join(CORPUS, name)):
            bad.append(shutil.copy(os.path.join(CORPUS, name), folder))
    for name in ["deep_nesting.xlsx", "doctype_in_sheet.xlsx", "malformed_sheet_xml.xlsx",
                 "too_many_sheets.xlsx", "too_many_row_entries.xlsx"]:
        bad.append(shutil.copy(os.path.join(TEST_DATA, "xlsx", name), folder))
    for name in ["truncated.zip", "damaged_deflate.zip", "overlapping_entries.zip"]:
        bad.append(shutil.copy(os.path.join(TEST_DATA, "zip", name),
                               os.path.join(folder, name.replace(".zip", "_zip.xlsx"))))
    bad.append(make_xls_repeated_long_string(os.path.join(folder, "repeated_long_sst.xls")))
    everything = good + bad
    before = snapshot(everything)
    code, out, err = run(*everything)
    check(code == 1, f"{what}: exit {code}, expected 1 (stderr {err.strip()[-400:]!r})")
    check(summary_of(out) == (len(everything), len(good), len(bad)),
          f"{what}: summary {out.splitlines()[-1:]}, expected {len(everything)}/{len(good)}/{len(bad)}")
    # One line per failed source on stderr, "失败：路径：原因：说明", with the engine's cause.
    failed_lines = [line[len("失败："):] for line in err.splitlines() if line.startswith("失败：")]
    listed_paths = []
    for line in failed_lines:
        fields = line.split("：")
        check(len(fields) >= 3 and "：".join(fields[2:]).strip() != "",
              f"{what}: failure line without a cause: {line!r}")
        listed_paths.append(fields[0])
    check(sorted(listed_paths) == sorted(bad), f"{what}: failure lines name {sorted(listed_paths)}")
    lines = out.splitlines()
    if lines and os.path.isfile(lines[0]):
        check_structure(lines[0], what)
        book = openpyxl.load_workbook(lines[0])
        check(book.sheetnames == [f"失败列表({len(bad)})", f"成功合并({len(good)})"], f"{what}: sheets {book.sheetnames}")
        listed = {cell for row in book.worksheets[0].iter_rows(min_row=3, values_only=True) for cell in row[1:] if cell}
        check(listed == {os.path.basename(path) for path in bad}, f"{what}: failure list {sorted(listed)}")
        firsts = [row[0] for row in book.worksheets[1].iter_rows(values_only=True)]
        for path in good:
            tag = os.path.splitext(os.path.basename(path))[0]
            check(f"{tag}-1" in firsts, f"{what}: {tag} missing from the result")
        os.remove(lines[0])
    check(snapshot(everything) == before, f"{what}: sources changed")


def main():
    scratch = tempfile.mkdtemp(prefix="faults_test.")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["XDG_RUNTIME_DIR"] = runtime
    sources_folder = os.path.join(scratch, "sources")
    os.mkdir(sources_folder)
    sources = [workbook(os.path.join(sources_folder, f"{tag}.xlsx"), tag) for tag in ("a", "b", "c")]
    try:
        for test in (test_unwritable_result_folder, test_disk_full_during_save, test_result_name_taken,
                     test_locked_sources, test_broken_and_hostile_among_good):
            print("==", test.__name__)
            test(scratch, sources)
    finally:
        for folder in ("readonly", "small"):
            unmount(os.path.join(scratch, folder))
        shutil.rmtree(scratch, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all fault checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
