"""The benchmark's table and chart."""

PEERS = ("pandas", "pyarrow-1t", "pyarrow", "numpy")


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
            rows = f"{entry.get('table_rows', entry['rows']):,}" if first else ""
            flag = "" if v["agrees"] else "  (result differs: not counted)"
            lines.append(f"{label:28} {rows:>10}  {system:11} {v['seconds'] * 1e3:8.1f}ms "
                         f"{throughput_text(v['throughput'], entry['unit']):>16} {ratio:>14} "
                         f"{v['faults']:>9,}{flag}")
            first = False
    return "\n".join(lines)


def chart(results, path, machine):
    """For each task, how many times faster tarnwick is than each peer (log
    scale; a bar left of 1 means the peer is faster)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator

    entries = [e for e in results if "tarnwick" in e.get("systems", {})]
    if not entries:
        return
    peers = [p for p in PEERS if any(p in e["systems"] for e in entries)]
    colors = {"pandas": "#4c72b0", "pyarrow-1t": "#dd8452", "pyarrow": "#55a868",
              "numpy": "#8172b3"}
    height = 0.8 / max(1, len(peers))
    fig, ax = plt.subplots(figsize=(10, 0.55 * len(entries) * max(1, len(peers)) / 2 + 1.8))
    labels = []
    for row, entry in enumerate(reversed(entries)):
        ours = entry["systems"]["tarnwick"]["seconds"]
        labels.append(f"{entry['task']} ({entry.get('table_rows', entry['rows']):,} rows)")
        for k, peer in enumerate(peers):
            v = entry["systems"].get(peer)
            if v is None or not v["agrees"]:
                continue
            speedup = v["seconds"] / ours
            y = row + (k - (len(peers) - 1) / 2) * height
            ax.barh(y, speedup, height=height, color=colors[peer], label=peer if row == 0 else None)
            ax.text(speedup, y, f" {speedup:.1f}x", va="center", fontsize=7)
    ax.set_yticks(range(len(labels)), labels)
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ticks = [t for t in (0.25, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500) if t]
    ax.xaxis.set_major_locator(FixedLocator(ticks))
    ax.xaxis.set_minor_locator(NullLocator())
    ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}x"))
    ax.set_xlabel("peer's time / tarnwick's time (right of 1: tarnwick is faster)")
    ax.legend(loc="upper left", bbox_to_anchor=(1.0, 1.0), fontsize=8)
    versions = ", ".join(f"{k} {machine[k]}" for k in ("python", "numpy", "pandas", "pyarrow")
                         if k in machine)
    ax.set_title(f"tarnwick (one thread) against pandas and pyarrow (one thread, all threads)\n"
                 f"{machine.get('cpu', '')}, {machine.get('cores')} cores, {versions}, "
                 f"{machine['date']}", fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


# -- reading float columns of each width -------------------------------------------

WIDTH_GOAL = 1.25  # time per byte at the widest, at most this times that at the narrowest


def width_entries(results):
    """The reads of float columns, narrowest first: (columns, entry)."""
    found = []
    for entry in results:
        name = entry.get("task", "")
        if name.startswith("read_csv, ") and name.endswith(" floats"):
            found.append((int(name.split()[1]), entry))
    return sorted(found, key=lambda pair: pair[0])


def width_table(results):
    """Throughput per byte of each system against the number of float columns,
    and how tarnwick's time per byte at each width compares with its
    narrowest."""
    found = width_entries(results)
    if not found:
        return ""
    systems = [s for s in ("tarnwick", "pyarrow-1t", "pyarrow")
               if all(s in e["systems"] for _, e in found)]
    lines = [f"{'float columns':>13} {'rows':>9} " + " ".join(f"{s:>11}" for s in systems)
             + f" {'time per byte':>14}"]
    base = found[0][1]["systems"]["tarnwick"]["throughput"]
    for width, entry in found:
        values = [entry["systems"][s]["throughput"] for s in systems]
        own = entry["systems"]["tarnwick"]["throughput"]
        rows = entry.get("table_rows", entry["rows"])
        lines.append(f"{width:>13} {rows:>9,} " + " ".join(f"{v:>6,.0f} MB/s" for v in values)
                     + f" {base / own:>13.2f}x")
    return "\n".join(lines)


def width_check(results):
    """One line: tarnwick's time per byte at the widest read against the
    narrowest, with a warning past the goal."""
    found = width_entries(results)
    if len(found) < 2:
        return ""
    (narrow, first), (wide, last) = found[0], found[-1]
    ratio = first["systems"]["tarnwick"]["throughput"] / last["systems"]["tarnwick"]["throughput"]
    verdict = "holds" if ratio <= WIDTH_GOAL else "WARNING: missed"
    return (f"width check: reading {wide} float columns takes {ratio:.2f}x the time per byte of "
            f"{narrow} (goal: at most {WIDTH_GOAL}x): {verdict}")


def width_chart(results, path, machine):
    """Throughput per byte of text against the number of float columns."""
    found = width_entries(results)
    if not found:
        return
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    widths = [w for w, _ in found]
    fig, ax = plt.subplots(figsize=(6.5, 4.2))
    styles = {"tarnwick": ("#c44e52", "tarnwick, 1 thread"),
              "pyarrow-1t": ("#dd8452", "pyarrow, 1 thread"),
              "pyarrow": ("#55a868", f"pyarrow, {machine.get('cores')} threads"),
              "pandas": ("#4c72b0", "pandas")}
    for system, (color, label) in styles.items():
        points = [(w, e["systems"][system]["throughput"]) for w, e in found
                  if system in e["systems"] and e["systems"][system]["agrees"]]
        if points:
            ax.plot(*zip(*points), marker="o", color=color, label=label)
    ax.set_xscale("log", base=2)
    ax.set_xticks(widths, [str(w) for w in widths])
    ax.set_ylim(bottom=0)
    ax.set_xlabel("float columns (random doubles written by repr)")
    ax.set_ylabel("MB of CSV text per second")
    mb = found[0][1]["systems"]["tarnwick"]["throughput"] * found[0][1]["systems"]["tarnwick"]["seconds"]
    ax.set_title(f"read_csv throughput against width ({mb:.0f} MB of text each)\n"
                 f"{machine.get('cpu', '')}, {machine['date']}", fontsize=9)
    ax.legend(fontsize=8, loc="upper center", bbox_to_anchor=(0.5, -0.2), ncol=4)
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
