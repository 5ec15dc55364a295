"""Memory of reading the mixed CSV text, and of derived frames.

Run by run.py in a fresh process per measurement, so that peaks do not mix:
    python3 bench/memory.py TEXT_FILE
prints one JSON object.
"""
import json
import resource
import sys


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def main(path):
    import tarnwick

    baseline = resident_bytes()
    with open(path, encoding="utf-8") as f:
        text = f.read()
    size = len(text.encode())
    frame = tarnwick.read_csv(text)
    peak = peak_bytes() - baseline
    result = {"text_bytes": size, "rows": frame.height(), "read_peak_bytes": peak,
              "read_peak_over_text": peak / size}
    del text
    derived = {}
    for name, make in [("sort", lambda: frame.sort("x", True)),
                       ("where_gt", lambda: frame.where_gt("x", -1.0 + 1e-300)),
                       ("select", lambda: frame.select(["id", "x"]))]:
        if not hasattr(frame, name):
            continue
        before = resident_bytes()
        kept = make()
        grown = resident_bytes() - before
        derived[name] = {"rows": kept.height(), "bytes": grown, "bytes_per_row": grown / max(1, kept.height())}
        del kept
    result["derived"] = derived
    print(json.dumps(result))


if __name__ == "__main__":
    main(sys.argv[1])
