"""Reading CSV files as blocks, each with tarnwick, so that the blocks
together give exactly what one read of each whole file gives.

A block is a byte range of a file. Its records run from the first record
start at or after its first byte to the first record start at or after the
next block's first byte. A record starts after a line end that lies outside
any quoted field, which only the tokenizer's state there can tell; so:

1. Each block is read at once on a guess: its records start after the first
   line end at or after its first byte from which the next few records parse
   with the header's field count (a line end inside a quoted field seldom
   gives that); a memchr search and a few records' worth of Python. It is
   read with the file's header in front, by tarnwick, and the chain of
   operations runs on the frame it gives.
2. A read that starts at a true record start shows whether the guess for its
   end held: tarnwick reports a quoted field never closed exactly when the
   text ends inside one. A barrier walks each file's blocks in order from
   the file's start, keeps every guess so confirmed, and only where a guess
   failed runs the tokenizer's state machine (quote by quote, or by runs of
   quotes through numpy) from the last confirmed state to find the true
   record start. It reads those blocks again for their kinds and status,
   gives every column the kind that all its fields give (i64, else f64,
   else str), and decides the failure one read of the file would report
   (its line counted from the file's start, the file named in a note).
3. A block whose range changed, or whose own kinds differ, is read again
   (and the chain run again); to force the kinds, the text gets one more
   record (0.5 makes a column f64, x makes it str, an empty field changes
   nothing), whose row is dropped: a value is never converted from another
   kind, so 007 and -0 keep the texts' meaning.
"""

import dataclasses
import re

import tarnwick

from . import _ops, _text
from ._files import Reader
from ._frames import KIND_RANK, names_text
from ._pieces import Failure, Piece
from ._threads import owns_frames

_STATUS = [
    (re.compile(r"line (\d+): (a quoted field is never closed)\Z"), "open"),
    (re.compile(r"line (\d+): (text after a closing quote)\Z"), "quote"),
    (re.compile(r"line (\d+): (\d+ fields; the header has \d+)\Z", re.S), "count"),
]


@dataclasses.dataclass(frozen=True)
class Block:
    """Bytes [begin, end) of a file, the ``number``-th of its blocks."""

    index: int
    file_index: int
    file: object
    number: int
    begin: int
    end: int
    last: bool


@dataclasses.dataclass
class ReadInfo:
    """What a block read tells the barriers."""

    start: int
    stop: int
    status: str = "ok"
    line: int = 0
    text: str = ""
    kinds: tuple = ()
    names: tuple = ()
    decode: tuple = ()


@dataclasses.dataclass(frozen=True)
class Decision:
    kinds: tuple = ()
    names: tuple = ()
    failure: Failure | None = None


def blocks_of(files, blocksize):
    blocks = []
    for file_index, file in enumerate(files):
        edges = [0]
        if blocksize:
            edges += list(range(blocksize, file.size, blocksize))
        for number, begin in enumerate(edges):
            end = edges[number + 1] if number + 1 < len(edges) else file.size
            blocks.append(Block(len(blocks), file_index, file, number, begin, end, number + 1 == len(edges)))
    return blocks


def find_header(reader, size, window=1 << 16):
    """(start, stop, fields) of the file's header record, or None when every
    line is blank; read in growing windows from the file's start. ``fields``
    is None for a header that holds a quote failure."""
    pos = 0
    if reader.read(3, 0) == _text.BOM:
        pos = 3
    nonblank = re.compile(rb"[^\r\n]")
    while pos < size:
        chunk = reader.read(min(window, size - pos), pos)
        found = nonblank.search(chunk)
        if found:
            pos += found.start()
            break
        pos += len(chunk)
        window *= 2
    else:
        return None
    start, window = pos, 1 << 16
    while True:
        chunk = reader.read(min(window, size - start) + 1, start)
        complete = start + len(chunk) >= size
        try:
            found = _text.record_fields(chunk, 0, len(chunk))
        except _text.QuoteFailure as failure:
            return start, start + failure.position + 2, None
        if found is not None and found[0] < len(chunk):
            return start, start + found[0], found[1]
        if complete:
            # The header is the whole rest of the file.
            return start, size, None
        window *= 2


def _guess_range(block, reader, header):
    size = block.file.size
    columns = header[2] if header is not None else None
    start = 0 if block.number == 0 else _text.guess_record_start(reader.read, block.begin, size, columns)
    stop = size if block.last else _text.guess_record_start(reader.read, block.end, size, columns)
    if header is not None:
        if block.number > 0:
            start = max(start, header[1])
        stop = max(stop, header[1])
    return start, max(start, stop)


def _assemble(reader, block, header, start, stop, sentinel):
    """The text tarnwick reads: the header's bytes (for a block after the
    first), the block's records, and the sentinel record if any."""
    prefix = reader.read(header[1], 0) if block.number > 0 and header is not None else b""
    length = stop - start
    buf = bytearray(len(prefix) + length)
    buf[:len(prefix)] = prefix
    reader.read_into(memoryview(buf)[len(prefix):], start)
    if sentinel:
        if buf and buf[-1] not in (_text.LF, _text.CR):
            buf += b"\n"
        buf += sentinel
    return buf, len(prefix)


@owns_frames
def read_block(block, tail, index, cuts=None, forced=None, own=None):
    """Read one block (its guessed range, or ``cuts``), run the chain on it,
    and return a Piece with the terminal's value and a ReadInfo. ``forced``
    (with ``own``, the kinds the block gives alone) makes it read with those
    kinds."""
    with Reader(block.file) as reader:
        header = find_header(reader, block.file.size)
        start, stop = cuts if cuts is not None else _guess_range(block, reader, header)
        info = ReadInfo(start, stop)
        sentinel = _sentinel(own, forced) if forced is not None else b""
        buf, prefix = _assemble(reader, block, header, start, stop, sentinel)
    try:
        text = buf.decode("utf-8")
    except UnicodeDecodeError as error:
        at = error.start if error.start < prefix else start + error.start - prefix
        info.status, info.decode = "decode", (at, bytes(buf[error.start:error.end]), error.reason)
        return Piece(info=info)
    del buf
    frame, message = _read(text)
    del text
    if frame is None:
        info.status, info.text = "other", message
        if message == "no header line":
            info.status = "noheader"
        elif message.startswith("the frame has a column "):
            info.status = "names"
        elif message == "the text is over 4 GB":
            info.status = "size"
        else:
            for pattern, status in _STATUS:
                if m := pattern.match(message):
                    info.status, info.line, info.text = status, int(m.group(1)), m.group(2)
        return Piece(info=info)
    if forced is not None:
        frame = frame.head(-1)
    info.kinds, info.names = tuple(frame.dtypes()), tuple(frame.names())
    piece = finish(frame, tail, index)
    piece.info = info
    return piece


def _read(text):
    try:
        return tarnwick.read_csv(text), None
    except ValueError as error:
        return None, str(error)


def finish(frame, tail, index, rows=None, pending=()):
    """Run the chain on a partition's frame and apply the terminal step."""
    rows = {} if rows is None else dict(rows)
    frame, failure = _ops.run(frame, tail.ops, rows)
    if failure is not None:
        return Piece(None, failure, rows, pending)
    try:
        value = tail.terminal(frame, index)
    except TerminalFailure as refusal:
        return Piece(None, refusal.failure, rows, pending)
    return Piece(value, None, rows, pending)


class TerminalFailure(Exception):
    """A terminal step's refusal of the partition (a grouping's unknown key,
    say), carried as a Failure."""

    def __init__(self, failure):
        super().__init__(failure)
        self.failure = failure


def _sentinel(own, forced):
    fields = []
    for have, want in zip(own, forced):
        if have == want:
            fields.append("")
        elif want == "f64":
            fields.append("0.5")
        else:
            fields.append("x")
    return (",".join(fields) + "\n").encode()


def info_of(piece):
    return piece.info


def plan_cuts(blocks, *infos):
    """Barrier 1: the true record ranges of every block, as (start, stop) by
    block index. Guesses confirmed by the reads are kept; the state machine
    runs only from where a guess failed."""
    cuts = {}
    for file_blocks in _by_file(blocks):
        file = file_blocks[0].file
        reader, buf = None, None
        cut = 0
        for block in file_blocks:
            info = infos[block.index]
            start, stop = info.start, info.stop
            if cut == start and not (info.status == "open" and stop < file.size):
                following = stop
            else:
                if buf is None:
                    reader = Reader(file)
                    buf = reader.buffer()
                following = _true_record_start(buf, cut, start, stop, info, file.size)
            following = max(following, cut)
            cuts[block.index] = (cut, following)
            cut = following
        if reader is not None:
            buf = None
            reader.close()
    return cuts


def _true_record_start(buf, cut, start, stop, info, size):
    """The first record start at or after ``stop``, knowing that a record
    starts at ``cut``."""
    try:
        if cut == start:
            # The read from a true start ended inside a quoted field.
            return _text.record_start(buf, stop, _text.QUOTED, size)
        if stop <= cut:
            return cut
        state = _text.state_at(buf, cut, _text.RECORD, stop)
        return _text.record_start(buf, stop, state, size)
    except _text.QuoteFailure as failure:
        # The file fails there; any range holding the quote reports it.
        return min(failure.position + 2, size)


def _by_file(blocks):
    groups = {}
    for block in blocks:
        groups.setdefault(block.file_index, []).append(block)
    return [groups[k] for k in sorted(groups)]


@dataclasses.dataclass(frozen=True)
class Layout:
    """What the barrier of a read decides: every block's record range, the
    kinds the blocks whose range changed give alone, and the read's kinds
    (or failure)."""

    cuts: dict
    own: dict
    decision: Decision


@dataclasses.dataclass(frozen=True)
class _ProbeTail:
    """No operations, and a terminal that keeps nothing: the barrier reads a
    block only for its status and kinds."""

    ops: tuple = ()

    @staticmethod
    def terminal(frame, index):
        return None


_PROBE_TAIL = _ProbeTail()


def layout(blocks, *infos):
    """The barrier of a read: the true record ranges (plan_cuts), a block
    whose range changed read again here for its status and kinds (rare:
    only where a guess failed), and the kinds and failure of the whole
    read (decide)."""
    cuts = plan_cuts(blocks, *infos)
    final = list(infos)
    own = {}
    for block in blocks:
        info = infos[block.index]
        if (info.start, info.stop) != cuts[block.index]:
            final[block.index] = read_block(block, _PROBE_TAIL, block.index, cuts=cuts[block.index]).info
            own[block.index] = final[block.index].kinds
    return Layout(cuts, own, decide(blocks, *final))


_ORDER = ("decode", "size", "quote", "open", "noheader", "count", "names", "other")


def decide(blocks, *infos):
    """Barrier 2: every column's kind over all files, or the failure one read
    of the first failing file reports (files in order)."""
    kinds, first_names, first_path = None, None, None
    for file_blocks in _by_file(blocks):
        file = file_blocks[0].file
        file_infos = [(b, infos[b.index]) for b in file_blocks]
        failure = _file_failure(file, file_infos)
        if failure is not None:
            return Decision(failure=failure)
        names = next(i.names for _, i in file_infos if i.status == "ok")
        if first_names is None:
            first_names, first_path = names, file.path
        elif names != first_names:
            message = (f"the header of {file.path} ({names_text(names)}) differs from "
                       f"the header of {first_path} ({names_text(first_names)})")
            return Decision(failure=Failure.value_error(0, message))
        for _, info in file_infos:
            if kinds is None:
                kinds = list(info.kinds)
            else:
                kinds = [max(a, b, key=KIND_RANK.__getitem__) for a, b in zip(kinds, info.kinds)]
    return Decision(tuple(kinds), tuple(first_names))


def _file_failure(file, file_infos):
    note = (f"while reading {file.path}",)
    failing = [(b, i) for b, i in file_infos if i.status != "ok"]
    if not failing:
        return None
    status = min((i.status for _, i in failing), key=_ORDER.index)
    if status in ("quote", "open"):
        block, info = next((b, i) for b, i in failing if i.status in ("quote", "open"))
    else:
        block, info = next((b, i) for b, i in failing if i.status == status)
    if status == "decode":
        at, data, reason = info.decode
        error = Failure(0, "UnicodeDecodeError", ("utf-8", data, 0, len(data), reason),
                        note + (f"at byte {at}",))
        return error
    if status in ("quote", "open", "count"):
        line = info.line
        if block.number > 0:
            with Reader(file) as reader:
                buf = reader.buffer()
                header = find_header(reader, file.size)
                line += _text.count_lines(buf, header[1], info.start)
                buf = None
        return Failure.value_error(0, f"line {line}: {info.text}", note)
    return Failure.value_error(0, info.text, note)


def fix(piece, plan, block, tail, index):
    """The block's final piece: as read, or read again over its true range
    or with the kinds of the whole read."""
    decision = plan.decision
    if decision.failure is not None:
        return Piece(failure=decision.failure)
    info = piece.info
    cuts = plan.cuts[block.index]
    own = plan.own.get(block.index, info.kinds)
    if (info.start, info.stop) == cuts and own == decision.kinds:
        return Piece(piece.value, piece.failure, piece.rows, piece.pending)
    forced = decision.kinds if own != decision.kinds else None
    again = read_block(block, tail, index, cuts=cuts, forced=forced, own=own)
    again.info = None
    return again
