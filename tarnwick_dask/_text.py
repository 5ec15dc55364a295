"""The record structure of CSV bytes, as tarnwick's reader sees it.

Only four bytes mean anything: comma, double quote, LF and CR. A quote opens
a quoted field only at a field's first byte; anywhere else in an unquoted
field it is content. Inside a quoted field, a quote is either the first of a
doubled pair or the closing quote, which must be followed by a comma, a line
end or the end of the text.

The tokenizer states used here:

    RECORD  at the start of a record (after a line end, or at the text start)
    FIELD   at the start of a field that is not a record's first (after a comma)
    BARE    inside an unquoted field
    QUOTED  inside a quoted field
    CLOSING just after a quote inside a quoted field (closing, or half a pair)
    AFTER_CR just after a CR that ended a record (an LF here belongs to it)

The functions work on any object with ``find`` and indexing over bytes (bytes,
bytearray, mmap). They walk quote by quote with ``find`` (memchr), so they cost
about one Python step per quote byte: they serve the header, the stretch after
a cut that proved to lie inside a quoted field, and error lines, never the
bulk of the text.
"""

import re

import numpy as np

RECORD, FIELD, BARE, QUOTED, CLOSING, AFTER_CR = range(6)

QUOTE, COMMA, LF, CR = 0x22, 0x2C, 0x0A, 0x0D
_FIELD_ENDS = (COMMA, LF, CR)
BOM = b"\xef\xbb\xbf"


class QuoteFailure(Exception):
    """Text after a closing quote, at byte ``position`` (the closing quote)."""

    def __init__(self, position):
        super().__init__(position)
        self.position = position


def _next_line_end(buf, pos, end):
    """The first LF or CR in [pos, end), or -1."""
    lf = buf.find(b"\n", pos, end)
    cr = buf.find(b"\r", pos, lf if lf >= 0 else end)
    return cr if cr >= 0 else lf


def count_byte(buf, byte, start, end):
    """How many times ``byte`` occurs in buf[start:end]; an mmap has no
    ``count``, so it is counted through numpy without a copy."""
    if hasattr(buf, "count"):
        return buf.count(bytes((byte,)), start, end)
    import numpy as np

    view = np.frombuffer(buf, dtype=np.uint8, count=max(end - start, 0), offset=start)
    return int(np.count_nonzero(view == byte))


def after_line_end(buf, position, end):
    """The position after the line end whose first byte is at ``position``:
    CR LF is one line end."""
    if buf[position] == CR and position + 1 < end and buf[position + 1] == LF:
        return position + 2
    return position + 1


def record_start(buf, pos, state, end):
    """The first position at or after ``pos`` where a record starts, given the
    tokenizer's state at ``pos``; ``end`` if the text ends first (also inside
    an unclosed quoted field). Raises QuoteFailure for text after a closing
    quote."""
    while True:
        if state == RECORD:
            return pos
        if state == AFTER_CR:
            return pos + 1 if pos < end and buf[pos] == LF else pos
        if pos >= end:
            return end
        if state == FIELD:
            if buf[pos] == QUOTE:
                state, pos = QUOTED, pos + 1
            else:
                state = BARE
            continue
        if state == BARE:
            # Quotes inside an unquoted field are content, and only a quote at
            # a field start opens a quoted field: walk the quotes before the
            # line end and stop at the first one that follows a comma.
            line_end = _next_line_end(buf, pos, end)
            limit = end if line_end < 0 else line_end
            q = buf.find(b'"', pos, limit)
            while q >= 0 and buf[q - 1] != COMMA:
                q = buf.find(b'"', q + 1, limit)
            if q >= 0:
                state, pos = QUOTED, q + 1
                continue
            if line_end < 0:
                return end
            return after_line_end(buf, line_end, end)
        if state == QUOTED:
            q = buf.find(b'"', pos, end)
            if q < 0:
                return end
            state, pos = CLOSING, q + 1
            continue
        # CLOSING
        byte = buf[pos]
        if byte == QUOTE:
            state, pos = QUOTED, pos + 1
        elif byte == COMMA:
            state, pos = FIELD, pos + 1
        elif byte == LF:
            return pos + 1
        elif byte == CR:
            state, pos = AFTER_CR, pos + 1
        else:
            raise QuoteFailure(pos - 1)


def state_at(buf, pos, state, end):
    """The tokenizer's state at ``end`` after reading [pos, end) from
    ``state``. Raises QuoteFailure for text after a closing quote."""
    if end - pos <= _LONG:
        return _state_at_walk(buf, pos, state, end)
    # A megabyte at a time: numpy's arrays stay in the cache, and the state at
    # each piece's end is where the next piece starts.
    while pos < end:
        stop = min(pos + _PIECE, end)
        state = _state_at_vectorized(buf, pos, state, stop)
        pos = stop
    return state


# Stretches longer than this are read through numpy rather than quote by
# quote in Python, in pieces of _PIECE bytes.
_LONG = 1 << 16
_PIECE = 1 << 20


def _state_at_walk(buf, pos, state, end):
    if pos >= end:
        return state
    if state == AFTER_CR:
        if buf[pos] == LF:
            pos += 1
        state = RECORD
    if state == CLOSING:
        byte = buf[pos]
        if byte == QUOTE:
            state, pos = QUOTED, pos + 1
        elif byte in _FIELD_ENDS:
            state = BARE  # the field ended; its end byte is read below
        else:
            raise QuoteFailure(pos - 1)
    inside = state == QUOTED
    field_start = state in (RECORD, FIELD)
    start = pos
    while True:
        q = buf.find(b'"', pos, end)
        if q < 0:
            break
        if not inside:
            at_field_start = (field_start and q == start) or (q > start and buf[q - 1] in _FIELD_ENDS)
            inside = at_field_start
            pos = q + 1
            continue
        if q + 1 >= end:
            return CLOSING
        byte = buf[q + 1]
        if byte == QUOTE:
            pos = q + 2
        elif byte in _FIELD_ENDS:
            inside, pos = False, q + 1
        else:
            raise QuoteFailure(q)
    if inside:
        return QUOTED
    if start == end:
        return state
    last = buf[end - 1]
    if last == LF:
        return RECORD
    if last == CR:
        return AFTER_CR
    if last == COMMA:
        return FIELD
    return BARE


_FIELD_END = re.compile(rb"[,\r\n]")


def record_fields(buf, pos, end):
    """(where the next record starts, how many fields) of the record that
    starts at ``pos``; None when ``end`` comes first. Raises QuoteFailure."""
    fields = 1
    while True:
        if pos >= end:
            return None
        if buf[pos] == QUOTE:
            q = pos + 1
            while True:
                q = buf.find(b'"', q, end)
                if q < 0 or q + 1 >= end:
                    return None
                if buf[q + 1] != QUOTE:
                    break
                q += 2
            byte = buf[q + 1]
            if byte == COMMA:
                fields, pos = fields + 1, q + 2
                continue
            if byte in (LF, CR):
                return after_line_end(buf, q + 1, end), fields
            raise QuoteFailure(q)
        found = _FIELD_END.search(buf, pos, end)
        if found is None:
            return None
        j = found.start()
        if buf[j] == COMMA:
            fields, pos = fields + 1, j + 1
            continue
        return after_line_end(buf, j, end), fields


def plausible(buf, pos, end, columns, records=3):
    """Whether the next few records from ``pos`` parse with the header's
    field count; blank lines pass. Cannot tell past ``end``: the records
    checked so far decide."""
    checked = 0
    while checked < records:
        try:
            found = record_fields(buf, pos, end)
        except QuoteFailure:
            return False
        if found is None:
            return True
        following, fields = found
        blank = fields == 1 and buf[pos] in (LF, CR)
        if not blank:
            if fields != columns:
                return False
            checked += 1
        pos = following
    return True


def guess_record_start(read, position, size, columns, window=1 << 18, candidates=64):
    """Where records are guessed to start at or after ``position``: after the
    first line end from which the next records parse with the header's field
    count (a line end inside a quoted field seldom gives that), else after
    the first line end. ``read(n, offset)`` returns bytes of the file."""
    if position >= size:
        return size
    chunk = read(min(window, size - position) + 1, position)
    limit = min(len(chunk), size - position)
    end = limit if position + limit >= size else len(chunk)
    first = None
    pos = 0
    for _ in range(candidates):
        i = _next_line_end(chunk, pos, limit)
        if i < 0:
            break
        start = after_line_end(chunk, i, len(chunk))
        if first is None:
            first = start
        if columns is None or plausible(chunk, start, end, columns):
            return position + start
        pos = start
    if first is not None:
        return position + first
    return first_record_start_after(read, position + limit, size)


def _state_at_vectorized(buf, pos, state, end):
    """state_at by runs of quote bytes. A run of k quotes whose first byte is
    at a field start (after a comma, a line end or the stretch's start in a
    field-start state) opens a quoted field when read outside one, and then
    leaves the reader inside it when k is odd; read inside a quoted field, a
    run leaves it inside when k is even; a run read outside that is not at a
    field start is content. So each run either keeps the state (k even),
    flips it (k odd, at a field start) or leaves the reader outside (k odd,
    elsewhere), and a prefix over the runs gives the state after each."""
    if state == AFTER_CR:
        if buf[pos] == LF:
            pos += 1
        state = RECORD
    if state == CLOSING:
        byte = buf[pos]
        if byte == QUOTE:
            state, pos = QUOTED, pos + 1
        elif byte in _FIELD_ENDS:
            state = BARE
        else:
            raise QuoteFailure(pos - 1)
    if pos >= end:
        return state
    data = np.frombuffer(buf, dtype=np.uint8, count=end - pos, offset=pos)
    quotes = np.flatnonzero(data == QUOTE)
    inside0 = state == QUOTED
    if len(quotes):
        cut = np.flatnonzero(np.diff(quotes) != 1) + 1
        starts = quotes[np.concatenate(([0], cut))]
        lengths = np.diff(np.concatenate(([0], cut, [len(quotes)])))
        before = data[np.maximum(starts - 1, 0)]
        at_field_start = (before == COMMA) | (before == LF) | (before == CR)
        at_field_start[starts == 0] = state in (RECORD, FIELD)
        odd = (lengths & 1) == 1
        flip = odd & at_field_start
        leave = odd & ~at_field_start
        runs = np.arange(len(starts))
        last_leave = np.maximum.accumulate(np.where(leave, runs, -1))
        flips = np.cumsum(flip)
        after = np.where(last_leave >= 0, (flips - flips[np.maximum(last_leave, 0)]) & 1,
                         (flips + inside0) & 1).astype(bool)
        after[leave] = False
        inside = np.concatenate(([inside0], after[:-1]))
        closing = (inside & odd) | (~inside & at_field_start & ~odd)
        ends = starts + lengths
        checked = closing & (ends < len(data))
        following = data[np.minimum(ends, len(data) - 1)]
        bad = checked & (following != COMMA) & (following != LF) & (following != CR)
        if bad.any():
            first = int(np.flatnonzero(bad)[0])
            raise QuoteFailure(pos + int(ends[first]) - 1)
        if closing[-1] and ends[-1] == len(data):
            return CLOSING
        if after[-1]:
            return QUOTED
    elif inside0:
        return QUOTED
    last = data[-1]
    if last == LF:
        return RECORD
    if last == CR:
        return AFTER_CR
    if last == COMMA:
        return FIELD
    return BARE


def first_record_start_after(read, position, size, window=1 << 16):
    """The position after the first line end at or after ``position``
    (CR LF as one), or ``size``: where a record starts if that line end lies
    outside any quoted field. ``read(n, offset)`` returns bytes of the file."""
    pos = position
    while pos < size:
        chunk = read(min(window, size - pos) + 1, pos)
        if not chunk:
            return size
        # The extra byte shows whether a CR at the window's end has an LF.
        limit = min(len(chunk), size - pos)
        i = _next_line_end(chunk, 0, limit)
        if i >= 0:
            return pos + after_line_end(chunk, i, len(chunk))
        pos += limit
        window *= 2
    return size


def count_lines(buf, start, end):
    """Line ends in [start, end), which starts at a record start: every LF
    (inside quotes too), and every CR that ends a record without an LF after
    it (a CR inside quotes is no line end)."""
    lines = count_byte(buf, LF, start, end)
    cr = buf.find(b"\r", start, end)
    if cr < 0:
        return lines
    # Lone CRs end a record outside a quoted field and nothing inside one.
    pos, state = start, RECORD
    while cr >= 0:
        state = state_at(buf, pos, state, cr)
        pos = cr
        if state != QUOTED and (cr + 1 >= end or buf[cr + 1] != LF):
            lines += 1
        cr = buf.find(b"\r", cr + 1, end)
    return lines
