"""A seeded sample of small mutations of some source files, each built and run
against the C++ and Python tests: which of them the tests catch.

    ./dev shell -c 'python3 tools/mutation_sample.py --count 30 --seed 19 \
        src/arrow/import.cpp src/arrow/export.cpp ...'

The candidates are every place in the files' code lines where one of these
applies: a comparison turned into its neighbour (< and <=, > and >=, == and
!=), && and || swapped, a condition negated, an integer constant moved by one,
a guard that returns (an `if (...) return ...;` line) deleted. They are
shuffled with the seed, and the first --count that compile are run: the C++
unit tests, then the Python tests stopping at the first failure; a Python
test that fails is run again alone, and one that then passes (a timing test
caught out by the machine's load) is left out of another run. The report
lists every mutant with its line before and after and the test that caught
it; a mutant that survives is judged by hand (does it change any behaviour?).
The tree is restored after each mutant and at the end.
"""
import argparse
import json
import os
import pathlib
import random
import re
import signal
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "mutants"

# Binary operators stand between spaces in this code base (clang-format), which
# tells them from template brackets and shifts.
SWAPS = [(" <= ", " < "), (" < ", " <= "), (" >= ", " > "), (" > ", " >= "),
         (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && ")]


def code_lines(text):
    """(index, code) of the lines that hold code, comments cut off."""
    for i, line in enumerate(text.split("\n")):
        stripped = line.strip()
        if not stripped or stripped.startswith(("//", "#", "static_assert")):
            continue
        yield i, line.split("//")[0]


def candidates(path):
    text = path.read_text()
    lines = text.split("\n")
    found = []
    for i, code in code_lines(text):
        for operator, replacement in SWAPS:
            for m in re.finditer(re.escape(operator), code):
                found.append((str(path), i, m.start(), m.end(), replacement, "swap"))
        for m in re.finditer(r"\bif \(", code):
            found.append((str(path), i, m.start(), m.end(), "if (!", "negate"))
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
            value = int(m.group(1))
            found.append((str(path), i, m.start(), m.end(), str(value + 1), "constant"))
        if re.match(r"\s*if \(.*\) return .*;\s*$", lines[i]):
            found.append((str(path), i, 0, len(lines[i]), "", "delete guard"))
    return found


def apply(candidate):
    path, i, start, end, replacement, kind = candidate
    p = pathlib.Path(path)
    lines = p.read_text().split("\n")
    line = lines[i]
    if kind == "negate":
        # if (COND) -> if (!(COND)): find the matching parenthesis.
        depth, j = 0, start + 3
        for j in range(start + 3, len(line)):
            depth += {"(": 1, ")": -1}.get(line[j], 0)
            if depth == 0:
                break
        if depth != 0:
            return None
        mutated = line[:start] + "if (!(" + line[start + 4:j] + "))" + line[j + 1:]
    else:
        mutated = line[:start] + replacement + line[end:]
    lines[i] = mutated
    return line, mutated, "\n".join(lines)


def run(command, timeout):
    """The exit status and output of a command in its own process group, which
    is ended whole when the command runs out of time ("timeout")."""
    env = dict(os.environ, PYTHONPATH=str(BUILD))
    process = subprocess.Popen(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, env=env, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return "timeout", ""


def failing_test(output):
    for line in output.splitlines():
        if line.startswith("FAILED ") or line.startswith("ERROR "):
            return line.split()[1]
    return None


def caught_by(timeout):
    """The test that catches the mutant, or None. A Python test that fails
    alone again catches it; one that passes alone was caught out by the load
    of the machine (a timing test) and is left out of a new run."""
    status, output = run(["ctest", "--test-dir", str(BUILD), "-j2"], timeout)
    if status != 0:
        failed = re.findall(r"^\s*\d+ - (\S+)", output, re.M)
        return "ctest: " + (failed[0] if failed else str(status))
    left_out = []
    for _ in range(3):
        command = [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "tests"]
        command += [f"--deselect={test}" for test in left_out]
        status, output = run(command, timeout)
        if status == "timeout":
            return "pytest: timeout"
        if status == 0:
            return None
        test = failing_test(output)
        if test is None:
            return f"pytest: status {status}"
        again, _ = run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", test], timeout)
        if again != 0:
            return test
        left_out.append(test)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="+")
    parser.add_argument("--count", type=int, default=30)
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--json", help="write the report here too")
    args = parser.parse_args()
    pool = [c for f in args.files for c in candidates(ROOT / f)]
    random.Random(args.seed).shuffle(pool)
    subprocess.run(["cmake", "-S", ".", "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTARNWICK_TESTS=ON", "-DTARNWICK_PORTABLE=OFF"], cwd=ROOT, check=True,
                   capture_output=True)
    report = []
    for candidate in pool:
        if len(report) == args.count:
            break
        path = pathlib.Path(candidate[0])
        original = path.read_text()
        applied = apply(candidate)
        if applied is None or applied[2] == original:
            continue
        before, after, text = applied
        path.write_text(text)
        try:
            if run(["cmake", "--build", str(BUILD)], 900)[0] != 0:
                continue
            by = caught_by(1200)
        finally:
            path.write_text(original)
        entry = {"file": str(path.relative_to(ROOT)), "line": candidate[1] + 1, "kind": candidate[5],
                 "before": before.strip(), "after": after.strip(), "caught": by is not None,
                 "by": by}
        report.append(entry)
        print(f"{'caught  ' if by else 'SURVIVED'} {entry['file']}:{entry['line']} ({entry['kind']})"
              f"{' by ' + by if by else ''}\n    - {entry['before']}\n    + {entry['after']}", flush=True)
    caught = sum(e["caught"] for e in report)
    print(f"\n{caught} of {len(report)} mutants caught")
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(report, indent=1) + "\n")


if __name__ == "__main__":
    main()
