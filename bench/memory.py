"""Memory of reading the mixed CSV text, and of derived frames.

Run by run.py in a fresh process per measurement, so that peaks do not mix:
    python3 bench/memory.py TEXT_FILE
prints one JSON object.
"""
import ctypes
import json
import resource
import sys


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def peak_bytes():
    """The peak resident size of this process image (ru_maxrss would include
    the parent's peak from before exec)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM")


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]


def allocated_bytes():
    """Bytes that malloc has handed out and not had back: what a derived frame
    keeps, without the freed temporaries that resident memory still counts."""
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


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
                       ("where_gt", lambda: frame.where_gt("x", 0.001)),
                       ("select", lambda: frame.select(["id", "x"]))]:
        if not hasattr(frame, name):
            continue
        before = allocated_bytes()
        kept = make()
        grown = allocated_bytes() - before
        derived[name] = {"rows": kept.height(), "bytes": grown, "bytes_per_row": grown / max(1, kept.height())}
        del kept
    result["derived"] = derived
    print(json.dumps(result))


if __name__ == "__main__":
    main(sys.argv[1])
