#!/usr/bin/env python3
"""Plants one fault at a time in a copy of this tree and runs every test.

A fault the suite lets through points at behaviour no test checks. Each fault
is an exact text that must occur once in its file and its replacement; see
scripts/faults.txt for the format.

    python3 scripts/plant-faults.py [--list scripts/faults.txt] [--only 1,4-6]
                                    [--jobs 2] [--out report.txt] [--keep]
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# What scripts/test.sh gives the tests; harmless without sanitizers.
TEST_ENV = {
    "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}
NICE = ["nice", "-n", "15"]


@dataclass
class Fault:
    number: int
    description: str
    file: str
    old: str
    new: str
    expect: str = ""
    line: int = 0  # where the block starts in the list, for messages
    result: str = ""
    failed: list = field(default_factory=list)
    seconds: float = 0.0


def parse_faults(path):
    faults, current = [], None

    def finish():
        if current is None:
            return
        where = f"{path}:{current.line}"
        if not current.file or current.old is None or current.new is None:
            sys.exit(f"{where}: a fault needs 'file:', a '-' line and a '+' line")
        faults.append(current)

    for n, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if raw.startswith("## "):
            finish()
            current = Fault(len(faults) + 1, raw[3:].strip(), "", None, None, line=n)
        elif not raw.strip() or raw.startswith("#"):
            continue
        elif current is None:
            sys.exit(f"{path}:{n}: text before the first '## ' heading")
        elif raw.startswith("file:"):
            current.file = raw[5:].strip()
        elif raw.startswith("expect:"):
            current.expect = raw[7:].strip()
        # Several '-' (or '+') lines in a row are one text over several
        # lines, for a change whose line alone is not unique.
        elif raw.startswith("-") and current.new is None:
            text = raw[2:] if raw.startswith("- ") else raw[1:]
            current.old = text if current.old is None else current.old + "\n" + text
        elif raw.startswith("+") and current.old is not None:
            text = raw[2:] if raw.startswith("+ ") else raw[1:]
            current.new = text if current.new is None else current.new + "\n" + text
        else:
            sys.exit(f"{path}:{n}: cannot read {raw!r}")
    finish()
    return faults


def select(faults, only):
    if not only:
        return faults
    wanted = set()
    for part in only.split(","):
        a, _, b = part.partition("-")
        wanted.update(range(int(a), int(b or a) + 1))
    unknown = wanted - {f.number for f in faults}
    if unknown:
        sys.exit(f"no such fault: {sorted(unknown)}")
    return [f for f in faults if f.number in wanted]


def check_applies(faults, tree):
    """Every old text occurs exactly once, before anything is built."""
    bad = []
    for f in faults:
        target = tree / f.file
        if not target.is_file():
            bad.append(f"fault {f.number} (line {f.line}): no file {f.file}")
            continue
        count = target.read_text(encoding="utf-8").count(f.old)
        if count != 1:
            bad.append(f"fault {f.number} (line {f.line}): {f.old!r} occurs {count} times in {f.file}")
        elif f.old == f.new:
            bad.append(f"fault {f.number} (line {f.line}): replacement equals the original")
    if bad:
        sys.exit("\n".join(bad))


def run(cmd, log, cwd=None, env=None, mode="w"):
    """Runs cmd in its own process group, which goes with it if we are stopped."""
    with open(log, mode, encoding="utf-8") as out:
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            return proc.wait()
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            raise


def first_error(log):
    for line in Path(log).read_text(encoding="utf-8", errors="replace").splitlines():
        if "error" in line.lower() and ("error:" in line or "Error" in line):
            return line.strip()[:160]
    return "see " + str(log)


def ctest_once(build, jobs, log, extra=(), mode="w"):
    # --rerun-failed reads the list the run before left.
    failed_log = build / "Testing" / "Temporary" / "LastTestsFailed.log"
    if failed_log.exists() and not extra:
        failed_log.unlink()
    env = dict(os.environ, **TEST_ENV)
    start = Path(log).stat().st_size if mode == "a" and Path(log).exists() else 0
    run(NICE + ["ctest", "--test-dir", str(build), f"-j{jobs}", "--timeout", "120",
                "--output-on-failure", *extra], log, env=env, mode=mode)
    text = Path(log).read_text(encoding="utf-8", errors="replace")[start:]
    if re.search(r"100% tests passed", text):
        failed = []
    elif failed_log.exists():
        # A parameterised test's name ends in "  # GetParam() = ...".
        failed = [l.split(":", 1)[1].split("  #")[0] for l in failed_log.read_text().splitlines() if ":" in l]
    else:
        failed = ["(ctest did not finish: see " + str(log) + ")"]
    skipped = re.findall(r"Test\s+#\d+: (\S+) \.+\s*\*+Skipped", text)
    return failed, skipped


def ctest(build, jobs, log):
    """Runs every test, then once more those that failed: a test that fails
    only once is flaky under load, not a catch. Returns (failed, flaky,
    skipped)."""
    failed, skipped = ctest_once(build, jobs, log)
    if not failed or failed[0].startswith("("):
        return failed, [], skipped
    again, _ = ctest_once(build, jobs, log, extra=["--rerun-failed"], mode="a")
    confirmed = [t for t in failed if t in again]
    return confirmed, [t for t in failed if t not in again], skipped


def build(build_dir, jobs, log):
    return run(NICE + ["cmake", "--build", str(build_dir), f"-j{jobs}"], log) == 0


def write_keeping_newer(path, text):
    path.write_text(text, encoding="utf-8")
    # A fresh mtime so make sees the change even within the same second.
    now = time.time()
    os.utime(path, (now, now))


def summary(faults, total_seconds):
    rows = []
    wfile = max([len(f.file) for f in faults] + [4])
    wdesc = max([len(f.description) for f in faults] + [11])
    rows.append(f"{'#':>3}  {'file':<{wfile}}  {'description':<{wdesc}}  result")
    for f in faults:
        rows.append(f"{f.number:>3}  {f.file:<{wfile}}  {f.description:<{wdesc}}  {f.result}")
    built = [f for f in faults if f.result != "does not build"]
    caught = [f for f in built if f.failed]
    survived = [f for f in built if not f.failed]
    expected = [f for f in survived if f.expect]
    pct = 100.0 * len(caught) / len(built) if built else 0.0
    rows.append("")
    rows.append(f"{len(built)} faults, {len(caught)} caught ({pct:.0f}%)")
    if len(built) != len(faults):
        rows.append(f"{len(faults) - len(built)} more do not build and are not counted")
    rows.append(f"{len(survived)} survived, {len(expected)} of them expected to be invisible")
    for f in expected:
        rows.append(f"  {f.number}: {f.expect}")
    marked_caught = [f for f in caught if f.expect]
    for f in marked_caught:
        rows.append(f"  {f.number} was expected to be invisible but was caught")
    rows.append(f"{total_seconds / 60:.1f} minutes")
    return "\n".join(rows) + "\n"


def stop(signum, _frame):
    raise KeyboardInterrupt(f"signal {signum}")


def main():
    signal.signal(signal.SIGTERM, stop)
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--list", type=Path, default=ROOT / "scripts" / "faults.txt")
    ap.add_argument("--only", help="fault numbers, e.g. 1,4-6")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--out", type=Path, help="also write the table here")
    ap.add_argument("--keep", action="store_true", help="keep the temporary copy and its logs")
    args = ap.parse_args()

    faults = select(parse_faults(args.list), args.only)
    check_applies(faults, ROOT)
    started = time.time()
    work = Path(tempfile.mkdtemp(prefix="dustmaw-faults-"))
    tree, build_dir, logs = work / "src", work / "build", work / "logs"
    logs.mkdir()
    print(f"working in {work}", flush=True)
    try:
        ignore_top = shutil.ignore_patterns("build*", ".git")
        shutil.copytree(ROOT, tree, symlinks=True,
                        ignore=lambda d, names: ignore_top(d, names) if Path(d) == ROOT else
                        [n for n in names if n == ".git"])
        check_applies(faults, tree)
        if run(NICE + ["cmake", "-S", str(tree), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Debug",
                       "-DDUSTMAW_BENCH=OFF", "-DDUSTMAW_SANITIZE=OFF"], logs / "configure.log") != 0:
            sys.exit(f"configure failed: see {logs / 'configure.log'}")
        if not build(build_dir, args.jobs, logs / "baseline-build.log"):
            sys.exit(f"baseline does not build: {first_error(logs / 'baseline-build.log')}")
        failed, flaky, skipped = ctest(build_dir, args.jobs, logs / "baseline-test.log")
        if flaky:
            print(f"flaky at baseline: {', '.join(flaky)}", flush=True)
        if failed:
            sys.exit(f"baseline tests fail: {', '.join(failed)} (see {logs / 'baseline-test.log'})")
        print(f"baseline passes ({time.time() - started:.0f} s)"
              + (f"; skipped: {', '.join(skipped)}" if skipped else ""), flush=True)

        for f in faults:
            t0 = time.time()
            target = tree / f.file
            original = target.read_text(encoding="utf-8")
            if original.count(f.old) != 1:
                sys.exit(f"fault {f.number}: text no longer occurs once in {f.file}")
            write_keeping_newer(target, original.replace(f.old, f.new, 1))
            try:
                blog = logs / f"{f.number:02d}-build.log"
                if not build(build_dir, args.jobs, blog):
                    f.result = "does not build"
                    print(f"  fault {f.number}: {first_error(blog)}", flush=True)
                else:
                    f.failed, flaky, _ = ctest(build_dir, args.jobs, logs / f"{f.number:02d}-test.log")
                    if f.failed:
                        more = f" +{len(f.failed) - 2} more" if len(f.failed) > 2 else ""
                        f.result = "caught by " + ", ".join(f.failed[:2]) + more
                    else:
                        f.result = "SURVIVED" + (" (expected)" if f.expect else "")
                    if flaky:
                        f.result += " [failed once, passed again: " + ", ".join(flaky) + "]"
            finally:
                # The next build recompiles from the original text.
                write_keeping_newer(target, original)
            f.seconds = time.time() - t0
            print(f"{f.number:>3} {f.description}: {f.result} ({f.seconds:.0f} s)", flush=True)

        table = summary(faults, time.time() - started)
        print("\n" + table, end="")
        if args.out:
            args.out.write_text(table, encoding="utf-8")
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
