"""The benchmark's table and chart."""

PEERS = ("pandas", "pyarrow-1t", "pyarrow")


def fastest_peer(entry):
    times = [v["seconds"] for s, v in entry["systems"].items() if s in PEERS and v["agrees"]]
    return min(times) if times else None


def throughput_text(value, unit):
    if value is None:
        return "-"
    if unit == "MB":
        return f"{value:,.0f} MB/s"
    return f"{value / 1e6:,.1f} M rows/s"


def table(results):
    lines = [f"{'task':28} {'rows':>10}  {'system':11} {'median':>10} {'throughput':>16} "
             f"{'/ fastest peer':>14} {'faults':>9}"]
    for entry in results:
        if "memory" in entry:
            continue
        best = fastest_peer(entry)
        first = True
        for system, v in entry["systems"].items():
            ratio = f"{v['seconds'] / best:.2f}x" if best else "-"
            label = entry["task"] if first else ""
            rows = f"{entry['rows']:,}" if first else ""
            flag = "" if v["agrees"] else "  (result differs: not counted)"
            lines.append(f"{label:28} {rows:>10}  {system:11} {v['seconds'] * 1e3:8.1f}ms "
                         f"{throughput_text(v['throughput'], entry['unit']):>16} {ratio:>14} "
                         f"{v['faults']:>9,}{flag}")
            first = False
    return "\n".join(lines)


def chart(results, path, machine):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = [(f"{e['task']} ({e['rows']:,})", fastest_peer(e) / e["systems"]["tarnwick"]["seconds"])
            for e in results if "tarnwick" in e.get("systems", {}) and fastest_peer(e)]
    if not rows:
        return
    labels, speedups = zip(*reversed(rows))
    fig, ax = plt.subplots(figsize=(9, 0.45 * len(rows) + 1.6))
    colors = ["#2a7" if s >= 1 else "#c53" for s in speedups]
    ax.barh(labels, speedups, color=colors)
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_xlabel("fastest peer's time / tarnwick's time (right of 1: tarnwick is faster)")
    for y, s in enumerate(speedups):
        ax.text(s, y, f" {s:.2f}x", va="center", fontsize=8)
    versions = ", ".join(f"{k} {machine[k]}" for k in ("python", "pandas", "pyarrow") if k in machine)
    ax.set_title(f"tarnwick against pandas and pyarrow, single-threaded and all threads\n"
                 f"{machine.get('cpu', '')}, {machine.get('cores')} cores, {versions}, {machine['date']}",
                 fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
