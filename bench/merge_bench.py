#!/usr/bin/python3
"""The merge benchmark, one command: generates the data sets, merges each with
`sheetmerge merge --header --start-row 2`, verifies the result, times the floor (read and inflate
the sources; write the same number of cells with our writer alone), libxlsxwriter writing the same
cells (when bench/lxw_write was built) and the pandas peer, and prints wall time, CPU time
(user + sys), cells per second, peak memory and the ratios.

    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCH=ON -DBUILD_DESKTOP=OFF
    ninja -C build-bench sheetmerge floor_bench lxw_write   # lxw_write needs libxlsxwriter-dev
    /usr/bin/python3 bench/merge_bench.py --build build-bench --work /tmp/smbench

--new-options also times, on each set, the merge with every option for files that are not quite
alike (NEW_OPTIONS below) against the plain merge, interleaved --repeat times, and prints the
ratio of the medians and both peaks:

    /usr/bin/python3 bench/merge_bench.py --build build-bench --sets large --peer '' --new-options

Sets: small (50 x 2,000 x 10), large (200 x 5,000 x 10), csvlarge (the large set's cells as
.csv sources), rich (the large set's shape with every text of a data row a rich text of three
runs: make_dataset.py --rich), mem20 and mem2000 (20 and 2,000 sources of --mem-rows rows, copies
of generated sources as hard links; mem2000 with 5,000 rows is ten million rows and overflows into
ten sheets). --peer small,large picks the sets the pandas script runs on (large takes minutes).
--repeat N merges each set N times, alternating between the sets, and prints every run (with
--new-options: N interleaved pairs of merges on each set, default 3).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
COLUMNS = 10


# Every option for files that are not quite alike, as a merge of real folders would use them.
NEW_OPTIONS = ["--align-columns", "--skip-blank-rows", "--drop-header-repeats", "--stop-at", "合计",
               "--skip-last", "1", "--dedupe", "--fill-merged", "--mark-name", "--log-sheet"]


def log(text):
    print(text, flush=True)


def timed(command, stdout_path=None):
    """Runs `command` under /usr/bin/time; returns (wall, cpu, peak MiB, exit code, stdout)."""
    measured = ["/usr/bin/time", "-f", "TIME %e %U %S %M"] + command
    process = subprocess.run(measured, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = [text for text in process.stderr.splitlines() if text.startswith("TIME ")][-1].split()
    wall, user, system, peak_kib = float(line[1]), float(line[2]), float(line[3]), int(line[4])
    if process.returncode != 0:
        log("  command failed (%d): %s\n%s" % (process.returncode, " ".join(command), process.stderr[-2000:]))
    return wall, user + system, peak_kib / 1024.0, process.returncode, process.stdout


def generate(folder, sources, rows, as_csv=False, rich=False):
    started = time.time()
    subprocess.run([PYTHON, os.path.join(HERE, "make_dataset.py"), folder, str(sources), str(rows)] +
                   (["--csv"] if as_csv else []) + (["--rich"] if rich else []), check=True)
    return time.time() - started


def linked_set(folder, base, sources, distinct):
    """A folder of `sources` hard links to the first `distinct` files of `base`."""
    os.makedirs(folder, exist_ok=True)
    for index in range(sources):
        target = os.path.join(folder, "src_%05d.xlsx" % index)
        if not os.path.exists(target):
            os.link(os.path.join(base, "src_%05d.xlsx" % (index % distinct)), target)


def merge(sheetmerge, folder, output, extra=()):
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    command = [sheetmerge, "merge", "--header", "--start-row", "2", *extra, "-q", "-o", output, folder]
    if extra:
        command[-1:-1] = ["--report", os.path.join(output, "report.json")]
    wall, cpu, peak, code, _ = timed(command)
    results = [name for name in os.listdir(output) if name.endswith(".xlsx")]
    path = os.path.join(output, results[0]) if len(results) == 1 else None
    return wall, cpu, peak, code, path


def report_summary(path):
    """What the last merge with the new options did, from its report: rows copied and left out."""
    try:
        with open(path, encoding="utf-8") as file:
            report = json.load(file)
    except (OSError, ValueError) as error:
        return "no report (%s)" % error
    merged = [entry for entry in report["entries"] if entry["outcome"] == "merged"]
    left_out = {}
    for entry in merged:
        for key, count in entry["leftOut"].items():
            left_out[key] = left_out.get(key, 0) + count
    return "%d sources merged, %d rows copied, left out: %s" % (
        len(merged), sum(entry["rowsCopied"] for entry in merged),
        ", ".join("%s %d" % item for item in sorted(left_out.items())))


def verify(path, sources, rows, distinct=None, rich=False):
    command = [PYTHON, os.path.join(HERE, "verify_result.py"), path, str(sources), str(rows)]
    if distinct:
        command += ["--distinct", str(distinct)]
    if rich:
        command.append("--rich")
    process = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return process.returncode == 0, process.stdout.strip().splitlines()[-1] if process.stdout.strip() else "no output"


def floor(floor_bench, folder, output):
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    wall, cpu, peak, code, stdout = timed([floor_bench, folder, output])
    values = dict(line.split("=", 1) for line in stdout.splitlines() if "=" in line)
    return {key: float(value) for key, value in values.items()}, peak


def libxlsxwriter(lxw_write, rows, output):
    """Times bench/lxw_write writing a header and `rows` data rows; returns (wall, cpu, peak, values)."""
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    wall, cpu, peak, code, stdout = timed([lxw_write, os.path.join(output, "lxw_write.xlsx"), str(rows)])
    shutil.rmtree(output, ignore_errors=True)
    if code != 0:
        return None
    values = dict(line.split("=", 1) for line in stdout.splitlines() if "=" in line)
    return wall, cpu, peak, {key: float(value) for key, value in values.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build-bench"))
    parser.add_argument("--work", default="/tmp/smbench")
    parser.add_argument("--sets", default="small,large,mem20,mem2000")
    parser.add_argument("--peer", default="small", help="sets the pandas peer runs on ('' for none)")
    parser.add_argument("--mem-rows", type=int, default=5000, help="rows per source of the memory sets")
    parser.add_argument("--keep", action="store_true", help="keep the merged results")
    parser.add_argument("--new-options", action="store_true",
                        help="also time the merge with every option for files not quite alike")
    parser.add_argument("--repeat", type=int, default=None,
                        help="merges of each set, taken in turns (default 1); with --new-options the "
                             "interleaved runs of the plain and the optioned merge (default 3)")
    arguments = parser.parse_args()
    if arguments.repeat is None:
        arguments.repeat = 3 if arguments.new_options else 1
    sheetmerge = os.path.join(arguments.build, "src", "sheetmerge")
    floor_bench = os.path.join(arguments.build, "bench", "floor_bench")
    lxw_write = os.path.join(arguments.build, "bench", "lxw_write")
    lxw_missing_told = False
    for program in (sheetmerge, floor_bench):
        if not os.access(program, os.X_OK):
            sys.exit("missing %s: build it first (see the top of this file)" % program)
    work = arguments.work
    os.makedirs(work, exist_ok=True)
    sets = [name for name in arguments.sets.split(",") if name]
    peers = [name for name in arguments.peer.split(",") if name]

    log("machine: %s, %d cores; %s" % (os.uname().machine, os.cpu_count(), time.strftime("%Y-%m-%d %H:%M")))
    log("load average at start: %.2f %.2f %.2f" % os.getloadavg())
    # csvlarge: the large set's cells as .csv sources (not verified: the result's types and formats
    # are the CSV reader's reading of the text, not the workbook's).
    shapes = {"small": (50, 2000), "large": (200, 5000), "csvlarge": (200, 5000), "rich": (200, 5000)}
    # Memory sets are links to generated sources: large's when they have its row count.
    mem_base_sources = 200
    if any(name.startswith("mem") for name in sets):
        if arguments.mem_rows == 5000:
            shapes.setdefault("large", (200, 5000))
            mem_base = "large"
        else:
            mem_base = "base%d" % arguments.mem_rows
            shapes[mem_base] = (mem_base_sources, arguments.mem_rows)
    for name, (sources, rows) in shapes.items():
        if name in sets or (name.startswith("base") or (name == "large" and any(s.startswith("mem") for s in sets)
                                                         and arguments.mem_rows == 5000)):
            seconds = generate(os.path.join(work, name), sources, rows, name.startswith("csv"), name == "rich")
            log("data set %-8s %d x %d x %d ready (%.1f s)" % (name, sources, rows, COLUMNS, seconds))
    for name in sets:
        if name.startswith("mem"):
            count = int(name[3:])
            shapes[name] = (count, arguments.mem_rows)
            linked_set(os.path.join(work, name), os.path.join(work, mem_base), count, min(count, mem_base_sources))

    summary = []
    # With --new-options the repeats are the interleaved pairs of merges below, on each set once.
    turns = 1 if arguments.new_options else arguments.repeat
    for name in [name for _ in range(turns) for name in sets]:
        sources, rows = shapes[name]
        cells = sources * rows * COLUMNS
        folder = os.path.join(work, name)
        output = os.path.join(work, "out-" + name)
        log("\n== %s: %d sources x %d rows x %d columns = %d cells" % (name, sources, rows, COLUMNS, cells))
        wall, cpu, peak, code, path = merge(sheetmerge, folder, output)
        if name.startswith("csv"):
            ok, verdict = (code == 0 and path is not None), "not verified (CSV sources); exit code checked"
        else:
            ok, verdict = (False, "no result") if path is None else verify(
                path, sources, rows, min(sources, mem_base_sources) if name.startswith("mem") else None,
                name == "rich")
        log("sheetmerge merge   wall %7.2f s  cpu %7.2f s  %10.0f cells/s (wall)  peak %6.1f MiB  exit %d" %
            (wall, cpu, cells / wall, peak, code))
        log("verify             %s %s" % ("OK" if ok else "FAILED", verdict))
        row = {"set": name, "cells": cells, "wall": wall, "cpu": cpu, "peak": peak, "ok": ok}
        if name in ("small", "large"):
            values, floor_peak = floor(floor_bench, folder, os.path.join(work, "out-floor"))
            floor_wall = values["read_wall"] + values["write_wall"]
            floor_cpu = values["read_cpu"] + values["write_cpu"]
            log("floor read+inflate wall %7.2f s  cpu %7.2f s  (%.0f MiB of XML)" %
                (values["read_wall"], values["read_cpu"], values["inflated_bytes"] / 1048576))
            log("floor write alone  wall %7.2f s  cpu %7.2f s  (%d cells)" %
                (values["write_wall"], values["write_cpu"], values["write_cells"]))
            log("merge / floor      wall %.2fx  cpu %.2fx" % (wall / floor_wall, cpu / floor_cpu))
            row.update(floor_wall=floor_wall, floor_cpu=floor_cpu)
            # libxlsxwriter writes what the merge writes: the header and the floor's data rows.
            if os.access(lxw_write, os.X_OK):
                measured = libxlsxwriter(lxw_write, int(values["write_rows"]), os.path.join(work, "out-lxw"))
                if measured is None:
                    log("libxlsxwriter write failed (see above)")
                else:
                    lxw_wall, lxw_cpu, lxw_peak, lxw_values = measured
                    log("libxlsxwriter write wall %7.2f s  cpu %7.2f s  (%d cells, %.1f MiB file)  peak %6.1f MiB" %
                        (lxw_wall, lxw_cpu, lxw_values["write_cells"], lxw_values["write_bytes"] / 1048576,
                         lxw_peak))
                    log("merge / libxlsxwriter  wall %.2fx  cpu %.2fx" % (wall / lxw_wall, cpu / lxw_cpu))
                    row.update(lxw_wall=lxw_wall, lxw_cpu=lxw_cpu, lxw_peak=lxw_peak)
            elif not lxw_missing_told:
                log("libxlsxwriter      skipped: no %s (apt-get install libxlsxwriter-dev, then rerun cmake and "
                    "ninja lxw_write)" % lxw_write)
                lxw_missing_told = True
        if arguments.new_options:
            plain, optioned = [], []
            for _ in range(arguments.repeat):
                plain.append(merge(sheetmerge, folder, output + "-plain"))
                optioned.append(merge(sheetmerge, folder, output + "-options", NEW_OPTIONS))
            for label, runs in (("plain", plain), ("new options", optioned)):
                log("%-18s wall %s s  cpu %s s  peak %s MiB  exits %s" % (
                    label, " ".join("%.2f" % run[0] for run in runs), " ".join("%.2f" % run[1] for run in runs),
                    " ".join("%.1f" % run[2] for run in runs), " ".join(str(run[3]) for run in runs)))
            median = lambda runs, k: sorted(run[k] for run in runs)[len(runs) // 2]  # noqa: E731
            log("new options / plain  wall %.2fx  cpu %.2fx  (medians of %d interleaved runs); "
                "peak with new options %.1f MiB" % (median(optioned, 0) / median(plain, 0),
                                                    median(optioned, 1) / median(plain, 1), arguments.repeat,
                                                    max(run[2] for run in optioned)))
            row.update(options_ratio=median(optioned, 0) / median(plain, 0),
                       options_peak=max(run[2] for run in optioned))
            log("new options did    %s" % report_summary(os.path.join(output + "-options", "report.json")))
            for suffix in ("-plain", "-options"):
                shutil.rmtree(output + suffix, ignore_errors=True)
        if name in peers:
            shutil.rmtree(output + "-peer", ignore_errors=True)
            os.makedirs(output + "-peer")
            peer_wall, peer_cpu, peer_peak, peer_code, _ = timed(
                [PYTHON, os.path.join(HERE, "peer_pandas.py"), folder, os.path.join(output + "-peer", "merged.xlsx")])
            log("pandas peer        wall %7.2f s  cpu %7.2f s  %10.0f cells/s (wall)  peak %6.1f MiB  exit %d" %
                (peer_wall, peer_cpu, cells / peer_wall, peer_peak, peer_code))
            log("pandas / merge     wall %.1fx  cpu %.1fx" % (peer_wall / wall, peer_cpu / cpu))
            shutil.rmtree(output + "-peer", ignore_errors=True)
        if not arguments.keep:
            shutil.rmtree(output, ignore_errors=True)
        summary.append(row)

    log("\nset       cells        wall s   cpu s   cells/s(cpu)  peak MiB  verified")
    for row in summary:
        log("%-8s %11d %8.2f %7.2f %13.0f %9.1f  %s" % (row["set"], row["cells"], row["wall"], row["cpu"],
                                                        row["cells"] / row["cpu"], row["peak"],
                                                        "yes" if row["ok"] else "NO"))
    plain = [row for row in summary if row["set"] == "large"]
    rich = [row for row in summary if row["set"] == "rich"]
    if plain and rich:
        # The best of each set's runs: the machine is shared, and load only ever adds time.
        best = lambda rows, key: min(row[key] for row in rows)
        log("\nrich / large (best of %d and %d runs)  wall %.2fx  cpu %.2fx  peak %.2fx" %
            (len(rich), len(plain), best(rich, "wall") / best(plain, "wall"),
             best(rich, "cpu") / best(plain, "cpu"), best(rich, "peak") / best(plain, "peak")))
    compared = [row for row in summary if "lxw_wall" in row]
    if compared:
        log("\nset       libxlsxwriter wall s   cpu s  peak MiB   merge/libxlsxwriter wall  cpu")
        for row in compared:
            log("%-8s %20.2f %7.2f %9.1f %24.2fx %5.2fx" % (row["set"], row["lxw_wall"], row["lxw_cpu"],
                                                           row["lxw_peak"], row["wall"] / row["lxw_wall"],
                                                           row["cpu"] / row["lxw_cpu"]))
    log("load average at end: %.2f %.2f %.2f" % os.getloadavg())
    return 0 if all(row["ok"] for row in summary) else 1


if __name__ == "__main__":
    sys.exit(main())
